#include "tests/plugins/OscTestSupport.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "framework/InstanceRegistry.h"
#include "plugins/base/ObryCorvaneBase.h"
#include "plugins/common/OSCSenderBase.h"

namespace corvane::test::osc {

namespace {

void PutU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void Append(std::vector<uint8_t>& bytes, uint32_t value)
{
    bytes.resize(bytes.size() + 4);
    PutU32(bytes, bytes.size() - 4, value);
}

std::string TextAt(const std::vector<uint8_t>& chunk, size_t offset, size_t size)
{
    const char* start = reinterpret_cast<const char*>(chunk.data() + offset);
    return std::string(start, strnlen(start, size));
}

} // namespace

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

std::vector<uint8_t> MakeProgramChunk(const ProgramFields& fields)
{
    std::vector<uint8_t> chunk(kProgramChunkSize, 0);
    PutU32(chunk, 0, 0x6F627279); // 'obry'
    PutU32(chunk, 4, 0x6272656C); // 'brel'
    PutU32(chunk, 8, 0x00020100);
    memcpy(chunk.data() + kNameOffset, fields.name.data(), std::min<size_t>(fields.name.size(), 31));
    const std::pair<const std::string*, size_t> texts[] = {{&fields.destination, kDestinationOffset},
                                                           {&fields.addressL, kAddressLOffset},
                                                           {&fields.addressR, kAddressROffset}};
    for (const auto& [text, offset] : texts)
        memcpy(chunk.data() + offset, text->data(), std::min<size_t>(text->size(), 256));
    for (size_t i = 0; i < fields.values.size() && i < kParamCount; ++i) {
        uint32_t word;
        memcpy(&word, &fields.values[i], 4);
        PutU32(chunk, kParamsOffset + 4 * i, word);
    }
    return chunk;
}

std::vector<uint8_t> SwapProgramChunk(std::vector<uint8_t> chunk)
{
    for (size_t offset : {size_t{0}, size_t{4}, size_t{8}})
        PutU32(chunk, offset, __builtin_bswap32(U32At(chunk, offset)));
    for (int i = 0; i < kParamCount; ++i)
        PutU32(chunk, kParamsOffset + 4 * i, __builtin_bswap32(U32At(chunk, kParamsOffset + 4 * i)));
    return chunk;
}

ProgramFields ReadProgramChunk(const std::vector<uint8_t>& chunk)
{
    ProgramFields fields;
    if (chunk.size() < kProgramChunkSize)
        return fields;
    fields.name = TextAt(chunk, kNameOffset, 32);
    fields.destination = TextAt(chunk, kDestinationOffset, 256);
    fields.addressL = TextAt(chunk, kAddressLOffset, 256);
    fields.addressR = TextAt(chunk, kAddressROffset, 256);
    for (int i = 0; i < kParamCount; ++i) {
        const uint32_t word = U32At(chunk, kParamsOffset + 4 * i);
        float value;
        memcpy(&value, &word, 4);
        fields.values.push_back(value);
    }
    return fields;
}

std::vector<uint8_t> MakeState(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& records)
{
    std::vector<uint8_t> body;
    for (const auto& [tag, payload] : records) {
        const size_t padded = (payload.size() + 3) & ~size_t{3};
        Append(body, tag);
        Append(body, static_cast<uint32_t>(padded));
        body.insert(body.end(), payload.begin(), payload.end());
        body.resize(body.size() + padded - payload.size(), 0);
    }
    std::vector<uint8_t> state;
    Append(state, 0x4F627279); // 'Obry'
    Append(state, 1);
    Append(state, static_cast<uint32_t>(body.size()));
    state.insert(state.end(), body.begin(), body.end());
    return state;
}

std::vector<std::pair<uint32_t, std::vector<uint8_t>>> RecordsOf(const std::vector<uint8_t>& state)
{
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> records;
    if (state.size() < 12 || U32At(state, 0) != 0x4F627279)
        return records;
    size_t at = 12;
    while (at + 8 <= state.size()) {
        const uint32_t tag = U32At(state, at);
        const uint32_t size = U32At(state, at + 4);
        if (at + 8 + size > state.size())
            break;
        records.emplace_back(tag, std::vector<uint8_t>(state.begin() + static_cast<ptrdiff_t>(at + 8),
                                                       state.begin() + static_cast<ptrdiff_t>(at + 8 + size)));
        at += 8 + size;
    }
    return records;
}

std::vector<uint32_t> TagsOf(const std::vector<uint8_t>& state)
{
    std::vector<uint32_t> tags;
    for (const auto& record : RecordsOf(state))
        tags.push_back(record.first);
    return tags;
}

std::vector<uint8_t> RecordOf(const std::vector<uint8_t>& state, uint32_t tag)
{
    std::vector<uint8_t> found;
    for (const auto& record : RecordsOf(state))
        if (record.first == tag)
            found = record.second;
    return found;
}

std::vector<uint8_t> Bytes(const std::string& text, bool withNul)
{
    std::vector<uint8_t> bytes(text.begin(), text.end());
    if (withNul)
        bytes.push_back(0);
    return bytes;
}

std::vector<uint8_t> ChunkOf(ObryCorvaneBase& plugin)
{
    void* data = nullptr;
    const int32_t size = plugin.getChunk(&data, false);
    if (!data || size <= 0)
        return {};
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

int32_t Restore(ObryCorvaneBase& plugin, std::vector<uint8_t> state)
{
    return plugin.setChunk(state.data(), static_cast<int32_t>(state.size()), false);
}

void SendControlChange(ObryCorvaneBase& plugin, int channel, int controller, int value, bool waitForHandOver)
{
    VstMidiEvent event{};
    event.type = kVstMidiType;
    event.byteSize = sizeof event;
    event.midiData[0] = static_cast<char>(0xB0 | (channel & 15));
    event.midiData[1] = static_cast<char>(controller & 127);
    event.midiData[2] = static_cast<char>(value & 127);
    VstEvents events{};
    events.numEvents = 1;
    events.events[0] = reinterpret_cast<VstEvent*>(&event);
    plugin.processEvents(&events);
    std::vector<float> left(64), right(64), outL(64), outR(64);
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    plugin.processReplacing(inputs, outputs, 64);
    // The audio thread hands learning and learned mappings over.
    if (waitForHandOver)
        InstanceRegistry::WaitForHandOver();
}

std::shared_ptr<SendGate> SendGate::Hold(OSCSenderBase& sender)
{
    auto gate = std::make_shared<SendGate>();
    sender.SetBeforeSendHook([gate] { gate->Arrive(); });
    return gate;
}

void SendGate::Arrive()
{
    std::unique_lock<std::mutex> guard(lock);
    ++arrived;
    changed.notify_all();
    changed.wait(guard, [this] { return open; });
}

bool SendGate::WaitForArrival(int count)
{
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::seconds(10), [&] { return arrived >= count; });
}

void SendGate::Release()
{
    std::lock_guard<std::mutex> guard(lock);
    open = true;
    changed.notify_all();
}

} // namespace corvane::test::osc
