#include "framework/StateChunk.h"

#include <cstring>

namespace {

void StoreU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

} // namespace

uint32_t StateChunk::LoadU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

float StateChunk::LoadF32(const uint8_t* p)
{
    const uint32_t bits = LoadU32(p);
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

void StateChunk::AddRecord(uint32_t tag, const void* data, uint32_t size)
{
    Pending record{tag, {}};
    const auto* bytes = static_cast<const uint8_t*>(data);
    record.payload.assign(bytes, bytes + size);
    record.payload.resize((static_cast<size_t>(size) + 3) / 4 * 4, 0);
    records.push_back(std::move(record));
}

void StateChunk::AddU32(uint32_t tag, uint32_t value)
{
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    AddRecord(tag, bytes, 4);
}

std::vector<uint8_t> StateChunk::Serialize() const
{
    size_t total = 12;
    for (const Pending& r : records)
        total += 8 + r.payload.size();
    std::vector<uint8_t> out;
    out.reserve(total);
    StoreU32(out, kMagic);
    StoreU32(out, 1);
    StoreU32(out, static_cast<uint32_t>(total - 12));
    for (const Pending& r : records) {
        StoreU32(out, r.tag);
        StoreU32(out, static_cast<uint32_t>(r.payload.size()));
        out.insert(out.end(), r.payload.begin(), r.payload.end());
    }
    return out;
}

bool StateChunk::Parse(const void* data, size_t size)
{
    parsed.clear();
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (!bytes || size < 12)
        return false;
    if (LoadU32(bytes) != kMagic)
        return false;
    const uint64_t length = LoadU32(bytes + 8);
    if (length + 12 > size)
        return false;
    size_t position = 12;
    // Records run to the end of the data, not only to `length`.
    while (position < size) {
        if (size - position < 8) {
            parsed.clear();
            return false;
        }
        const uint32_t tag = LoadU32(bytes + position);
        const uint64_t recordSize = LoadU32(bytes + position + 4);
        position += 8;
        if (recordSize > size - position) {
            parsed.clear();
            return false;
        }
        parsed[tag] = Record{static_cast<uint32_t>(recordSize), bytes + position};
        position += static_cast<size_t>(recordSize);
    }
    return true;
}

const StateChunk::Record* StateChunk::Find(uint32_t tag) const
{
    auto found = parsed.find(tag);
    return found == parsed.end() ? nullptr : &found->second;
}

bool StateChunk::ReadU32(uint32_t tag, uint32_t* value) const
{
    const Record* record = Find(tag);
    if (!record || record->size != 4)
        return false;
    *value = LoadU32(record->data);
    return true;
}

std::string StateChunk::ReadString(const Record& record)
{
    if (record.size == 0 || !record.data)
        return std::string();
    // The last byte counts as the terminator whatever it holds.
    const size_t limit = record.size - 1;
    return std::string(reinterpret_cast<const char*>(record.data), strnlen(reinterpret_cast<const char*>(record.data), limit));
}
