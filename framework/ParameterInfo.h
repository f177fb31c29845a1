// Parameter descriptions and the unit codes that decide how a parameter's
// real value maps to the host's normalised 0..1.
#pragma once

#include <cstddef>
#include <cstdint>

struct ParameterInfo {
    const char* name;
    uint32_t unit;
    float min;
    float max;
    float def;
};
static_assert(sizeof(ParameterInfo) == 24);

enum AudioUnitParameterUnit : uint32_t {
    kAudioUnitParameterUnit_Generic = 0,
    kAudioUnitParameterUnit_Indexed = 1,
    kAudioUnitParameterUnit_Boolean = 2,
    kAudioUnitParameterUnit_Percent = 3,
    kAudioUnitParameterUnit_Seconds = 4,
    kAudioUnitParameterUnit_Hertz = 8,
    kAudioUnitParameterUnit_Cents = 9,
    kAudioUnitParameterUnit_RelativeSemiTones = 10,
    kAudioUnitParameterUnit_MIDINoteNumber = 11,
    kAudioUnitParameterUnit_Decibels = 13,
    kAudioUnitParameterUnit_LinearGain = 14,
    kAudioUnitParameterUnit_MixerFaderCurve1 = 17,
    kAudioUnitParameterUnit_Pan = 18,
    kAudioUnitParameterUnit_BPM = 22,
    kAudioUnitParameterUnit_Beats = 23,
    kAudioUnitParameterUnit_Milliseconds = 24,
};

// Audio Unit parameter flag: the parameter has value texts of its own.
constexpr uint32_t kAudioUnitParameterFlag_ValuesHaveStrings = 0x200000;

// Result codes of the property interface.
constexpr int32_t kAudioUnitErr_InvalidParameter = -10878;
constexpr int32_t kAudioUnitErr_InvalidProperty = -10879;

// Writes a property's size and writability where the caller asked for them;
// answers 0 (success). For GetPropertyInfo implementations.
inline int32_t AnswerPropertyInfo(uint32_t* size, uint8_t* writable, uint32_t bytes, uint8_t canWrite)
{
    if (size)
        *size = bytes;
    if (writable)
        *writable = canWrite;
    return 0;
}
// The property value is not acceptable (a text too long for the state, a
// malformed address).
constexpr int32_t kAudioUnitErr_InvalidPropertyValue = -10851;

// Real <-> normalised by unit. Normalised results are always finite and
// within 0..1; real results lie within min..max.
float NormalizeParameterValue(uint32_t unit, float min, float max, float real);
float DenormalizeParameterValue(uint32_t unit, float min, float max, float normalized);

// The unit's label for the host ("Hz", "%", ...; empty for most).
const char* ParameterUnitLabel(uint32_t unit);

// Writes a magnitude (v >= 0) with 3, 2, 1 or 0 decimals by size, always
// with '.', into text of `size` bytes (NUL-terminated). Values too large for
// the text are written in exponent form.
void FormatParameterValue(float v, char* text, size_t size);
