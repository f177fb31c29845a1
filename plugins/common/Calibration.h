// Pitch calibration: the output value that plays each MIDI note 0..128 on
// an analogue oscillator driven through a DC-coupled interface. Plug-ins that
// make pitch CV look a fractional note up in their table; the table is built
// in (Brink, Dunmore), measured (the Voice Controller's auto-calibration),
// loaded from a file or copied from another instance by the editor, and kept
// in the plug-in state as the records 'calf' (name) and 'calt' (values and
// valid flags).
//
// Threads: the table's values and valid flags are written on the audio
// thread (built-in tables, auto-calibration) and on the host's or editor's
// thread (state restore, file load, transfer through the addresses of
// properties 64016 and 64017), without a lock. Each value and flag is one
// machine word, read and written whole (relaxed atomics here); a reader may
// see a table half old, half new while another thread rewrites it. Nothing
// here allocates except the record helpers, which run on the host's thread.
#pragma once

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "framework/CalibrationProperties.h"

class ObryAuBase;
class StateChunk;

// Entries indexed by MIDI note 0..128 (128 serves the top of note 127).
constexpr int32_t CalibrationTableLength = 129;

// The state records: 'calf' the name with its NUL; 'calt' version 1, count,
// count f32 values, count valid bytes (653 bytes for 129 entries).
constexpr uint32_t kCalibrationNameTag = 0x63616C66;  // 'calf'
constexpr uint32_t kCalibrationTableTag = 0x63616C74; // 'calt'

// The entries and, right after them, the valid flags: the editor reaches
// both through their addresses.
struct CalibrationTable {
    static constexpr uint32_t kRecordVersion = 1;
    static constexpr size_t kRecordSize = 8 + 5 * static_cast<size_t>(CalibrationTableLength);

    CalibrationEntry entries[CalibrationTableLength];
    uint8_t valid[CalibrationTableLength];

    // Entry i's note = i for i < 128 (128's stays 0); every value 0, nothing valid.
    void Initialize();
    // Every value 0 and every flag 0; the notes stay.
    void Clear();

    float Value(int32_t i) const;
    void SetValue(int32_t i, float value);
    bool IsValid(int32_t i) const;
    void SetValid(int32_t i, bool isValid);

    // The output value for a pitch in notes: p held to 0..127 (NaN reads as
    // 0), i = (int)p, f = p - i, (1 - f) x value[i] + f x value[i + 1]. The
    // valid flags play no part. Audio thread. A table that holds a NaN or
    // infinite value (the editor writes through the table's address) gives 0
    // where it would give that.
    float Lookup(float pitch) const
    {
        // The editor writes the entries through their address while the
        // audio thread reads them: every value is one relaxed atomic load.
        auto LoadValue = [this](int32_t i) {
            return std::atomic_ref<float>(const_cast<float&>(entries[i].value)).load(std::memory_order_relaxed);
        };
        float p = pitch > 0.0f ? pitch : 0.0f; // NaN too
        if (p >= 127.0f)
            p = 127.0f;
        const auto i = static_cast<int32_t>(p);
        const float f = p - static_cast<float>(i);
        const float low = LoadValue(i);
        // A whole note reads its own entry only: entry 128 (or the next one)
        // may hold anything without reaching note 127.
        const float result = f == 0.0f ? low : (1.0f - f) * low + f * LoadValue(i + 1);
        return std::isfinite(result) ? result : 0.0f;
    }

    // The Brink expander's table: notes 48..111 valid with values 0 ..
    // 63/63.75 in steps of 1/63.75; the others hold the wrapped values,
    // invalid. Audio thread (a queued command).
    void BuildBrink();
    // The Dunmore table: notes 0..123 valid with (i - 60) x 0.015628817;
    // 124..128 hold wrapped values, invalid. Audio thread.
    void BuildDunmore();

    // Values that are NaN or infinite become 0 and lose their valid flag.
    // Returns how many were replaced.
    int32_t Sanitize();

    // The 'calt' payload, kRecordSize bytes little-endian.
    void WriteRecord(uint8_t* out) const;
    // Reads a 'calt' payload: only one of version 1, at least 9 bytes and at
    // least count x 5 + 8 bytes long is used (else false and the table is
    // unchanged); the first min(count, 129) values and flags are taken,
    // later entries keep theirs. Values that are not finite are taken as 0,
    // invalid.
    bool ReadRecord(const uint8_t* data, uint32_t size);
};
static_assert(offsetof(CalibrationTable, valid) == sizeof(CalibrationEntry) * CalibrationTableLength,
              "the valid flags follow the entries");

// The shared bodies of SaveExtraState and RestoreExtraState for a plug-in
// that keeps its table in the plug-in state. Host thread.
// Adds 'calf' (the name with its NUL), then 'calt'.
void SaveCalibrationRecords(StateChunk& chunk, const CalibrationTable& table, const std::string& name);
// 'calf' present: the plug-in's property 64121 is set to its text through
// SetPropertyAndNotify (so open editors hear of it); 'calt' present and
// sound: read into the table (see ReadRecord).
void RestoreCalibrationRecords(ObryAuBase& plugin, const StateChunk& records, CalibrationTable& table);

// The table's read-only properties 64016 (entries' address), 64017 (valid
// flags' address) and 64018 (length) for any plug-in that holds a table.
// Any thread. True when id is one of them.
bool IsCalibrationTableProperty(uint32_t id);
// Writes the reply (null data: kAudioUnitErr_InvalidProperty).
int32_t GetCalibrationTableProperty(const CalibrationTable& table, uint32_t id, void* data);
// The reply's size in bytes (8 or 4); never writable.
uint32_t CalibrationTablePropertySize(uint32_t id);

// The table's properties and the calibration name (64121) for a plug-in
// that keeps both in its state: the plug-in owns one and forwards these
// cases of GetProperty, GetPropertyInfo and SetProperty to it, and its
// SaveExtraState and RestoreExtraState bodies. The name lives under its own
// lock, taken on the host's and the editor's threads only, never on the
// audio thread.
class CalibrationProperties {
public:
    explicit CalibrationProperties(CalibrationTable& table) : table(table) {}
    CalibrationProperties(const CalibrationProperties&) = delete;
    CalibrationProperties& operator=(const CalibrationProperties&) = delete;

    // 64016-64018 and 64121.
    static bool Handles(uint32_t id) { return IsCalibrationTableProperty(id) || id == kObryProperty_CalibrationName; }
    // For an id Handles accepts.
    int32_t GetProperty(uint32_t id, void* data);
    int32_t GetPropertyInfo(uint32_t id, uint32_t* size, uint8_t* writable);
    // Sets the name (64121): the text ends at its NUL or at `size`,
    // whichever comes first.
    int32_t SetName(const void* data, uint32_t size);

    std::string Name();
    void ClearName();

    // 'calf' and 'calt' (see SaveCalibrationRecords, RestoreCalibrationRecords).
    void Save(StateChunk& chunk);
    void Restore(ObryAuBase& plugin, const StateChunk& records);

private:
    CalibrationTable& table;
    std::mutex nameLock;
    std::string name; // guarded by nameLock
};
