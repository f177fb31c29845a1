// The AC encoders: each enabled channel maps its input CV into an output
// level range and multiplies it by a carrier that flips sign on every sample
// (a square at half the sample rate), so that an AC-coupled audio output can
// carry a DC level; matching hardware (or the CV Input's decoder) recovers it
// by rectification. Disabled channels pass their input through.
//
// Two classes share this implementation: ObryCorvaneACEncoder::ObryCorvane
// (two channels, L and R) and ObryCorvaneACEncoder6::ObryCorvane (six: L, R,
// 3..6).
//
// Threads: BeginBlock and Process run on the audio thread (no allocation, no
// lock); the value-text hooks run on whichever thread the host or the editor
// asks from.
#pragma once

#include <cstdint>

#include "plugins/base/ObryCorvaneBase.h"

class ObryCorvaneACEncoderBase : public ObryCorvaneBase {
public:
    static constexpr int32_t kMaxEncoderChannels = 6;
    static constexpr int32_t kParametersPerChannel = 4;
    // Offsets of a channel's parameters from 1 + 4k.
    enum ChannelParameter : int32_t { kEnable = 0, kInputPolarity = 1, kMinOutputLevel = 2, kMaxOutputLevel = 3 };
    enum Polarity : int32_t { kBipolar = 0, kUnipolar = 1 };

    static constexpr int32_t ParameterIndex(int32_t channel, ChannelParameter which)
    {
        return 1 + kParametersPerChannel * channel + which;
    }

    int32_t Initialize() override;
    bool BeginBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;

    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane AC Encoder"; }

protected:
    ObryCorvaneACEncoderBase(audioMasterCallback audioMaster, int32_t channels, int32_t uniqueId,
                             FactoryPresetTable* presets, int32_t numParams, const ParameterInfo* parameterInfo,
                             ObryProgramFactory factory);

    const int32_t channelCount;

private:
    // Settings are rebuilt by every BeginBlock; `carrier` (0 or 1) runs on
    // across blocks so the alternation never breaks at a block boundary.
    struct Channel {
        uint32_t enabled = 0;
        float offset = 0;
        float scale = 0;
        float minLevel = 0;
        float maxLevel = 0;
        float carrier = 0;
    };
    Channel channels[kMaxEncoderChannels];

    // The first `count` channels of a piece, in one call (one choice of
    // instruction set a block, not one a channel).
    static void EncodeChannels(float* const* inputs, float* const* outputs, int32_t frames, Channel* channels,
                               int32_t count);
};

namespace ObryCorvaneACEncoder {

class ObryCorvane final : public ObryCorvaneACEncoderBase {
public:
    static constexpr int32_t kChannels = 2;
    static constexpr int32_t kNumParams = 1 + kParametersPerChannel * kChannels; // 9

    explicit ObryCorvane(audioMasterCallback audioMaster);
    const char* GetGUIScriptName() override { return "gui_acencoder.lua"; }
};

} // namespace ObryCorvaneACEncoder

namespace ObryCorvaneACEncoder6 {

class ObryCorvane final : public ObryCorvaneACEncoderBase {
public:
    static constexpr int32_t kChannels = 6;
    static constexpr int32_t kNumParams = 1 + kParametersPerChannel * kChannels; // 25

    explicit ObryCorvane(audioMasterCallback audioMaster);
    // Both encoders share the plug-in name (and so the short name
    // "QVACEncoder"); only the host sees the channel count in the name.
    bool getEffectName(char* name) override;
    bool getProductString(char* text) override;
    const char* GetGUIScriptName() override { return "gui_acencoder6.lua"; }
};

} // namespace ObryCorvaneACEncoder6
