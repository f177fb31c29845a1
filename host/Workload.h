// A fixed working set-up for every entry of the module: parameters that make
// each plug-in do its real work, an input signal per channel, MIDI notes on
// a fixed schedule and a playing transport at 120 BPM. The render check in
// tests/plugins and the family benchmark in bench/ run the same set-up.
//
// Everything here runs on the caller's thread; a WorkloadRun allocates only
// when it is built.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/VstHost.h"

namespace corvane::host {

// A parameter by index and the value as the plug-in shows it (see
// FindNormalizedValue: "@0.5", "On", "-20").
struct ParameterSetting {
    int32_t index;
    const char* value;
};

enum class InputSignal {
    kSlow,    // control voltages: 0.3 + 0.5 sin at 1, 2, 3 ... Hz
    kTone,    // audio: 0.3 sin at 200, 400, 600 ... Hz
    kCarrier, // a 17 kHz carrier, its amplitude moving slowly
};

struct EntryWorkload {
    const char* id; // the shell's four-character id
    InputSignal input;
    std::vector<ParameterSetting> start;  // before the first block
    std::vector<ParameterSetting> change; // automation halfway through the signal
};

// One set-up per shell entry, in the shell's order.
const std::vector<EntryWorkload>& EntryWorkloads();

// One plug-in playing its workload. Inputs repeat every second (every
// frequency is a whole number of Hertz), so blocks read straight from a
// prepared buffer.
class WorkloadRun {
public:
    // Creates and starts the plug-in and applies `workload.start`. Throws
    // std::runtime_error naming the entry and the setting that failed.
    WorkloadRun(Module& module, const EntryWorkload& workload, double sampleRate, int32_t maxBlock,
                bool logCalls = true);

    // One block of `frames` (at most maxBlock): the notes due in it, then
    // processReplacing. `silent`: zero inputs, and no new notes.
    void Block(int32_t frames, bool silent);
    // The same block in two steps, as a host's cycle runs many plug-ins:
    // FillInputs does the host's part, moving the transport on past the
    // last block and copying the block's input into the run's own block
    // buffers (a host's track buffers, reused every block, so warm in the
    // cache when a plug-in reads them); ProcessFilled is the plug-in's part,
    // the notes due and processReplacing. The transport stands at the end
    // of a ProcessFilled block only once the next block is filled.
    // Block reads the input where it stands in the one-second table.
    void FillInputs(int32_t frames, bool silent);
    void ProcessFilled();
    // Applies `workload.change`.
    void ApplyChange();

    const std::vector<float*>& Outputs() const { return outputPointers; }
    int32_t NumOutputs() const { return static_cast<int32_t>(outputs.size()); }
    int64_t Position() const { return position; }
    Plugin& Hosted() { return *plugin; }

private:
    void SendDueNotes(int32_t frames, bool silent);
    void Apply(const std::vector<ParameterSetting>& settings);
    void Process(int32_t frames, bool silent);
    void MoveOwedTransport();
    void Moved(int32_t frames); // position and input offset

    const EntryWorkload& workload;
    std::unique_ptr<Plugin> plugin;
    int32_t period; // frames of one second: the inputs' period
    int32_t maxBlock;
    int64_t position = 0;
    int32_t offset = 0;               // position % period: where the inputs' period stands
    int64_t nextNoteBoundary = 0;     // no note starts or ends before this frame
    std::vector<std::vector<float>> inputs; // period + maxBlock frames each
    std::vector<std::vector<float>> blockInputs; // maxBlock frames each: FillInputs
    int32_t filledFrames = 0;
    bool filledSilent = false;
    int32_t transportOwed = 0; // frames of the last ProcessFilled block
    std::vector<std::vector<float>> outputs;
    std::vector<float> silence;
    std::vector<float*> inputPointers;
    std::vector<float*> outputPointers;
    std::vector<std::vector<float>> spare; // hosts give at least two outputs
    std::vector<float*> allOutputPointers;
    std::vector<VstMidiEvent> events;
    std::vector<intptr_t> eventList;
    bool noteSounding = false;
};

} // namespace corvane::host
