// Function: a fixed transfer function on each of two channels,
//   y = f(x x Input Scale + Input Offset) x Output Scale + Output Offset
// with f linear, log2(u) + 1 (0 for u <= 1e-10), 2^(u - 1) or |u|. Log and
// exponential are each other's inverse, for converting between linear and
// exponential control voltages. A disabled channel passes its input through
// and keeps the settings it had when it was last enabled.
//
// Indicator block (f32 elements, for the transfer-curve display), written
// after every sub-block with the sub-block's first sample:
//   12 + c: the transformed input u (the raw input when channel c is disabled)
//   14 + c: the output
//
// Threads: BeginBlock and Process run on the audio thread (no allocation, no
// lock). The value-text and name hooks run on the host's UI thread; the
// indicator fields are read by the editor without a lock (each is one
// aligned 32-bit store).
#pragma once

#include "plugins/base/ObryCorvaneBase.h"

namespace ObryCorvaneFunction {

class ObryCorvane : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = 13;
    static constexpr int32_t kNumChannels = 2;
    static constexpr int32_t kPortOffsetIndex = 0;
    static constexpr int32_t kIndicatorInput = 12;  // f32 element 12 + c
    static constexpr int32_t kIndicatorOutput = 14; // f32 element 14 + c

    enum Function : int32_t { kLinear = 0, kLogarithm = 1, kExponential = 2, kAbsolute = 3 };

    explicit ObryCorvane(audioMasterCallback audioMaster);
    ~ObryCorvane() override = default;

    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    int32_t Initialize() override;
    bool BeginBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane Function"; }
    const char* GetGUIScriptName() override { return "gui_function.lua"; }

    static const ParameterInfo* Parameters();

private:
    struct Channel {
        bool enabled;
        int32_t function;
        float inScale;
        float inOffset;
        float outScale;
        float outOffset;
    };
    void StoreIndicator(int32_t element, float value);

    Channel channels[kNumChannels];
};

} // namespace ObryCorvaneFunction
