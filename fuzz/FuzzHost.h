// What the fuzz targets share: plug-ins made through the module's factory
// and opened as a host opens them, kept for the whole run (making one per
// input would spend the run in Lua start-up), and a quiet process: the
// server's error lines go to /dev/null and host names are never looked up
// (a fuzzed reply URL would otherwise wait on the name server).
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugins/base/ObryCorvaneBase.h"

namespace corvane::fuzz {

// The plug-in classes of the shell, in the factory's order.
extern const int32_t kPluginIds[];
extern const size_t kPluginCount;

// An opened, resumed plug-in of class `id` (48 kHz, blocks of 64 frames),
// made on first use and kept. Null for an unknown id.
ObryCorvaneBase* Plugin(int32_t id);

// One block of 64 frames through the host's processReplacing.
void ProcessBlock(ObryCorvaneBase* plugin);

// Standard output to /dev/null, user folders in a private temporary folder.
void QuietProcess();

// Reads the input front to back; past the end every read gives 0.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data(data), size(size) {}
    uint8_t Byte() { return position < size ? data[position++] : 0; }
    uint32_t U32()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = value << 8 | Byte();
        return value;
    }
    double Double();
    // Up to `most` bytes of the input (fewer at its end).
    const uint8_t* Bytes(size_t most, size_t* taken);
    size_t Left() const { return size - position; }

private:
    const uint8_t* data;
    size_t size;
    size_t position = 0;
};

} // namespace corvane::fuzz
