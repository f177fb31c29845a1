// SMUX, the sample multiplexer ('QZsb'): four control signals carried on two
// audio outputs. Output L alternates sample by sample between inputs 1 and 2,
// output R between inputs 3 and 4: the first input of a pair on the even
// samples of the stream, the second on the odd ones. A Flip switch per output
// swaps which input falls on which parity.
//
// The parity belongs to the stream, not to a host block: it is carried from
// one piece to the next (pieces are cut at MIDI event offsets) and from one
// block to the next, so hardware that demultiplexes the stream sees an
// unbroken even/odd pattern whatever block sizes the host uses.
//
// Threads: BeginBlock and Process run on the audio thread (no allocation, no
// lock); the name and value-text hooks run on the host's UI thread.
#pragma once

#include <cstdint>

#include "plugins/base/ObryCorvaneBase.h"

namespace ObryCorvaneSMUX {

class ObryCorvane : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = 3;
    static constexpr int32_t kNumInputs = 4;
    static constexpr int32_t kNumOutputs = 2;

    enum Parameter : int32_t { kFlipL = 0, kFlipR = 1, kOSCPortOffset = 2 };

    explicit ObryCorvane(audioMasterCallback audioMaster);
    ~ObryCorvane() override = default;

    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    int32_t Initialize() override;
    bool BeginBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane SMUX"; }
    const char* GetGUIScriptName() override { return "gui_smux.lua"; }

    static const ParameterInfo* Parameters();

private:
    bool flipL;
    bool flipR;
    uint32_t parity; // 0 or 1: the parity of the next sample of the stream
};

} // namespace ObryCorvaneSMUX
