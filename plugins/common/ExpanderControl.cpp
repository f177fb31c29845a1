#include "plugins/common/ExpanderControl.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "plugins/common/Swing.h"
#include "plugins/common/TempoClock.h"

namespace {

// Clock indices are whole numbers kept in 64 bits; positions so far out
// that a double no longer holds every whole number there are not clocked.
constexpr double kMaxClockIndex = 4503599627370496.0; // 2^52

bool ToClockIndex(double x, int64_t* index)
{
    if (!(std::fabs(x) < kMaxClockIndex))
        return false; // also NaN
    *index = static_cast<int64_t>(x);
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// Gate groups. audio thread

void ExpanderGateGroups::Reset()
{
    groupCount = 0;
    countdownsRun = false;
    for (Group& group : groups) {
        group = Group{};
        for (int32_t j = 0; j < 8; ++j) {
            group.triggerSamples[j] = kNoCountdown;
            group.countdown[j] = kNoCountdown;
        }
    }
}

void ExpanderGateGroups::Open(Group& group, int32_t j)
{
    group.gate[j] = 1;
    group.countdown[j] = group.triggerSamples[j];
    countdownsRun = countdownsRun || group.countdown[j] >= 0;
}

void ExpanderGateGroups::NoteOn(int32_t channel, int32_t note, int32_t velocity)
{
    for (int32_t k = 0; k < groupCount; ++k) {
        Group& group = groups[k];
        if (group.channel != channel + 1 || note < group.baseNote || note > group.baseNote + 7)
            continue;
        const int32_t j = note - group.baseNote;
        Open(group, j);
        if ((j & 1) == 0 && group.accent[j / 2] && velocity >= 64)
            Open(group, j + 1);
    }
}

void ExpanderGateGroups::NoteOff(int32_t channel, int32_t note)
{
    for (int32_t k = 0; k < groupCount; ++k) {
        Group& group = groups[k];
        if (group.channel != channel + 1 || note < group.baseNote || note > group.baseNote + 7)
            continue;
        const int32_t j = note - group.baseNote;
        group.gate[j] = 0;
        if ((j & 1) == 0 && group.accent[j / 2])
            group.gate[j + 1] = 0;
    }
}

void ExpanderGateGroups::CloseGates(int32_t channel)
{
    for (int32_t k = 0; k < groupCount; ++k)
        if (groups[k].channel == channel + 1)
            for (uint8_t& gate : groups[k].gate)
                gate = 0;
}

int32_t ExpanderGateGroups::NearestTriggerEnd() const
{
    int32_t nearest = INT32_MAX;
    for (int32_t k = 0; k < groupCount; ++k)
        for (int32_t j = 0; j < 8; ++j)
            if (groups[k].gate[j] && groups[k].countdown[j] >= 0 && groups[k].countdown[j] < nearest)
                nearest = groups[k].countdown[j];
    return nearest;
}

bool ExpanderGateGroups::CountDown(int32_t samples)
{
    bool running = false;
    bool ended = false;
    for (int32_t k = 0; k < groupCount; ++k) {
        Group& group = groups[k];
        for (int32_t j = 0; j < 8; ++j) {
            if (group.countdown[j] < 0)
                continue;
            group.countdown[j] -= samples;
            // The block is cut where an open gate's trigger ends, so such a
            // countdown lands on 0 exactly; one of a gate closed early by its
            // note off may run past 0 and just stops.
            if (group.countdown[j] <= 0) {
                group.gate[j] = 0;
                group.countdown[j] = kNoCountdown;
                ended = true;
            }
            running = running || group.countdown[j] >= 0;
        }
    }
    countdownsRun = running;
    return ended;
}

uint8_t ExpanderGateGroups::Bits(int32_t k) const
{
    if (k < 0 || k >= groupCount || groups[k].channel <= 0)
        return 0;
    // The eight flags as one word, each byte made 0 or 1 (any non-zero
    // flag counts as set), then gathered into one byte: byte j lands on
    // bit j of the top byte of the product.
    uint64_t flags;
    memcpy(&flags, groups[k].gate, sizeof flags);
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    flags = (((flags & kLow7) + kLow7) | flags) >> 7 & 0x0101010101010101ull;
    return static_cast<uint8_t>((flags * 0x0102040810204080ull) >> 56);
}

// ---------------------------------------------------------------------------
// Serial forwarding. audio thread

void ForwardToSerialLine(SerialMidiLine& line, const QZ::MessageQueueItem& item, int32_t outChannel,
                         int32_t channelise)
{
    if (item.type == QZ::MessageQueueItem::kSysEx) {
        line.Append(0xF0, item.bytes.data(), item.bytes.size());
        return;
    }
    if (item.type != QZ::MessageQueueItem::kShortMIDI)
        return;
    const uint8_t status = item.data[0] & 0xF0;
    const uint8_t low = item.data[1] & 0x0F;
    const uint8_t data1 = item.data[2] & 0x7F;
    const uint8_t data2 = item.data[3] & 0x7F;
    // A host event without a status byte would put its data bytes on the
    // line where the receiver expects a status.
    if (status < 0x80)
        return;
    if (status == 0xF0) {
        const uint8_t system = static_cast<uint8_t>(0xF0 | low);
        switch (low) {
        case 1:
        case 3: {
            const uint8_t bytes[] = {system, data1};
            line.Append(bytes, 2);
            break;
        }
        case 2: {
            const uint8_t bytes[] = {system, data1, data2};
            line.Append(bytes, 3);
            break;
        }
        case 6:
        case 8:
        case 10:
        case 11:
        case 12:
        case 14:
        case 15: line.Append(system); break;
        default: break;
        }
        return;
    }
    if (outChannel != 17 && outChannel != low + 1)
        return;
    const uint8_t channel = channelise >= 1 && channelise <= 16 ? static_cast<uint8_t>(channelise - 1) : low;
    const uint8_t bytes[] = {static_cast<uint8_t>(status | channel), data1, data2};
    line.Append(bytes, status == 0xC0 || status == 0xD0 ? 2 : 3);
}

// ---------------------------------------------------------------------------
// MIDI clock. audio thread

ExpanderMidiClock::Settings ExpanderMidiClock::MakeSettings(float clockOn, float offsetMs, float swingPercent,
                                                            float swingType)
{
    Settings s;
    s.clockOn = clockOn != 0.0f && clockOn == clockOn;
    s.offsetSeconds = std::isfinite(offsetMs) ? offsetMs * 0.001 : 0.0;
    s.swingPeriod = swingType >= 1.0f ? 24.0 : 12.0;
    s.swingPoint = -1.0;
    if (std::isfinite(swingPercent) && std::fabs(swingPercent - 50.0f) > 0.1f) {
        const double point = swingPercent * 0.01;
        s.swingPoint = point <= 0.05 ? 0.05 : (point >= 0.95 ? 0.95 : point);
    }
    return s;
}

void ExpanderMidiClock::Reset()
{
    *this = ExpanderMidiClock{};
}

void ExpanderMidiClock::BeginBlock(const VstTimeInfo* info, bool clockOn)
{
    const bool wasPlaying = playing;
    const double previous = position;
    const HostTime time = HostTimeFrom(info);
    tempo = time.tempo;
    position = time.ppq;
    playing = time.playing;

    const int32_t flags = info ? info->flags : 0;
    int32_t numerator = 4, denominator = 4;
    if ((flags & kVstTimeSigValid) && info->timeSigNumerator > 0 && info->timeSigDenominator > 0) {
        numerator = info->timeSigNumerator;
        denominator = info->timeSigDenominator;
    }
    const bool hasBarStart = (flags & kVstBarsValid) && std::isfinite(info->barStartPos);
    const bool cycleActive = (flags & kVstTransportCycleActive) && (flags & kVstCyclePosValid) &&
                             std::isfinite(info->cycleStartPos) && std::isfinite(info->cycleEndPos);

    if (!wasPlaying && playing) {
        startPending = true;
        clockCounter = 0;
        resyncPending = false;
        if (tempo > 0.0) {
            // The first clock goes out at the next bar line.
            const double barLength = numerator * 4.0 / denominator;
            double barStart = hasBarStart ? info->barStartPos : std::floor(position / barLength) * barLength;
            if (barStart != position)
                barStart += barLength;
            int64_t first = 0;
            if (clockOn && ToClockIndex(std::floor(24.0 * barStart), &first))
                clockCounter = first - 1;
        } else {
            // No tempo to aim at a bar line: the count starts over at the
            // first clock once there is one.
            resyncPending = true;
        }
    } else if (wasPlaying && playing) {
        if (previous >= position && cycleActive && clockOn && info->cycleEndPos > info->cycleStartPos) {
            int64_t loop = 0;
            if (ToClockIndex(std::trunc(24.0 * (info->cycleEndPos - info->cycleStartPos)), &loop))
                clockCounter -= loop;
        }
        // Switched on while playing: the count is stale (it stood still
        // while the clock was off) and would send a burst of doubled clocks.
        if (clockOn && !clockWasOn)
            resyncPending = true;
    } else if (wasPlaying && !playing) {
        stopPending = true;
        startPending = false;
    }
    clockWasOn = clockOn;
}

void ExpanderMidiClock::BeginClocks(SerialMidiLine& line, const Settings& blockSettings, double sampleRate,
                                    int32_t blockFrames, int32_t firstSample)
{
    settings = blockSettings;
    frames = blockFrames;
    scheduled = false;
    nextSample = INT32_MAX;
    if (stopPending) {
        if (settings.clockOn)
            line.Append(0xFC);
        stopPending = false;
    }
    if (!settings.clockOn || !(tempo > 0.0) || !playing || !(sampleRate > 0.0) || !std::isfinite(sampleRate))
        return;
    samplesPerClock = sampleRate * 2.5 / tempo;
    blockStart = position * 24.0 + settings.offsetSeconds * tempo * 0.4 + firstSample / samplesPerClock;
    if (!(samplesPerClock > 0.0) || !std::isfinite(samplesPerClock) || !(std::fabs(blockStart) < kMaxClockIndex))
        return;
    // A clock within the tolerance before the block start is on its first
    // sample (see ScheduleNext), not lost between two blocks.
    const double earliest = blockStart - kSampleTolerance / samplesPerClock;
    const double straight =
        settings.swingPoint > 0.0 ? SwingUnwarp(earliest, settings.swingPeriod, settings.swingPoint) : earliest;
    if (!ToClockIndex(std::ceil(straight), &nextClock))
        return;
    scheduled = true;
    // The count follows the position: one clock behind it, or one either
    // way where a clock falls on the block boundary. Anything else is a jump
    // of the host's position (or the clock switched on while playing): the
    // count starts over here, rather than wait in silence for the old count
    // after a jump back, or send doubled clocks to catch up after one forward.
    // Before the first clock the count waits for the bar line on purpose.
    const int64_t due = nextClock - clockCounter;
    if (resyncPending || (!startPending && (due < 0 || due > 2))) {
        clockCounter = nextClock - 1;
        resyncPending = false;
    }
    ScheduleNext();
}

void ExpanderMidiClock::ScheduleNext()
{
    const double clock = static_cast<double>(nextClock);
    const double at = settings.swingPoint > 0.0 ? SwingWarp(clock, settings.swingPeriod, settings.swingPoint) : clock;
    // The host's position carries rounding that depends on where its blocks
    // start: a clock due exactly at a sample would come out a sample early
    // in some partitions (999.9999 truncated). Far below a sample, a clock
    // this close to the next sample is taken to be on it.
    const double offset = (at - blockStart) * samplesPerClock + kSampleTolerance;
    // Beyond the block (or not a number): none in this block.
    if (!(offset < static_cast<double>(frames)))
        nextSample = INT32_MAX;
    else
        nextSample = offset > 0.0 ? static_cast<int32_t>(offset) : 0;
}

void ExpanderMidiClock::SendClock(SerialMidiLine& line)
{
    if (!scheduled)
        return;
    const int64_t due = nextClock - clockCounter;
    if (due >= 1) {
        if (startPending) {
            line.Append(0xFA);
            startPending = false;
        }
        if (due > 1) {
            const uint8_t two[] = {0xF8, 0xF8};
            line.Append(two, 2);
            clockCounter += 2;
        } else {
            line.Append(0xF8);
            clockCounter += 1;
        }
    }
    ++nextClock;
    ScheduleNext();
}

// ---------------------------------------------------------------------------
// Pins. host's UI thread

bool ExpanderPinProperties(int32_t index, int32_t count, VstPinProperties* properties)
{
    if (!properties || index < 0 || index >= count)
        return false;
    constexpr int32_t kSpeakerArrStereo = 1;
    *properties = VstPinProperties{};
    char number[16];
    snprintf(number, sizeof number, "%d", index + 1);
    memcpy(properties->label, number, strnlen(number, sizeof properties->label - 1));
    memcpy(properties->shortLabel, number, strnlen(number, sizeof properties->shortLabel - 1));
    properties->flags = kVstPinIsActive | (index % 2 == 0 ? kVstPinIsStereo : 0);
    properties->arrangementType = kSpeakerArrStereo;
    return true;
}
