// The system's own property ids, and small readers for the ones that hand
// out a pointer or a number. Layers below the plug-in base (the instance
// registry, the OSC and Lua helpers, the editor) learn about a plug-in only
// through these properties of its ObryAuBase, never through the base class.
//
// Any thread: the answers are pointers into the plug-in or plain numbers; no
// allocation, no lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/ObryAuBase.h"

enum ObryProperty : uint32_t {
    kObryProperty_IndicatorBlock = 64001,
    kObryProperty_ProductName = 64002,
    kObryProperty_PluginName = 64003,
    kObryProperty_ShortName = 64004,
    kObryProperty_OSCParameterNames = 64005,
    kObryProperty_OSCHelper = 64006,
    kObryProperty_ParameterCount = 64007,
    kObryProperty_ReapplyPortOffset = 64008,
    kObryProperty_PortOffset = 64009,
    kObryProperty_ParameterTable = 64010,
    kObryProperty_GUIScriptName = 64011,
    // The skin chosen in the preferences dialog, offered to the plug-in as a
    // CFString* (8 bytes); the plug-in may keep a reference.
    kObryProperty_SkinName = 64012,
    kObryProperty_IsLearner = 64013,
    // Plug-ins with envelopes (Voice Controller, Trigger): two i32, the
    // first envelope parameter and the number of parameters per envelope.
    kObryProperty_EnvelopeLayout = 64015,
    // Plug-ins with a pitch calibration table: the address of its entries
    // ({f32 note, f32 value} each), of its one-byte valid flags, and its
    // length (u32, 129).
    kObryProperty_CalibrationValues = 64016,
    kObryProperty_CalibrationValid = 64017,
    kObryProperty_CalibrationLength = 64018,
    // Shared by the plug-ins that keep notes sounding (expander controllers,
    // Voice Controller): an action run on the audio thread through queue B.
    kObryProperty_AllSoundOff = 64094,
};

// The indicator block every plug-in hands to its editor: 136 bytes of its
// own values, then 8 flag bytes that Lua scripts set and read.
constexpr int kObryIndicatorBlockSize = 144;
constexpr int kObryIndicatorFlagOffset = 136;
constexpr int kObryIndicatorFlagCount = 8;

// A text property (names, script name): the plug-in's own string, or "".
inline const char* ObryPropertyText(ObryAuBase* instance, uint32_t id)
{
    const char* text = nullptr;
    if (!instance || instance->GetProperty(id, 0, 0, &text) != 0 || !text)
        return "";
    return text;
}

// "OSC Port Offset" as the instance id (0 when the plug-in has none).
inline int32_t ObryPortOffset(ObryAuBase* instance)
{
    int32_t offset = 0;
    if (!instance || instance->GetProperty(kObryProperty_PortOffset, 0, 0, &offset) != 0)
        return 0;
    return offset;
}

// The parameter names used in OSC addresses (empty when not answered).
inline const std::vector<std::string>& ObryOSCParameterNames(ObryAuBase* instance)
{
    static const std::vector<std::string> none;
    const std::vector<std::string>* names = nullptr;
    if (!instance || instance->GetProperty(kObryProperty_OSCParameterNames, 0, 0, &names) != 0 || !names)
        return none;
    return *names;
}
