// The machinery the expander controllers (Brink, Carro) share: groups of
// eight MIDI-note gates with trigger lengths and accents, the forwarding of
// MIDI to the serial line, and the MIDI clock that follows the host's tempo
// and transport (optionally swung and shifted by an offset).
//
// Audio thread: every operation here runs there (between the pieces of a
// block for MIDI, at block start for the clock); none allocates or locks.
#pragma once

#include <cstdint>

#include "framework/MessageQueue.h"
#include "framework/vst/VstAbi.h"
#include "plugins/common/ExpanderDataWords.h"

// Where a controller keeps the settings of its gate groups. Group k
// (0-based): MIDI channel at firstChannel + 2k with its base note right
// after it; trigger length of gate j at firstTrigger + 8k + j (milliseconds);
// accent m (gates 2, 4, 6, 8) at firstAccent + 4k + m.
struct ExpanderGateLayout {
    int32_t groupCount;
    int32_t firstChannel;
    int32_t firstTrigger;
    int32_t firstAccent;
};

class ExpanderGateGroups {
public:
    static constexpr int32_t kMaxGroups = 6;
    static constexpr int32_t kNoCountdown = -1;

    // Clears settings and gates.
    void Reset();

    // Reads the settings. `param(index)` gives a program value already held
    // to its range. A group whose MIDI channel changed loses its gates; the
    // rest of a group's settings are read only while its channel is above 0.
    // Trigger lengths become max(1, trunc(ms x rate / 1000)) samples, or none.
    template <class Param>
    void Refresh(const ExpanderGateLayout& layout, double sampleRate, Param&& param);

    // A note on (velocity > 0) or off on channel 0..15. A note j = note -
    // base (0..7) of a group on that channel opens or closes gate j and
    // starts its trigger countdown; with the accent of an odd gate (1, 3, 5,
    // 7 counted from 1) a velocity of 64 or more opens the gate after it too,
    // and a note off closes both.
    void NoteOn(int32_t channel, int32_t note, int32_t velocity);
    void NoteOff(int32_t channel, int32_t note);
    // Controllers 120 and 123: every gate of the groups on the channel closes.
    void CloseGates(int32_t channel);

    // Samples until the first running trigger of an open gate ends, or
    // INT32_MAX when none runs. Never 0 after Advance.
    int32_t SamplesToTriggerEnd() const { return countdownsRun ? NearestTriggerEnd() : INT32_MAX; }
    // Counts the triggers down; a trigger that ends closes its gate. True
    // when one ended (the gates may have changed).
    bool Advance(int32_t samples) { return countdownsRun && CountDown(samples); }

    // The eight gates of group k as a byte (gate j in bit j), 0 while the
    // group listens to no channel.
    uint8_t Bits(int32_t group) const;
    int32_t Channel(int32_t group) const { return groups[group].channel; }

private:
    struct Group {
        int32_t channel;  // 0 = off, 1..16
        int32_t baseNote; // 0..127
        int32_t triggerSamples[8]; // kNoCountdown = gate follows the note
        bool accent[4];
        uint8_t gate[8];
        int32_t countdown[8]; // kNoCountdown when no trigger runs
    };
    void Open(Group& group, int32_t j);
    int32_t NearestTriggerEnd() const;
    bool CountDown(int32_t samples);

    int32_t groupCount = 0;
    Group groups[kMaxGroups] = {};
    // False while no countdown runs: the per-piece scans then do nothing.
    bool countdownsRun = false;
};

// Forwards one queue-A message to the serial line (appending whole
// messages only):
// - SysEx: 0xF0 and the dump;
// - system messages: MTC quarter frame and song select with one data byte,
//   song position with two, the real-time and tune-request bytes alone;
// - channel messages when `outChannel` is 17 (omni) or the message's channel
//   + 1 (0 forwards none), rechannelled to `channelise` - 1 when that is
//   1..16; program change and channel pressure carry one data byte.
void ForwardToSerialLine(SerialMidiLine& line, const QZ::MessageQueueItem& item, int32_t outChannel,
                         int32_t channelise);

