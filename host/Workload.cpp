#include "host/Workload.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <stdexcept>

#include "host/ParameterValue.h"

namespace corvane::host {

namespace {

// Notes: one every 6000 frames (an eighth at 120 BPM and 48 kHz), held for
// 4000, channel 1, cycling through these notes and velocities.
constexpr int32_t kNoteEvery = 6000;
constexpr int32_t kNoteLength = 4000;
constexpr uint8_t kNotes[] = {60, 64, 67, 72, 55, 60, 48, 62};
constexpr uint8_t kVelocities[] = {100, 80, 127, 64, 90};
constexpr int32_t kMaxEventsPerBlock = 4;

float InputSample(InputSignal signal, int32_t channel, double seconds)
{
    constexpr double kTwoPi = 2 * std::numbers::pi;
    switch (signal) {
    case InputSignal::kSlow:
        return static_cast<float>(0.3 + 0.5 * std::sin(kTwoPi * (1 + channel) * seconds));
    case InputSignal::kTone:
        return static_cast<float>(0.3 * std::sin(kTwoPi * 200 * (1 + channel) * seconds));
    case InputSignal::kCarrier:
        return static_cast<float>((0.5 + 0.3 * std::sin(kTwoPi * 2 * seconds + channel))
                                  * std::sin(kTwoPi * 17000 * seconds));
    }
    return 0;
}

} // namespace

const std::vector<EntryWorkload>& EntryWorkloads()
{
    using S = InputSignal;
    static const std::vector<EntryWorkload> kWorkloads = {
        // DC: both input paths, L low-passed, R slewed.
        {"QZs0", S::kSlow, {{0, "0.5"}, {2, "2"}, {3, "0.25"}, {4, "0.5"}, {5, "0.3"}, {8, "0.1"}, {9, "1"},
                            {11, "-20"}, {12, "20"}},
         {{2, "-1"}, {12, "5"}}},
        // Voice Controller (effect): notes with detune and a pitch LFO.
        {"QZs1", S::kSlow, {{9, "10"}, {10, "20"}, {13, "0.01"}, {15, "0.05"}}, {{10, "0"}, {24, "0.8"}}},
        // LFO: mixed shapes, R locked to the transport, both smoothed.
        {"QZs2", S::kSlow, {{9, "1"}, {11, "0.5"}, {27, "1"}, {20, "@1"}, {35, "5"}, {36, "-5"}},
         {{1, "2"}, {12, "1"}}},
        // Trigger (instrument): envelope output.
        {"QZs3", S::kSlow, {{1, "Envelope"}, {8, "0.02"}, {10, "0.05"}, {23, "2"}}, {{19, "0.8"}}},
        // CV Input: L decodes the carrier, R runs the Tessel decoder.
        {"QZs4", S::kCarrier, {{2, "0.5"}, {5, "-10"}, {6, "@1"}, {7, "0.5"}, {10, "-10"}}, {{4, "2"}}},
        // CV To OSC: sending stays off (no network here).
        {"QZs5", S::kSlow, {}, {}},
        // Step LFO: steps, linear interpolation, swing and smoothing.
        {"QZs6", S::kSlow,
         {{43, "0.5"}, {44, "-0.5"}, {45, "1"}, {46, "0.25"}, {47, "-1"}, {48, "0.75"}, {17, "@1"}, {19, "5"},
          {20, "62"}, {40, "-5"}},
         {{44, "0.9"}, {2, "2"}}},
        // CV To MIDI: no MIDI device here; the block path still runs.
        {"QZs7", S::kSlow, {{3, "On"}, {7, "On"}}, {}},
        // Quantizer: both channels quantised, L to a scale, R smoothed.
        {"QZs8", S::kSlow, {{1, "On"}, {8, "On"}, {15, "On"}, {14, "5"}}, {{3, "12"}}},
        // AC Encoder: both channels.
        {"QZs9", S::kSlow, {{1, "On"}, {5, "On"}, {8, "0.5"}}, {{6, "@1"}}},
        // Voice Controller (instrument).
        {"QZsa", S::kSlow, {{9, "10"}, {10, "20"}, {13, "0.01"}, {15, "0.05"}}, {{10, "0"}, {24, "0.8"}}},
        // SMUX: R flipped.
        {"QZsb", S::kSlow, {{1, "On"}}, {{0, "On"}}},
        // Brink (instrument and effect): notes on channel 1, inputs 1 and 2.
        {"QZsc", S::kSlow, {{46, "@1"}, {47, "@1"}}, {{8, "36"}}},
        {"QZsd", S::kSlow, {{46, "@1"}, {47, "@1"}}, {{8, "36"}}},
        // Sync (instrument and effect): swung clock.
        {"QZse", S::kSlow, {{3, "60"}, {6, "@0.3"}}, {{3, "50"}}},
        {"QZsf", S::kSlow, {{3, "60"}, {6, "@0.3"}}, {{3, "50"}}},
        // AC Encoder (6 channels): all six.
        {"QZs(", S::kSlow, {{1, "On"}, {5, "On"}, {9, "On"}, {13, "On"}, {17, "On"}, {21, "On"}}, {{4, "0.5"}}},
        // Carro (instrument and effect): gates from channel 1.
        {"QZsg", S::kSlow, {{8, "@0.1"}}, {{9, "60"}}},
        {"QZsh", S::kSlow, {{8, "@0.1"}}, {{9, "60"}}},
        // Dunmore: every filter on.
        {"QZsi", S::kSlow, {{13, "@1"}, {14, "@1"}, {15, "@1"}, {16, "@1"}}, {{2, "0.25"}}},
        // Follower: pitch and envelope, L smoothed.
        {"QZsj", S::kTone, {{11, "20"}, {12, "-20"}}, {{3, "6"}}},
        // Learner, Soundplane: what runs without a network peer.
        {"QZsk", S::kSlow, {}, {}},
        {"QZsl", S::kSlow, {{37, "5"}}, {}},
        // Trigger (effect): gate from the CV input.
        {"QZsm", S::kSlow, {{1, "@1"}, {25, "On"}, {26, "0.5"}}, {{26, "0.2"}}},
        // Function: both channels, two curves.
        {"QZsn", S::kSlow, {{1, "On"}, {2, "@0.5"}, {7, "On"}, {8, "@1"}}, {{2, "@0"}}},
    };
    return kWorkloads;
}

WorkloadRun::WorkloadRun(Module& module, const EntryWorkload& workload, double sampleRate, int32_t maxBlock,
                         bool logCalls)
    : workload(workload), period(static_cast<int32_t>(sampleRate)), maxBlock(maxBlock)
{
    const int32_t id = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint8_t>(workload.id[0])) << 24
                                            | static_cast<uint32_t>(static_cast<uint8_t>(workload.id[1])) << 16
                                            | static_cast<uint32_t>(static_cast<uint8_t>(workload.id[2])) << 8
                                            | static_cast<uint8_t>(workload.id[3]));
    HostOptions options;
    options.logCalls = logCalls;
    plugin = Plugin::Create(module, id, options);
    if (!plugin)
        throw std::runtime_error(std::string("the module gives no plug-in ") + workload.id);
    plugin->Start(sampleRate, maxBlock);
    Transport time = plugin->TimeNow();
    time.sampleRate = sampleRate;
    time.tempo = 120;
    time.playing = true;
    plugin->SetTime(time);
    Apply(workload.start);

    const int32_t numInputs = std::max(plugin->NumInputs(), 2);
    inputs.assign(numInputs, std::vector<float>(static_cast<size_t>(period + maxBlock)));
    for (int32_t c = 0; c < numInputs; ++c)
        for (int32_t i = 0; i < period + maxBlock; ++i)
            inputs[c][i] = InputSample(workload.input, c, static_cast<double>(i % period) / sampleRate);
    blockInputs.assign(numInputs, std::vector<float>(static_cast<size_t>(maxBlock)));
    outputs.assign(std::max(plugin->NumOutputs(), 0), std::vector<float>(static_cast<size_t>(maxBlock)));
    silence.assign(static_cast<size_t>(maxBlock), 0.0f);
    inputPointers.resize(numInputs);
    for (auto& channel : outputs)
        outputPointers.push_back(channel.data());
    // Hosts hand valid pointers for at least two outputs.
    spare.assign(outputs.size() < 2 ? 2 - outputs.size() : 0, std::vector<float>(static_cast<size_t>(maxBlock)));
    allOutputPointers = outputPointers;
    for (auto& channel : spare)
        allOutputPointers.push_back(channel.data());
    events.resize(kMaxEventsPerBlock);
    eventList.resize(2 + kMaxEventsPerBlock);
}

