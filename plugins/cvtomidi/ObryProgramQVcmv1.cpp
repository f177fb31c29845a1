#include "plugins/cvtomidi/ObryProgramQVcmv1.h"

#include <atomic>
#include <bit>
#include <cstdio>
#include <cstring>

// The chunk is the program's memory image; it is little-endian on disk.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr size_t ParamEnd(int32_t index)
{
    return offsetof(ObryProgramQVcmv1::Chunk, params) + sizeof(float) * static_cast<size_t>(index + 1);
}

constexpr uint32_t SwapWord(uint32_t word)
{
    return __builtin_bswap32(word);
}

float SwapFloat(float value)
{
    return std::bit_cast<float>(SwapWord(std::bit_cast<uint32_t>(value)));
}

} // namespace

ObryProgramQVcmv1::ObryProgramQVcmv1()
{
    memset(&chunk, 0, sizeof chunk);
    chunk.marker = kMarker;
    chunk.code = kCode;
    chunk.version = kVersion;
    snapshot = chunk;
}

void ObryProgramQVcmv1::SetParameter(int32_t index, float value)
{
    if (index >= 0 && index < kNumParams)
        std::atomic_ref<float>(chunk.params[index]).store(value, std::memory_order_relaxed);
}

float ObryProgramQVcmv1::GetParameter(int32_t index)
{
    if (index < 0 || index >= kNumParams)
        return 0.0f;
    return std::atomic_ref<float>(chunk.params[index]).load(std::memory_order_relaxed);
}

float* ObryProgramQVcmv1::GetParameterPtr(int32_t index)
{
    return index >= 0 && index < kNumParams ? &chunk.params[index] : nullptr;
}

const float* ObryProgramQVcmv1::GetParameterPtr(int32_t index) const
{
    return index >= 0 && index < kNumParams ? &chunk.params[index] : nullptr;
}

void ObryProgramQVcmv1::SetName(const char* text)
{
    strncpy(chunk.name, text ? text : "", sizeof chunk.name);
    chunk.name[sizeof chunk.name - 1] = 0;
}

void ObryProgramQVcmv1::SetDeviceName(const char* text)
{
    strncpy(chunk.deviceName, text ? text : "", sizeof chunk.deviceName);
    chunk.deviceName[sizeof chunk.deviceName - 1] = 0;
}

int32_t ObryProgramQVcmv1::GetChunk(void** data)
{
    if (!data)
        return 0;
    memcpy(&snapshot, &chunk, offsetof(Chunk, params));
    for (int32_t i = 0; i < kNumParams; ++i)
        snapshot.params[i] = GetParameter(i);
    *data = &snapshot;
    return kChunkSize;
}

void ObryProgramQVcmv1::SetChunk(const void* data, int32_t size)
{
    if (!data || size <= 0)
        return;
    const size_t count = static_cast<size_t>(size) < sizeof(Chunk) ? static_cast<size_t>(size) : sizeof(Chunk);

    Chunk incoming;
    memcpy(&incoming, &chunk, offsetof(Chunk, params));
    for (int32_t i = 0; i < kNumParams; ++i)
        incoming.params[i] = GetParameter(i);
    const Chunk previous = incoming;
    memcpy(&incoming, data, count);

    if (count >= offsetof(Chunk, version) && incoming.marker == SwapWord(kMarker)
        && incoming.code == SwapWord(kCode)) {
        fputs(kSwapText, stdout);
        fflush(stdout);
        // Only the values that came from the data are in the other order;
        // those past its end are still ours.
        for (int32_t i = 0; i < kNumParams; ++i)
            if (ParamEnd(i) <= count)
                incoming.params[i] = SwapFloat(incoming.params[i]);
    }
    // A value the data cuts short would be half ours and half theirs.
    for (int32_t i = 0; i < kNumParams; ++i)
        if (ParamEnd(i) > count && ParamEnd(i) - sizeof(float) < count)
            incoming.params[i] = previous.params[i];

    incoming.marker = kMarker;
    incoming.code = kCode;
    incoming.version = kVersion;
    incoming.name[sizeof incoming.name - 1] = 0;
    incoming.deviceName[sizeof incoming.deviceName - 1] = 0;

    memcpy(&chunk, &incoming, offsetof(Chunk, params));
    for (int32_t i = 0; i < kNumParams; ++i)
        SetParameter(i, incoming.params[i]);
}
