// DC: a steady control voltage on each of two channels, optionally shaped by
// the audio input (added to it or multiplying it), followed by the shared
// output smoothing.
//
// Per channel c (parameters 5c .. 5c+4, Smoothing 11 + c):
//   level = Multiplier x (Output Positive + Output Symmetric)
//   out   = (in x Input Multiply + (1 - Input Multiply)) x level + in x Input Add
// then smoothed. With both input amounts at 0 the input is not read at all, so
// the output is the level whatever arrives (also NaN or infinity).
//
// Threads: BeginBlock and Process run on the audio thread (no allocation, no
// lock); parameter values are read from the current program once per host
// block. The value-text and name hooks run on the host's UI thread.
#pragma once

#include "plugins/base/ObryCorvaneBase.h"

namespace ObryCorvaneDC {

class ObryCorvane : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = 13;
    static constexpr int32_t kNumChannels = 2;
    static constexpr int32_t kPortOffsetIndex = 10;
    static constexpr int32_t kSmoothingIndex = 11; // Smoothing L; R follows

    explicit ObryCorvane(audioMasterCallback audioMaster);
    ~ObryCorvane() override = default;

    int32_t Initialize() override;
    bool BeginBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane DC"; }
    const char* GetGUIScriptName() override { return "gui_dc.lua"; }

    // The parameter table, for tools and tests.
    static const ParameterInfo* Parameters();

private:
    struct Channel {
        float level;
        float inputAdd;
        float inputMultiply;
        float slewStep;    // 0: no slew limit
        float lowpassCoef; // 0: no low-pass
        float smoothState; // carried across blocks
    };
    Channel channels[kNumChannels];
};

} // namespace ObryCorvaneDC
