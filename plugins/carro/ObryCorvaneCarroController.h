// The Carro Controller ('QZsh' as an effect, 'QZsg' as an instrument) drives
// a Carro expander through one stereo output pair: every sample frame
// carries six bytes in two 24-bit data words. The bytes come from fixed
// levels and six groups of eight MIDI-note gates with trigger lengths and
// accents; eight gate inputs set gates of the first five bytes; one gate bit
// can carry a serial MIDI output with MIDI clock from the host's tempo and
// transport; the data stream on one input pair can be merged in ("Input
// Thru"). It is the Brink Controller's twin without voice channels and CV
// inputs: everything it does is ObryExpanderController's, with its own
// parameter indices.
//
// Threads: as ObryExpanderController. The value-name lists are built once
// per process on first request.
#pragma once

#include <cstdint>

#include "plugins/common/ExpanderController.h"

namespace ObryCorvaneCarroController {

class ObryCorvane : public ObryExpanderController {
public:
    static constexpr int32_t kNumParams = 113;
    static constexpr int32_t kGateGroups = 6;

    enum Parameter : int32_t {
        kOutput1 = 0, // .. kOutput1 + 5
        kOSCPortOffset = 6,
        kTestSignal = 7,
        kGatesMidiChannel = 8, // group k: + 2k; its base note right after
        kGatesBaseNote = 9,
        kByte1 = 20,
        kByte2,
        kByte3,
        kBytes,
        kSend,
        kMidiOutMidiChannel = 25,
        kMidiOutOutput,
        kMidiOutClock,
        kMidiClockSwing,
        kMidiClockSwingType,
        kInputThru = 30,
        kMidiClockOffset = 31,
        kTriggerLength = 32, // group k gate j: + 8k + j
        kMidiOutChannelise = 80,
        kAccent = 81,        // group k accent m: + 4k + m
        kInputToGate1 = 105, // .. 112
    };

    ObryCorvane(audioMasterCallback audioMaster, bool isSynth);

    const char* GetPluginName() override { return "Corvane Carro Controller"; }
    const char* GetGUIScriptName() override { return "gui_carrocontroller.lua"; }

protected:
    void MakePieceBytes(uint8_t* bytes) override;
};

} // namespace ObryCorvaneCarroController