void WorkloadRun::Apply(const std::vector<ParameterSetting>& settings)
{
    for (const ParameterSetting& setting : settings) {
        std::string error;
        const std::optional<float> value = FindNormalizedValue(*plugin, setting.index, setting.value, &error);
        if (!value)
            throw std::runtime_error(std::string(workload.id) + " parameter " + std::to_string(setting.index) + " = "
                                     + setting.value + ": " + error);
        plugin->SetParameter(setting.index, *value);
    }
}

void WorkloadRun::ApplyChange()
{
    Apply(workload.change);
}

void WorkloadRun::SendDueNotes(int32_t frames, bool silent)
{
    int32_t count = 0;
    auto add = [&](int64_t frame, uint8_t status, uint8_t note, uint8_t velocity) {
        VstMidiEvent& event = events[count];
        event = VstMidiEvent{};
        event.type = kVstMidiType;
        event.byteSize = sizeof(VstMidiEvent);
        event.deltaFrames = static_cast<int32_t>(frame - position);
        event.midiData[0] = static_cast<char>(status);
        event.midiData[1] = static_cast<char>(note);
        event.midiData[2] = static_cast<char>(velocity);
        eventList[2 + count] = reinterpret_cast<intptr_t>(&event);
        ++count;
    };
    // Every note start and end in [position, position + frames), in order.
    const int64_t end = position + frames;
    // Most blocks hold neither: they skip the search (and its divisions).
    if (end <= nextNoteBoundary)
        return;
    const int64_t lastStart = (end - 1) / kNoteEvery * kNoteEvery;
    nextNoteBoundary = end - 1 < lastStart + kNoteLength ? lastStart + kNoteLength : lastStart + kNoteEvery;
    for (int64_t start = position / kNoteEvery * kNoteEvery; start < end && count + 2 <= kMaxEventsPerBlock;
         start += kNoteEvery) {
        const int64_t index = start / kNoteEvery;
        const uint8_t note = kNotes[index % std::size(kNotes)];
        if (start >= position && !silent) {
            add(start, 0x90, note, kVelocities[index % std::size(kVelocities)]);
            noteSounding = true;
        }
        const int64_t off = start + kNoteLength;
        if (off >= position && off < end && noteSounding) {
            add(off, 0x80, note, 0);
            noteSounding = false;
        }
    }
    if (count == 0)
        return;
    auto* list = reinterpret_cast<VstEvents*>(eventList.data());
    list->numEvents = count;
    list->reserved = 0;
    plugin->Dispatch(effProcessEvents, 0, 0, list);
}

