// Programs whose whole state is one chunk of their own, saved as is (u32 and
// f32 in little-endian order):
//    0  marker 'obry'         4  code 'brel'        8  version 0x00020100
//   12  program name, 32 bytes, NUL-terminated
//   44  kStrings texts of 256 bytes each, NUL-terminated
//   ..  kParams f32 parameter values
// A chunk written in the other byte order (marker and code byte-reversed) is
// converted on load. Used by the CV To MIDI ('QVcmv1': the MIDI output
// device) and the CV To OSC ('QVcov1': destination and two addresses)
// programs.
//
// Threads: parameter values are read and written from any thread (host
// automation, editor, OSC) as single relaxed atomic words; the name, the
// texts and the chunk operations belong to the host's or editor's thread
// (the plug-in serialises them with its own lock where they meet).
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "framework/ObryProgram.h"

// The chunk is the program's memory image; it is little-endian on disk.
static_assert(std::endian::native == std::endian::little);

template <int32_t Strings, int32_t Params>
class ObryBrelChunkProgram : public ObryProgram {
public:
    static constexpr int32_t kNumStrings = Strings;
    static constexpr int32_t kNumParams = Params;
    static constexpr size_t kNameSize = 32;
    static constexpr size_t kTextSize = 256;
    static constexpr uint32_t kMarker = 0x6F627279; // 'obry'
    static constexpr uint32_t kCode = 0x6272656C;   // 'brel'
    static constexpr uint32_t kVersion = 0x00020100;
    static constexpr const char* kSwapText = "brel vst byte swapping chunk\n";

    struct Chunk {
        uint32_t marker;
        uint32_t code;
        uint32_t version;
        char name[kNameSize];
        char texts[Strings][kTextSize];
        float params[Params];
    };
    static constexpr int32_t kChunkSize = static_cast<int32_t>(sizeof(Chunk));

    ObryBrelChunkProgram()
    {
        memset(&chunk, 0, sizeof chunk);
        chunk.marker = kMarker;
        chunk.code = kCode;
        chunk.version = kVersion;
        snapshot = chunk;
    }

    // Indices outside 0..kNumParams-1 are ignored (reads give 0).
    void SetParameter(int32_t index, float value) override
    {
        if (index >= 0 && index < Params)
            std::atomic_ref<float>(chunk.params[index]).store(value, std::memory_order_relaxed);
    }
    float GetParameter(int32_t index) override
    {
        if (index < 0 || index >= Params)
            return 0.0f;
        return std::atomic_ref<float>(chunk.params[index]).load(std::memory_order_relaxed);
    }
    float* GetParameterPtr(int32_t index) override
    {
        return index >= 0 && index < Params ? &chunk.params[index] : nullptr;
    }
    const float* GetParameterPtr(int32_t index) const override
    {
        return index >= 0 && index < Params ? &chunk.params[index] : nullptr;
    }
    void SetName(const char* text) override { CopyText(chunk.name, text, sizeof chunk.name); }
    char* GetName() override { return chunk.name; }

    // A snapshot of the chunk, valid until the next GetChunk.
    int32_t GetChunk(void** data) override
    {
        if (!data)
            return 0;
        memcpy(&snapshot, &chunk, offsetof(Chunk, params));
        for (int32_t i = 0; i < Params; ++i)
            snapshot.params[i] = GetParameter(i);
        *data = &snapshot;
        return kChunkSize;
    }

    // Copies min(size, kChunkSize) bytes over the chunk (a float that the
    // data cuts short keeps its old value), converts a chunk of the other
    // byte order (printing kSwapText to standard output), then stamps the
    // header again and terminates the name and every text.
    void SetChunk(const void* data, int32_t size) override
    {
        if (!data || size <= 0)
            return;
        const size_t count = static_cast<size_t>(size) < sizeof(Chunk) ? static_cast<size_t>(size) : sizeof(Chunk);

        Chunk incoming;
        memcpy(&incoming, &chunk, offsetof(Chunk, params));
        for (int32_t i = 0; i < Params; ++i)
            incoming.params[i] = GetParameter(i);
        const Chunk previous = incoming;
        memcpy(&incoming, data, count);

        if (count >= offsetof(Chunk, version) && incoming.marker == __builtin_bswap32(kMarker) &&
            incoming.code == __builtin_bswap32(kCode)) {
            fputs(kSwapText, stdout);
            fflush(stdout);
            // Only the values that came from the data are in the other
            // order; those past its end are still ours.
            for (int32_t i = 0; i < Params; ++i)
                if (ParamEnd(i) <= count)
                    incoming.params[i] =
                        std::bit_cast<float>(__builtin_bswap32(std::bit_cast<uint32_t>(incoming.params[i])));
        }
        // A value the data cuts short would be half ours and half theirs.
        for (int32_t i = 0; i < Params; ++i)
            if (ParamEnd(i) > count && ParamEnd(i) - sizeof(float) < count)
                incoming.params[i] = previous.params[i];

        incoming.marker = kMarker;
        incoming.code = kCode;
        incoming.version = kVersion;
        incoming.name[sizeof incoming.name - 1] = 0;
        for (int32_t t = 0; t < Strings; ++t)
            incoming.texts[t][kTextSize - 1] = 0;

        memcpy(&chunk, &incoming, offsetof(Chunk, params));
        for (int32_t i = 0; i < Params; ++i)
            SetParameter(i, incoming.params[i]);
    }

    // Text `which` (0..kNumStrings-1) as kept in the program; at most 255
    // characters. Another index gives the empty text.
    const char* Text(int32_t which) const { return which >= 0 && which < Strings ? chunk.texts[which] : ""; }
    // Keeps the first 255 characters of `text` (null: empty).
    void SetText(int32_t which, const char* text)
    {
        if (which >= 0 && which < Strings)
            CopyText(chunk.texts[which], text, kTextSize);
    }

private:
    static constexpr size_t ParamEnd(int32_t index)
    {
        return offsetof(Chunk, params) + sizeof(float) * static_cast<size_t>(index + 1);
    }
    // Keeps at most size - 1 characters and fills the rest of the field
    // with NULs, so that no stale bytes are saved behind the text.
    static void CopyText(char* field, const char* text, size_t size)
    {
        const size_t length = text ? strnlen(text, size - 1) : 0;
        if (length > 0)
            memmove(field, text, length);
        memset(field + length, 0, size - length);
    }

    Chunk chunk;
    Chunk snapshot; // handed out by GetChunk
};
