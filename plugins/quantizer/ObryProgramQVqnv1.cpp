#include "plugins/quantizer/ObryProgramQVqnv1.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

// Keeps at most size - 1 characters and fills the rest with NULs, so that no
// stale bytes are saved behind the text.
void CopyText(char* field, const char* text, size_t size)
{
    const size_t length = text ? strnlen(text, size - 1) : 0;
    if (length > 0)
        memmove(field, text, length);
    memset(field + length, 0, size - length);
}

// The 4-byte words of the chunk that are numbers (and so change with the
// byte order): the header, then the calibration and the parameters.
bool IsNumberWord(size_t offset)
{
    using Chunk = ObryProgramQVqnv1::Chunk;
    return offset < offsetof(Chunk, name)
        || (offset >= offsetof(Chunk, calibration) && offset < offsetof(Chunk, reserved));
}

} // namespace

ObryProgramQVqnv1::ObryProgramQVqnv1()
{
    memset(&chunk, 0, sizeof chunk);
    chunk.marker = kMarker;
    chunk.code = kCode;
    chunk.version = kVersion;
    snapshot = chunk;
}

void ObryProgramQVqnv1::SetParameter(int32_t index, float value)
{
    if (index >= 0 && index < kNumParams)
        std::atomic_ref<float>(chunk.params[index]).store(value, std::memory_order_relaxed);
}

float ObryProgramQVqnv1::GetParameter(int32_t index)
{
    if (index < 0 || index >= kNumParams)
        return 0.0f;
    return std::atomic_ref<float>(chunk.params[index]).load(std::memory_order_relaxed);
}

void ObryProgramQVqnv1::SetName(const char* text)
{
    CopyText(chunk.name, text, sizeof chunk.name);
}

void ObryProgramQVqnv1::SetCalibrationName(const char* text)
{
    CopyText(chunk.calibrationName, text, sizeof chunk.calibrationName);
}

int32_t ObryProgramQVqnv1::GetChunk(void** data)
{
    if (!data)
        return 0;
    snapshot = chunk;
    for (int32_t i = 0; i < kNumParams; ++i)
        snapshot.params[i] = GetParameter(i);
    memset(snapshot.reserved, 0, sizeof snapshot.reserved);
    *data = &snapshot;
    return kChunkSize;
}

void ObryProgramQVqnv1::SetChunk(const void* data, int32_t size)
{
    if (!data || size <= 0)
        return;
    const size_t count = static_cast<size_t>(size) < sizeof(Chunk) ? static_cast<size_t>(size) : sizeof(Chunk);

    Chunk previous = chunk;
    for (int32_t i = 0; i < kNumParams; ++i)
        previous.params[i] = GetParameter(i);
    Chunk incoming = previous;
    memcpy(&incoming, data, count);

    const bool swapped = count >= offsetof(Chunk, version) && incoming.marker == __builtin_bswap32(kMarker)
        && incoming.code == __builtin_bswap32(kCode);
    if (swapped) {
        fputs(kSwapText, stdout);
        fflush(stdout);
    }
    auto* words = reinterpret_cast<uint32_t*>(&incoming);
    const auto* oldWords = reinterpret_cast<const uint32_t*>(&previous);
    for (size_t offset = 0; offset < offsetof(Chunk, reserved); offset += 4) {
        if (!IsNumberWord(offset))
            continue;
        uint32_t& word = words[offset / 4];
        if (offset + 4 <= count) {
            // Only the words that came from the data are in the other order.
            if (swapped)
                word = __builtin_bswap32(word);
        } else if (offset < count) {
            // A word the data cuts short would be half ours and half theirs.
            word = oldWords[offset / 4];
        }
    }

    incoming.marker = kMarker;
    incoming.code = kCode;
    incoming.version = kVersion;
    incoming.name[sizeof incoming.name - 1] = 0;
    incoming.calibrationName[sizeof incoming.calibrationName - 1] = 0;
    memset(incoming.reserved, 0, sizeof incoming.reserved);

    memcpy(&chunk, &incoming, offsetof(Chunk, params));
    memcpy(chunk.reserved, incoming.reserved, sizeof chunk - offsetof(Chunk, reserved));
    for (int32_t i = 0; i < kNumParams; ++i)
        SetParameter(i, incoming.params[i]);
}
