#include "plugins/voicecontroller/ObryProgramCorvVCv1.h"

#include <atomic>
#include <bit>
#include <cstring>

#include "platform/Debug.h"

// The chunk is the program's memory image; it is little-endian on disk.
static_assert(std::endian::native == std::endian::little);

namespace {

using Chunk = ObryProgramCorvVCv1::Chunk;

uint32_t SwapWord(uint32_t word)
{
    return __builtin_bswap32(word);
}

void SwapFloat(float& value)
{
    value = std::bit_cast<float>(SwapWord(std::bit_cast<uint32_t>(value)));
}

float LoadRelaxed(const float& slot)
{
    return std::atomic_ref<float>(const_cast<float&>(slot)).load(std::memory_order_relaxed);
}

void StoreRelaxed(float& slot, float value)
{
    std::atomic_ref<float>(slot).store(value, std::memory_order_relaxed);
}

// Whether the 4-byte word at `offset` came whole from `count` bytes of data.
bool WordFromData(size_t offset, size_t count)
{
    return offset + sizeof(float) <= count;
}

} // namespace

ObryProgramCorvVCv1::ObryProgramCorvVCv1()
{
    memset(&chunk, 0, sizeof chunk);
    chunk.marker = kMarker;
    chunk.code = kCode;
    chunk.version = kVersion;
    snapshot = chunk;
}

void ObryProgramCorvVCv1::SetParameter(int32_t index, float value)
{
    if (index >= 0 && index < kNumParams)
        StoreRelaxed(chunk.params[index], value);
}

float ObryProgramCorvVCv1::GetParameter(int32_t index)
{
    return index >= 0 && index < kNumParams ? LoadRelaxed(chunk.params[index]) : 0.0f;
}

float* ObryProgramCorvVCv1::GetParameterPtr(int32_t index)
{
    return index >= 0 && index < kNumParams ? &chunk.params[index] : nullptr;
}

const float* ObryProgramCorvVCv1::GetParameterPtr(int32_t index) const
{
    return index >= 0 && index < kNumParams ? &chunk.params[index] : nullptr;
}

void ObryProgramCorvVCv1::SetName(const char* text)
{
    strncpy(chunk.name, text ? text : "", sizeof chunk.name);
    chunk.name[sizeof chunk.name - 1] = 0;
}

float ObryProgramCorvVCv1::Calibration(int32_t i) const
{
    return i >= 0 && i < kCalibrationCount ? LoadRelaxed(chunk.calibration[i]) : 0.0f;
}

void ObryProgramCorvVCv1::SetCalibration(int32_t i, float value)
{
    if (i >= 0 && i < kCalibrationCount)
        StoreRelaxed(chunk.calibration[i], value);
}

int32_t ObryProgramCorvVCv1::GetChunk(void** data)
{
    if (!data)
        return 0;
    memcpy(&snapshot, &chunk, offsetof(Chunk, calibration));
    for (int32_t i = 0; i < kCalibrationCount; ++i)
        snapshot.calibration[i] = Calibration(i);
    for (int32_t i = 0; i < kNumParams; ++i)
        snapshot.params[i] = GetParameter(i);
    *data = &snapshot;
    return kChunkSize;
}

void ObryProgramCorvVCv1::SwapBytes(Chunk& c)
{
    corvane::DebugPrintf("%s", kSwapText);
    c.marker = SwapWord(c.marker);
    c.code = SwapWord(c.code);
    c.version = SwapWord(c.version);
    for (float& value : c.calibration)
        SwapFloat(value);
    for (float& value : c.params)
        SwapFloat(value);
}

void ObryProgramCorvVCv1::SetChunk(const void* data, int32_t size)
{
    if (!data || size <= 0)
        return;
    const size_t count = static_cast<size_t>(size) < sizeof(Chunk) ? static_cast<size_t>(size) : sizeof(Chunk);

    Chunk previous;
    memcpy(&previous, &chunk, offsetof(Chunk, calibration));
    for (int32_t i = 0; i < kCalibrationCount; ++i)
        previous.calibration[i] = Calibration(i);
    for (int32_t i = 0; i < kNumParams; ++i)
        previous.params[i] = GetParameter(i);
    Chunk incoming = previous;
    memcpy(&incoming, data, count);

    if (incoming.marker == SwapWord(kMarker) && incoming.code == SwapWord(kCode))
        SwapBytes(incoming);
    // Words the data did not give whole stay ours: a short chunk overwrites
    // only what it holds, and a value it cuts in two would be half ours and
    // half theirs (and, swapped, not ours at all).
    for (int32_t i = 0; i < kCalibrationCount; ++i)
        if (!WordFromData(offsetof(Chunk, calibration) + sizeof(float) * static_cast<size_t>(i), count))
            incoming.calibration[i] = previous.calibration[i];
    for (int32_t i = 0; i < kNumParams; ++i)
        if (!WordFromData(offsetof(Chunk, params) + sizeof(float) * static_cast<size_t>(i), count))
            incoming.params[i] = previous.params[i];

    incoming.marker = kMarker;
    incoming.code = kCode;
    incoming.version = kVersion;
    incoming.name[sizeof incoming.name - 1] = 0;

    memcpy(&chunk, &incoming, offsetof(Chunk, calibration));
    for (int32_t i = 0; i < kCalibrationCount; ++i)
        SetCalibration(i, incoming.calibration[i]);
    for (int32_t i = 0; i < kNumParams; ++i)
        SetParameter(i, incoming.params[i]);
}
