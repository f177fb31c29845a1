// Short names of the parameter unit codes, for the plug-ins' parameter
// tables: `using namespace ParameterUnit;` where a table is written.
#pragma once

#include <cstdint>

#include "framework/ParameterInfo.h"

namespace ParameterUnit {

constexpr uint32_t kGeneric = kAudioUnitParameterUnit_Generic;
constexpr uint32_t kIndexed = kAudioUnitParameterUnit_Indexed;
constexpr uint32_t kBoolean = kAudioUnitParameterUnit_Boolean;
constexpr uint32_t kPercent = kAudioUnitParameterUnit_Percent;
constexpr uint32_t kSeconds = kAudioUnitParameterUnit_Seconds;
constexpr uint32_t kHertz = kAudioUnitParameterUnit_Hertz;
constexpr uint32_t kCents = kAudioUnitParameterUnit_Cents;
constexpr uint32_t kSemitones = kAudioUnitParameterUnit_RelativeSemiTones;
constexpr uint32_t kNote = kAudioUnitParameterUnit_MIDINoteNumber;
constexpr uint32_t kGain = kAudioUnitParameterUnit_LinearGain;
constexpr uint32_t kBeatsUnit = kAudioUnitParameterUnit_Beats;
constexpr uint32_t kMilliseconds = kAudioUnitParameterUnit_Milliseconds;

} // namespace ParameterUnit
