#include "plugins/common/Calibration.h"

#include <atomic>
#include <cmath>
#include <cstring>

#include "framework/ObryAuBase.h"
#include "framework/StateChunk.h"

namespace {

// Values and flags are shared with other threads word by word (see the header).
float LoadRelaxed(const float& slot)
{
    return std::atomic_ref<float>(const_cast<float&>(slot)).load(std::memory_order_relaxed);
}

void StoreRelaxed(float& slot, float value)
{
    std::atomic_ref<float>(slot).store(value, std::memory_order_relaxed);
}

uint8_t LoadRelaxed(const uint8_t& slot)
{
    return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(slot)).load(std::memory_order_relaxed);
}

void StoreRelaxed(uint8_t& slot, uint8_t value)
{
    std::atomic_ref<uint8_t>(slot).store(value, std::memory_order_relaxed);
}

void StoreU32(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

void CalibrationTable::Initialize()
{
    for (int32_t i = 0; i < CalibrationTableLength; ++i) {
        StoreRelaxed(entries[i].note, i < 128 ? static_cast<float>(i) : 0.0f);
        StoreRelaxed(entries[i].value, 0.0f);
        StoreRelaxed(valid[i], 0);
    }
}

void CalibrationTable::Clear()
{
    for (int32_t i = 0; i < CalibrationTableLength; ++i) {
        StoreRelaxed(entries[i].value, 0.0f);
        StoreRelaxed(valid[i], 0);
    }
}

float CalibrationTable::Value(int32_t i) const
{
    return i >= 0 && i < CalibrationTableLength ? LoadRelaxed(entries[i].value) : 0.0f;
}

void CalibrationTable::SetValue(int32_t i, float value)
{
    if (i >= 0 && i < CalibrationTableLength)
        StoreRelaxed(entries[i].value, value);
}

bool CalibrationTable::IsValid(int32_t i) const
{
    return i >= 0 && i < CalibrationTableLength && LoadRelaxed(valid[i]) != 0;
}

void CalibrationTable::SetValid(int32_t i, bool isValid)
{
    if (i >= 0 && i < CalibrationTableLength)
        StoreRelaxed(valid[i], isValid ? 1 : 0);
}

void CalibrationTable::BuildBrink()
{
    for (int32_t i = 0; i < CalibrationTableLength; ++i) {
        const int32_t d = i - 48;
        const int32_t w = (d + 64) % 64; // the remainder keeps the sign of d + 64
        StoreRelaxed(entries[i].value, static_cast<float>(w) * 0.015686275f);
        StoreRelaxed(valid[i], w == d ? 1 : 0);
    }
}

void CalibrationTable::BuildDunmore()
{
    for (int32_t i = 0; i < CalibrationTableLength; ++i) {
        const int32_t d = i - 60;
        const int32_t w = (i + 4 + 128) % 128 - 64;
        StoreRelaxed(entries[i].value, static_cast<float>(w) * 0.015628817f);
        StoreRelaxed(valid[i], w == d ? 1 : 0);
    }
}

int32_t CalibrationTable::Sanitize()
{
    int32_t replaced = 0;
    for (int32_t i = 0; i < CalibrationTableLength; ++i) {
        if (std::isfinite(LoadRelaxed(entries[i].value)))
            continue;
        StoreRelaxed(entries[i].value, 0.0f);
        StoreRelaxed(valid[i], 0);
        ++replaced;
    }
    return replaced;
}

void CalibrationTable::WriteRecord(uint8_t* out) const
{
    StoreU32(out, kRecordVersion);
    StoreU32(out + 4, static_cast<uint32_t>(CalibrationTableLength));
    for (int32_t i = 0; i < CalibrationTableLength; ++i) {
        const float value = LoadRelaxed(entries[i].value);
        uint32_t bits;
        memcpy(&bits, &value, sizeof bits);
        StoreU32(out + 8 + 4 * i, bits);
        out[8 + 4 * CalibrationTableLength + i] = LoadRelaxed(valid[i]);
    }
}

bool CalibrationTable::ReadRecord(const uint8_t* data, uint32_t size)
{
    if (!data || size < 9)
        return false;
    const uint32_t version = StateChunk::LoadU32(data);
    const uint32_t count = StateChunk::LoadU32(data + 4);
    // In 64 bits: a count near 2^32 must not wrap into a small requirement.
    if (version != kRecordVersion || static_cast<uint64_t>(size) < static_cast<uint64_t>(count) * 5 + 8)
        return false;
    const uint32_t n = count < static_cast<uint32_t>(CalibrationTableLength) ? count : CalibrationTableLength;
    const uint8_t* values = data + 8;
    const uint8_t* flags = data + 8 + 4 * static_cast<size_t>(count);
    for (uint32_t i = 0; i < n; ++i) {
        const float value = StateChunk::LoadF32(values + 4 * i);
        const bool finite = std::isfinite(value);
        StoreRelaxed(entries[i].value, finite ? value : 0.0f);
        StoreRelaxed(valid[i], finite && flags[i] != 0 ? 1 : 0);
    }
    return true;
}

void SaveCalibrationRecords(StateChunk& chunk, const CalibrationTable& table, const std::string& name)
{
    chunk.AddRecord(kCalibrationNameTag, name.c_str(), static_cast<uint32_t>(name.size() + 1));
    uint8_t record[CalibrationTable::kRecordSize];
    table.WriteRecord(record);
    chunk.AddRecord(kCalibrationTableTag, record, static_cast<uint32_t>(sizeof record));
}

void RestoreCalibrationRecords(ObryAuBase& plugin, const StateChunk& records, CalibrationTable& table)
{
    if (const StateChunk::Record* name = records.Find(kCalibrationNameTag)) {
        const std::string text = StateChunk::ReadString(*name);
        plugin.SetPropertyAndNotify(kObryProperty_CalibrationName, text.c_str(),
                                    static_cast<uint32_t>(text.size() + 1));
    }
    if (const StateChunk::Record* values = records.Find(kCalibrationTableTag))
        table.ReadRecord(values->data, values->size);
}

bool IsCalibrationTableProperty(uint32_t id)
{
    return id == kObryProperty_CalibrationValues || id == kObryProperty_CalibrationValid ||
           id == kObryProperty_CalibrationLength;
}

int32_t GetCalibrationTableProperty(const CalibrationTable& table, uint32_t id, void* data)
{
    if (!data || !IsCalibrationTableProperty(id))
        return kAudioUnitErr_InvalidProperty;
    if (id == kObryProperty_CalibrationLength) {
        const uint32_t length = CalibrationTableLength;
        memcpy(data, &length, sizeof length);
        return 0;
    }
    const void* address = id == kObryProperty_CalibrationValues ? static_cast<const void*>(table.entries)
                                                                : static_cast<const void*>(table.valid);
    memcpy(data, &address, sizeof address);
    return 0;
}

uint32_t CalibrationTablePropertySize(uint32_t id)
{
    return id == kObryProperty_CalibrationLength ? 4 : 8;
}

int32_t CalibrationProperties::GetProperty(uint32_t id, void* data)
{
    if (id != kObryProperty_CalibrationName)
        return GetCalibrationTableProperty(table, id, data);
    if (!data)
        return kAudioUnitErr_InvalidProperty;
    std::lock_guard<std::mutex> lock(nameLock);
    memcpy(data, name.c_str(), name.size() + 1);
    return 0;
}

int32_t CalibrationProperties::GetPropertyInfo(uint32_t id, uint32_t* size, uint8_t* writable)
{
    uint32_t bytes = 0;
    uint8_t canWrite = 0;
    if (id == kObryProperty_CalibrationName) {
        std::lock_guard<std::mutex> lock(nameLock);
        bytes = static_cast<uint32_t>(name.size() + 1);
        canWrite = 1;
    } else if (IsCalibrationTableProperty(id)) {
        bytes = CalibrationTablePropertySize(id);
    } else {
        return kAudioUnitErr_InvalidProperty;
    }
    return AnswerPropertyInfo(size, writable, bytes, canWrite);
}

int32_t CalibrationProperties::SetName(const void* data, uint32_t size)
{
    if (!data)
        return kAudioUnitErr_InvalidProperty;
    const auto* text = static_cast<const char*>(data);
    std::string incoming(text, strnlen(text, size));
    std::lock_guard<std::mutex> lock(nameLock);
    name = std::move(incoming);
    return 0;
}

std::string CalibrationProperties::Name()
{
    std::lock_guard<std::mutex> lock(nameLock);
    return name;
}

void CalibrationProperties::ClearName()
{
    std::lock_guard<std::mutex> lock(nameLock);
    name.clear();
}

void CalibrationProperties::Save(StateChunk& chunk)
{
    SaveCalibrationRecords(chunk, table, Name());
}

void CalibrationProperties::Restore(ObryAuBase& plugin, const StateChunk& records)
{
    RestoreCalibrationRecords(plugin, records, table);
}