void WorkloadRun::Block(int32_t frames, bool silent)
{
    frames = std::clamp(frames, 0, maxBlock);
    for (size_t c = 0; c < inputs.size(); ++c)
        inputPointers[c] = silent ? silence.data() : inputs[c].data() + offset;
    Process(frames, silent);
}

void WorkloadRun::FillInputs(int32_t frames, bool silent)
{
    MoveOwedTransport();
    filledFrames = std::clamp(frames, 0, maxBlock);
    filledSilent = silent;
    for (size_t c = 0; c < inputs.size(); ++c) {
        if (silent) {
            inputPointers[c] = silence.data();
            continue;
        }
        std::copy_n(inputs[c].data() + offset, filledFrames, blockInputs[c].data());
        inputPointers[c] = blockInputs[c].data();
    }
}

void WorkloadRun::ProcessFilled()
{
    MoveOwedTransport();
    SendDueNotes(filledFrames, filledSilent);
    plugin->CallProcessReplacing(inputPointers.data(), allOutputPointers.data(), filledFrames);
    transportOwed = filledFrames;
    Moved(filledFrames);
    filledFrames = 0;
}

void WorkloadRun::MoveOwedTransport()
{
    if (transportOwed == 0)
        return;
    plugin->MoveTransport(transportOwed);
    transportOwed = 0;
}

void WorkloadRun::Process(int32_t frames, bool silent)
{
    MoveOwedTransport();
    SendDueNotes(frames, silent);
    plugin->ProcessReplacing(inputPointers.data(), allOutputPointers.data(), frames);
    Moved(frames);
}

void WorkloadRun::Moved(int32_t frames)
{
    position += frames;
    offset += frames;
    while (offset >= period)
        offset -= period;
}

} // namespace corvane::host
