#include "tests/plugins/CvToMidiTestSupport.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace corvane::test::cvtomidi {

namespace {

void PutU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetU32(const std::vector<uint8_t>& bytes, size_t offset)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

void Append(std::vector<uint8_t>& bytes, uint32_t value)
{
    bytes.resize(bytes.size() + 4);
    PutU32(bytes, bytes.size() - 4, value);
}

} // namespace

std::vector<uint8_t> MakeProgramChunk(const ProgramFields& fields)
{
    std::vector<uint8_t> chunk(kProgramChunkSize, 0);
    PutU32(chunk, 0, 0x6F627279); // 'obry'
    PutU32(chunk, 4, 0x6272656C); // 'brel'
    PutU32(chunk, 8, 0x00020100);
    memcpy(chunk.data() + kNameOffset, fields.name.data(), std::min<size_t>(fields.name.size(), 31));
    memcpy(chunk.data() + kDeviceOffset, fields.device.data(), std::min<size_t>(fields.device.size(), 256));
    for (size_t i = 0; i < fields.values.size() && i < kParamCount; ++i) {
        uint32_t word;
        memcpy(&word, &fields.values[i], 4);
        PutU32(chunk, kParamsOffset + 4 * i, word);
    }
    return chunk;
}

std::vector<uint8_t> SwapProgramChunk(std::vector<uint8_t> chunk)
{
    auto swap = [&](size_t offset) {
        if (offset + 4 <= chunk.size())
            PutU32(chunk, offset, __builtin_bswap32(GetU32(chunk, offset)));
    };
    for (size_t offset : {0, 4, 8})
        swap(offset);
    for (int i = 0; i < kParamCount; ++i)
        swap(kParamsOffset + 4 * i);
    return chunk;
}

ProgramFields ReadProgramChunk(const std::vector<uint8_t>& chunk)
{
    if (chunk.size() != kProgramChunkSize)
        throw std::runtime_error("not a program chunk");
    ProgramFields fields;
    fields.name.assign(reinterpret_cast<const char*>(chunk.data() + kNameOffset),
                       strnlen(reinterpret_cast<const char*>(chunk.data() + kNameOffset), 32));
    fields.device.assign(reinterpret_cast<const char*>(chunk.data() + kDeviceOffset),
                         strnlen(reinterpret_cast<const char*>(chunk.data() + kDeviceOffset), 256));
    for (int i = 0; i < kParamCount; ++i) {
        const uint32_t word = GetU32(chunk, kParamsOffset + 4 * i);
        float value;
        memcpy(&value, &word, 4);
        fields.values.push_back(value);
    }
    return fields;
}

std::vector<uint8_t> WrapInState(const std::vector<uint8_t>& program, uint32_t uniqueId)
{
    std::vector<uint8_t> state;
    Append(state, 0x4F627279); // 'Obry'
    Append(state, 1);
    Append(state, 0); // length, below
    Append(state, 0x70756964); // 'puid'
    Append(state, 4);
    Append(state, uniqueId);
    Append(state, 0x76657273); // 'vers'
    Append(state, 4);
    Append(state, 0x00020100);
    const uint32_t padded = static_cast<uint32_t>((program.size() + 3) & ~size_t{3});
    Append(state, kTagChnk);
    Append(state, padded);
    state.insert(state.end(), program.begin(), program.end());
    state.resize(state.size() + (padded - program.size()), 0);
    PutU32(state, 8, static_cast<uint32_t>(state.size() - 12));
    return state;
}

std::vector<uint8_t> RecordOf(const std::vector<uint8_t>& state, uint32_t tag)
{
    size_t offset = 12;
    while (offset + 8 <= state.size()) {
        const uint32_t recordTag = GetU32(state, offset);
        const uint32_t size = GetU32(state, offset + 4);
        offset += 8;
        if (offset + size > state.size())
            break;
        if (recordTag == tag)
            return std::vector<uint8_t>(state.begin() + offset, state.begin() + offset + size);
        offset += size;
    }
    return {};
}

} // namespace corvane::test::cvtomidi
