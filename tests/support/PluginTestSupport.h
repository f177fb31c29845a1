// Helpers of the plug-in tests: the built module loaded once, parameters set
// by their real value through the host interface, blocks run through a hosted
// plug-in, and the host callback for plug-ins built in-process (see also
// tests/support/InProcessPlugin.h).
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "host/VstHost.h"

namespace corvane::test {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The built module, loaded once per test binary. Throws when it cannot be
// loaded, which fails the test that asked.
host::Module& LoadedModule();

// A parameter's range as the host has to know it to normalise a real value:
// linear, or logarithmic (a Hertz range above 0).
struct Range {
    float min;
    float max;
    bool logarithmic = false;
    float Normalise(float real) const;
};

// Sets a parameter through the host interface by its real value. By index:
// the host sees names cut to 15 characters, which can leave two the same.
void SetReal(host::Plugin& plugin, int32_t index, Range range, float real);

bool AllFinite(const std::vector<float>& samples);

// The two outputs of a block or of a run of blocks.
struct Stereo {
    std::vector<float> left, right;
};

// Runs `frames` samples through a plug-in with two outputs in blocks of at
// most `block` samples, every input constant at `input`. Before each block
// `beforeBlock` (when given) may change the transport or the parameters or
// send MIDI; it gets the block's first frame.
Stereo RunInBlocks(host::Plugin& plugin, int64_t frames, int32_t block, float input = 0.0f,
                   const std::function<void(int64_t)>& beforeBlock = {});

// A two-channel plug-in of the built module, started at 48 kHz with the
// host's transport at 120 BPM, playing from position 0. Its parameters are
// set by their real value: `rangeOf` gives each one's range, and the
// channel groups start at index 1, R's `groupSize` after L's.
class PlayingPlugin {
public:
    // Throws when the module gives no plug-in `uniqueId` (`what` names it).
    PlayingPlugin(int32_t uniqueId, const char* what, int32_t block, int32_t groupSize, Range (*rangeOf)(int32_t));

    void Set(int32_t index, float real);
    void SetL(int32_t groupIndex, float real) { Set(groupIndex, real); }
    void SetR(int32_t groupIndex, float real) { Set(groupIndex + groupSize, real); }
    void SetBoth(int32_t groupIndex, float real)
    {
        SetL(groupIndex, real);
        SetR(groupIndex, real);
    }

    // RunInBlocks with this plug-in's block size.
    Stereo Run(int64_t frames, float input = 0.0f, const std::function<void(int64_t)>& beforeBlock = {})
    {
        return RunInBlocks(*plugin, frames, block, input, beforeBlock);
    }

    host::Plugin& Host() { return *plugin; }

private:
    std::unique_ptr<host::Plugin> plugin;
    int32_t block;
    int32_t groupSize;
    Range (*rangeOf)(int32_t);
};

// ---- plug-ins built in-process ---------------------------------------------

// The host callback for plug-ins constructed in the test binary. Answers
// audioMasterVersion (2400) and audioMasterGetTime (InProcessTime(), or null
// while AnswerInProcessTime(false)), and logs audioMasterAutomate calls.
// Everything else gets 0.
intptr_t InProcessHost(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

// The transport InProcessHost reports; tests change it between blocks.
VstTimeInfo& InProcessTime();
// Whether InProcessHost answers the time request at all (scanning hosts do not).
void AnswerInProcessTime(bool answer);
// 48 kHz, 120 BPM, playing from `ppq`, answered.
void StartInProcessTransport(double ppq = 0);

// The (index, value) pairs of the audioMasterAutomate calls since the last take.
struct AutomateCall {
    int32_t index;
    float value;
};
std::vector<AutomateCall> TakeAutomateLog();

} // namespace corvane::test