// MIDI clock (24 per quarter note) and start/stop from the host's tempo and
// transport. Per block: BeginBlock with the host's time, then BeginClocks,
// then SendClock at every sample NextClockSample names.
class ExpanderMidiClock {
public:
    struct Settings {
        bool clockOn = false;
        double offsetSeconds = 0.0; // > 0 sends every clock earlier
        double swingPoint = -1.0;   // 0.05..0.95, or below 0 for no swing
        double swingPeriod = 12.0;  // in clocks: 12 (pairs of 16ths) or 24 (8ths)
    };

    // The clock settings from the parameter values: swing is on when
    // |percent - 50| > 0.1; type 0 pairs 16ths, 1 pairs 8ths.
    static Settings MakeSettings(float clockOn, float offsetMs, float swingPercent, float swingType);

    void Reset();

    // Block start: reads the host's time (null: tempo 0, playing). A start
    // of the transport queues 0xFA and, with the clock on, aims the first
    // clock at the next bar line; a loop of the host's cycle moves the clock
    // count back by the loop's length; a stop queues 0xFC.
    void BeginBlock(const VstTimeInfo* info, bool clockOn);

    // Before the first sample of the block: sends a pending 0xFC (clock on)
    // and finds the first clock due in the block.
    // `firstSample`: where these `frames` start in the host's block.
    void BeginClocks(SerialMidiLine& line, const Settings& settings, double sampleRate, int32_t frames,
                     int32_t firstSample = 0);

    // Sample offset in the block of the next clock; INT32_MAX when none
    // falls in the block.
    int32_t NextClockSample() const { return nextSample; }

    // At NextClockSample: sends what is due (0xFA first when a start is
    // pending; two clocks when one is behind) and moves on to the next clock.
    void SendClock(SerialMidiLine& line);

    double Tempo() const { return tempo; }
    double Position() const { return position; }
    bool Playing() const { return playing; }
    bool StartPending() const { return startPending; }
    int64_t ClockCount() const { return clockCounter; }

private:
    static constexpr double kSampleTolerance = 1e-4;

    void ScheduleNext();

    // Transport, kept from block to block.
    double tempo = 0.0;
    double position = 0.0; // quarter notes
    bool playing = false;
    bool startPending = false;
    bool stopPending = false;
    bool resyncPending = false; // clock switched on while playing
    bool clockWasOn = false;
    int64_t clockCounter = 0; // index of the last clock sent

    // This block's schedule.
    bool scheduled = false;
    int64_t nextClock = 0;  // index of the next clock
    double blockStart = 0.0; // block start in clocks, the offset applied
    double samplesPerClock = 0.0;
    Settings settings;
    int32_t frames = 0;
    int32_t nextSample = INT32_MAX;
};

// ---------------------------------------------------------------------------

template <class Param>
void ExpanderGateGroups::Refresh(const ExpanderGateLayout& layout, double sampleRate, Param&& param)
{
    groupCount = layout.groupCount < 0 ? 0 : (layout.groupCount > kMaxGroups ? kMaxGroups : layout.groupCount);
    for (int32_t k = 0; k < groupCount; ++k) {
        Group& group = groups[k];
        const auto channel = static_cast<int32_t>(param(layout.firstChannel + 2 * k));
        if (channel != group.channel) {
            group.channel = channel;
            for (uint8_t& gate : group.gate)
                gate = 0;
        }
        if (group.channel <= 0)
            continue;
        group.baseNote = static_cast<int32_t>(param(layout.firstChannel + 2 * k + 1));
        for (int32_t j = 0; j < 8; ++j) {
            const double ms = param(layout.firstTrigger + 8 * k + j);
            if (!(ms > 0.0)) {
                group.triggerSamples[j] = kNoCountdown;
                continue;
            }
            // A rate that is not usable still gives the shortest trigger.
            const double samples = ms * sampleRate * 0.001;
            group.triggerSamples[j] =
                samples >= 1.0 ? (samples < 2147483647.0 ? static_cast<int32_t>(samples) : INT32_MAX) : 1;
        }
        for (int32_t m = 0; m < 4; ++m)
            group.accent[m] = param(layout.firstAccent + 4 * k + m) != 0.0f;
    }
}

// The pins of an expander controller: "1", "2", .. as label and short label,
// every pin active, pins 0, 2, .. the left of a stereo pair. False for an
// index outside 0..count-1 or a null record.
bool ExpanderPinProperties(int32_t index, int32_t count, VstPinProperties* properties);
