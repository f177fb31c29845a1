// CV Input: turns control voltages that arrive on AC-coupled audio inputs
// back into DC control signals. Each of the two channels works in one mode:
//   Decoder         demodulates the half-sample-rate square carrier of the AC
//                   encoders (synchronously when bipolar, by rectification
//                   when unipolar);
//   Generator       outputs a carrier of adjustable level (hardware set-up);
//   Tessel Decoder  demodulates the amplitude-modulated ~17 kHz carrier of
//                   the Tessel hardware with a phase-locked loop and an
//                   order-10 low-pass.
// Decoded signals are scaled and smoothed.
//
// Threads: BeginBlock and Process run on the audio thread (no allocation, no
// lock). The loop settings and the shared low-pass are redesigned there, on
// the stack, only when one of their inputs changes. The value-text hooks run
// on whichever thread the host or the editor asks from.
#pragma once

#include <cstdint>

#include "plugins/base/ObryCorvaneBase.h"
#include "plugins/common/IIRFilter.h"

// One channel's phase-locked loop; the settings are shared by both channels.
struct PLLState {
    double detector = 0;  // last phase-detector output
    double phase = 0;     // radians, -pi <= phase < pi
    double frequency = 0; // rad/s
    const PLLSettings* settings = nullptr;
};

namespace ObryCorvaneCVInput {

class ObryCorvane final : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = 18;
    static constexpr int32_t kChannels = 2;

    enum Mode : int32_t { kModeDecoder = 0, kModeGenerator = 1, kModeTesselDecoder = 2 };

    // Channel parameters at base + offset, base = 1 + 5c.
    enum ChannelParameter : int32_t { kMode = 0, kLevel = 1, kBipolar = 2, kScale = 3, kSmoothing = 4 };
    static constexpr int32_t ParameterIndex(int32_t channel, ChannelParameter which)
    {
        return 1 + 5 * channel + which;
    }
    static constexpr int32_t kTesselOffsetIndex = 11; // + channel
    static constexpr int32_t kTesselFilterFreqIndex = 13;
    static constexpr int32_t kTesselCentreIndex = 14;
    static constexpr int32_t kTesselTau1Index = 15;
    static constexpr int32_t kTesselTau2Index = 16;
    static constexpr int32_t kTesselForceSmoothIndex = 17;

    // The low-pass cutoff (fraction of the sample rate) is held to this span.
    // The bottom keeps the loop's output clean; the top is as far towards
    // Nyquist as the order-10 direct form stays stable and settles (designed
    // and run in double precision: in single precision its poles leave the
    // unit circle well before Nyquist).
    static constexpr float kMinTesselCutoff = 0.068f;
    static constexpr float kMaxTesselCutoff = static_cast<float>(kIIRSettledRangeDouble.max);

    explicit ObryCorvane(audioMasterCallback audioMaster);

    int32_t Initialize() override;
    bool BeginBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;

    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane CV Input"; }
    const char* GetGUIScriptName() override { return "gui_cvinput.lua"; }

private:
    struct Channel {
        // Set by BeginBlock.
        int32_t mode = kModeDecoder;
        float generatorLevel = 0;
        float scale = 0;
        float tesselOffset = 0;
        bool bipolar = false;
        float slewStep = 0;
        float lowpassCoef = 0;
        // Kept across blocks. `state` is the smoothing state in the decoder
        // modes and the carrier (0 or 1) in Generator mode; it restarts from 0
        // on every mode change so that neither meaning leaks into the other.
        float state = 0;
        uint32_t parity = 0; // carrier parity at the start of the next block
        PLLState pll;
        IIRFilterStateDD filter;
    };

    void ResetChannels();
    void UpdateLowpass();
    void UpdateLoopSettings();
    // The Tessel decoder over `frames` samples of `in`: write(i, y) receives
    // each decoded sample, in order, before the next input is read.
    template <class Write>
    void RunTesselDecoder(Channel& channel, const float* in, int32_t frames, Write&& write);

    Channel channels[kChannels];
    // Shared by both channels. Designed in double precision: see kMaxTesselCutoff.
    IIRFilterCoefficientsD lowpass;
    float lowpassCutoff = -1; // the cutoff `lowpass` was designed for; -1: none yet
    PLLSettings loopSettings;
};

} // namespace ObryCorvaneCVInput
