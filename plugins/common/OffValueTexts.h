// The value texts of plug-ins whose only parameters with texts of their own
// are "OSC Port Offset" ("Off" at 0) and the Smoothing of each channel
// ("Off" while SmoothingShowsOff). Every other value of these parameters
// gets no text, so the ordinary number display applies.
//
// Threads: what the plug-in's GetParameterFlags and StringFromValue hooks
// run on (the host's UI thread, the OSC helper); reads the current program.
#pragma once

#include <cstdint>

#include "framework/ObryAuBase.h"

struct OffValueTexts {
    int32_t portOffset;
    int32_t smoothingL;
    int32_t smoothingR;

    bool Has(int32_t index) const { return index == portOffset || index == smoothingL || index == smoothingR; }

    // For GetParameterFlags: ValuesHaveStrings on these three, else 0.
    uint32_t Flags(int32_t index) const { return Has(index) ? kAudioUnitParameterFlag_ValuesHaveStrings : 0; }

    // For StringFromValue: false for any other parameter; otherwise true,
    // with "Off" in request.outString when the value asked about (the
    // current one of `plugin` when the request gives none) shows it.
    bool StringFromValue(ObryAuBase& plugin, AudioUnitParameterStringFromValue& request) const;
};
