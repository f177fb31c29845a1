// Shared by the Voice Controller tests: the parameter table as the host
// must see it (written out here from the product's description, not taken
// from the plug-in), the state-chunk layout written and read independently
// of the plug-in's codec, and MIDI message builders.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host/VstHost.h"
#include "tests/support/PluginTestSupport.h"

namespace vctest {

enum Param : int32_t {
    kGateClosedVoltage = 0,
    kGateOpenVoltage = 1,
    kTriggerOffVoltage = 2,
    kTriggerOnVoltage = 3,
    kOverridePitch = 4,
    kPitch = 5,
    kOverrideGate = 6,
    kGate = 7,
    kPitchWheelRange = 8,
    kDetune = 9,
    kPitchLFODepth = 10,
    kPitchLFOSpeed = 11,
    kEnv1 = 12, // + 14e: TimeA1..R2 (0..4), ShapeA1..R2 (5..9), LevelA1, LevelA2, Sustain, LevelR1 (10..13)
    kOSCPortOffset = 54,
    kOutput1 = 55, // + 8j: Offset, Pitch, Gate, Env1, Env2, Env3, Trigger, Velocity
    kVelocityMin = 103,
    kVelocityMax = 104,
    kEnv1VelocityDepth = 105,
    kNotePriority = 108,
    kRetriggerMode = 109,
    kPolyMode = 110,
    kPolyphonyVoice = 111,
    kEnv1ResetToZero = 112,
    kOutput1Smoothing = 115,
    kPortamentoMode = 121,
    kPortamentoTime = 122,
    kPortamentoShape = 123,
    kRandomTuning = 124,
    kEnv1Multiplier = 125,
    kBrinkMode = 128,
    kBipolar3 = 129,
    kTranspose = 132,
    kTriggerLength = 133,
    kParamCount = 134,
};

struct ParamSpec {
    std::string name;
    float min, max, def;
    bool logarithmic;
};

inline std::vector<ParamSpec> ExpectedParameters()
{
    std::vector<ParamSpec> p = {
        {"Gate Closed Voltage", -1, 1, 0, false}, {"Gate Open Voltage", -1, 1, 1, false},
        {"Trigger Off Voltage", -1, 1, 0, false}, {"Trigger On Voltage", -1, 1, 1, false},
        {"Override Pitch", 0, 1, 0, false},       {"Pitch", 0, 127, 64, false},
        {"Override Gate", 0, 1, 0, false},        {"Gate", 0, 1, 0, false},
        {"Pitch Wheel Range", 0, 48, 2, false},   {"Detune", -100, 100, 0, false},
        {"Pitch LFO Depth", 0, 100, 0, false},    {"Pitch LFO Speed", 0.05f, 20, 5, true},
    };
    const char* rows[] = {"Time A1", "Time A2", "Time A3", "Time R1", "Time R2", "Shape A1", "Shape A2",
                          "Shape A3", "Shape R1", "Shape R2", "Level A1", "Level A2", "Sustain", "Level R1"};
    const float maxima[] = {5, 5, 5, 5, 5, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const float defaults[] = {0, 0.1f, 0.1f, 0.1f, 0, 0, 0, 0, 0, 0, 0, 1, 0.5f, 0};
    for (int e = 1; e <= 3; ++e)
        for (int r = 0; r < 14; ++r)
            p.push_back({"Env " + std::to_string(e) + " " + rows[r], 0, maxima[r], defaults[r], false});
    p.push_back({"OSC Port Offset", 0, 100, 0, false});
    const char* terms[] = {"Offset", "Pitch", "Gate", "Env1", "Env2", "Env3", "Trigger", "Velocity"};
    for (int j = 0; j < 6; ++j)
        for (int t = 0; t < 8; ++t) {
            const bool one = (j == 0 && t == 1) || (j == 1 && t == 2) || (j >= 2 && j <= 4 && t == j + 1) ||
                             (j == 5 && t == 6);
            p.push_back({"Output " + std::to_string(j + 1) + " " + terms[t], -1, 1, one ? 1.0f : 0.0f, false});
        }
    p.push_back({"Velocity Min Voltage", -1, 1, -1, false});
    p.push_back({"Velocity Max Voltage", -1, 1, 1, false});
    for (int e = 1; e <= 3; ++e)
        p.push_back({"Env " + std::to_string(e) + " Velocity Depth", -1, 1, 0, false});
    p.push_back({"Note Priority", 0, 2, 0, false});
    p.push_back({"Retrigger Mode", 0, 1, 0, false});
    p.push_back({"Poly Mode", 0, 2, 0, false});
    p.push_back({"Polyphony/Voice", 1, 16, 1, false});
    for (int e = 1; e <= 3; ++e)
        p.push_back({"Env " + std::to_string(e) + " Reset To Zero", 0, 1, 0, false});
    for (int j = 1; j <= 6; ++j)
        p.push_back({"Output " + std::to_string(j) + " Smoothing", -500, 500, 0, false});
    p.push_back({"Portamento Mode", 0, 4, 0, false});
    p.push_back({"Portamento Time", 0, 10, 0.1f, false});
    p.push_back({"Portamento Shape", 0, 1, 0, false});
    p.push_back({"Random Tuning", 0, 10, 0, false});
    for (int e = 1; e <= 3; ++e)
        p.push_back({"Env " + std::to_string(e) + " Multiplier", 0, 3, 1, false});
    p.push_back({"Brink Mode", 0, 1, 0, false});
    for (int k = 3; k <= 5; ++k)
        p.push_back({"Bipolar " + std::to_string(k), 0, 1, 0, false});
    p.push_back({"Transpose", -48, 48, 0, false});
    p.push_back({"Trigger Length", 0, 100, 0.2f, false});
    return p;
}

inline corvane::test::Range RangeOf(int32_t index)
{
    static const std::vector<ParamSpec> table = ExpectedParameters();
    const ParamSpec& s = table.at(static_cast<size_t>(index));
    return {s.min, s.max, s.logarithmic};
}

// ---- state chunks, written and read independently of the plug-in ----------

constexpr uint32_t Tag(const char (&text)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8 | static_cast<uint8_t>(text[3]);
}

inline void PutU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline uint32_t GetU32(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline float GetF32(const uint8_t* p)
{
    const uint32_t bits = GetU32(p);
    float v;
    memcpy(&v, &bits, sizeof v);
    return v;
}

inline void SetF32(uint8_t* p, float v)
{
    uint32_t bits;
    memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(bits >> (8 * i));
}

struct Record {
    uint32_t tag;
    std::vector<uint8_t> payload; // as stored (padded)
};

// 'Obry', version 1, length, then the records; the size field is `size`
// when given (a lying size), else the padded payload length.
inline std::vector<uint8_t> BuildState(const std::vector<Record>& records)
{
    std::vector<uint8_t> body;
    for (const Record& r : records) {
        std::vector<uint8_t> payload = r.payload;
        payload.resize((payload.size() + 3) / 4 * 4, 0);
        PutU32(body, r.tag);
        PutU32(body, static_cast<uint32_t>(payload.size()));
        body.insert(body.end(), payload.begin(), payload.end());
    }
    std::vector<uint8_t> out;
    PutU32(out, Tag("Obry"));
    PutU32(out, 1);
    PutU32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline std::vector<Record> ParseState(const std::vector<uint8_t>& data)
{
    std::vector<Record> records;
    if (data.size() < 12 || GetU32(data.data()) != Tag("Obry"))
        return records;
    size_t at = 12;
    while (at + 8 <= data.size()) {
        const uint32_t tag = GetU32(&data[at]);
        const uint32_t size = GetU32(&data[at + 4]);
        at += 8;
        if (size > data.size() - at)
            break;
        records.push_back({tag, std::vector<uint8_t>(data.begin() + static_cast<long>(at),
                                                     data.begin() + static_cast<long>(at + size))});
        at += size;
    }
    return records;
}

inline const Record* Find(const std::vector<Record>& records, uint32_t tag)
{
    for (const Record& r : records)
        if (r.tag == tag)
            return &r;
    return nullptr;
}

// The program chunk: calibration values at 44, parameters at 560.
constexpr size_t kProgramChunkSize = 1096;
constexpr size_t kCalibrationOffset = 44;
constexpr size_t kParamsOffset = 560;

// A 'calt' payload: version, count, count values, count valid bytes.
inline std::vector<uint8_t> CalibrationRecord(uint32_t version, uint32_t count, const std::vector<float>& values,
                                              const std::vector<uint8_t>& valid)
{
    std::vector<uint8_t> out;
    PutU32(out, version);
    PutU32(out, count);
    for (float v : values) {
        out.resize(out.size() + 4);
        SetF32(&out[out.size() - 4], v);
    }
    out.insert(out.end(), valid.begin(), valid.end());
    return out;
}

// ---- MIDI ------------------------------------------------------------------

inline corvane::host::MidiMessage NoteOnMsg(int note, int velocity, int delta = 0, int channel = 0)
{
    return {delta, {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(note), static_cast<uint8_t>(velocity)}};
}
inline corvane::host::MidiMessage NoteOffMsg(int note, int delta = 0, int channel = 0, int velocity = 0)
{
    return {delta, {static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(note), static_cast<uint8_t>(velocity)}};
}
inline corvane::host::MidiMessage CcMsg(int controller, int value, int delta = 0, int channel = 0)
{
    return {delta,
            {static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(controller), static_cast<uint8_t>(value)}};
}
inline corvane::host::MidiMessage BendMsg(int value14, int delta = 0)
{
    return {delta, {0xE0, static_cast<uint8_t>(value14 & 0x7F), static_cast<uint8_t>((value14 >> 7) & 0x7F)}};
}

// The Dunmore table's value of note i (0..123): (i - 60) x 0.015628817.
inline float DunmoreValue(double note)
{
    return static_cast<float>((note - 60.0) * 0.015628817);
}

} // namespace vctest
