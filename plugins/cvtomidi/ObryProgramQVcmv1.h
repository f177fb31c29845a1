// The CV To MIDI program: its whole state is one 416-byte chunk, saved as is
// (u32 and f32 in little-endian order):
//    0  marker 'obry'         4  code 'brel'        8  version 0x00020100
//   12  program name, 32 bytes, NUL-terminated
//   44  MIDI output device name, 256 bytes, NUL-terminated
//  300  29 f32 parameter values
// A chunk written in the other byte order (marker and code byte-reversed) is
// converted on load.
//
// Threads: parameter values are read and written from any thread (host
// automation, editor, OSC) as single relaxed atomic words; the name, the
// device name and the chunk operations belong to the host's or editor's
// thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugins/common/ObryProgram.h"

class ObryProgramQVcmv1 final : public ObryProgram {
public:
    static constexpr int32_t kNumParams = 29;
    static constexpr int32_t kChunkSize = 416;
    static constexpr size_t kNameSize = 32;
    static constexpr size_t kDeviceNameSize = 256;
    static constexpr uint32_t kMarker = 0x6F627279;  // 'obry'
    static constexpr uint32_t kCode = 0x6272656C;    // 'brel'
    static constexpr uint32_t kVersion = 0x00020100;
    static constexpr const char* kSwapText = "brel vst byte swapping chunk\n";

    struct Chunk {
        uint32_t marker;
        uint32_t code;
        uint32_t version;
        char name[kNameSize];
        char deviceName[kDeviceNameSize];
        float params[kNumParams];
    };

    static ObryProgram* Create() { return new ObryProgramQVcmv1; }
    ObryProgramQVcmv1();

    // Indices outside 0..28 are ignored (reads give 0).
    void SetParameter(int32_t index, float value) override;
    float GetParameter(int32_t index) override;
    float* GetParameterPtr(int32_t index) override;
    const float* GetParameterPtr(int32_t index) const override;
    void SetName(const char* name) override;
    char* GetName() override { return chunk.name; }

    // A snapshot of the chunk, valid until the next GetChunk; 416 bytes.
    int32_t GetChunk(void** data) override;
    // Copies min(size, 416) bytes over the chunk (a float that the data cuts
    // short keeps its old value), converts a chunk of the other byte order
    // (printing kSwapText to standard output), then stamps the header again
    // and terminates both strings.
    void SetChunk(const void* data, int32_t size) override;

    // The device name kept in the program; at most 255 characters.
    const char* DeviceName() const { return chunk.deviceName; }
    void SetDeviceName(const char* name);

private:
    Chunk chunk;
    Chunk snapshot; // handed out by GetChunk
};

static_assert(sizeof(ObryProgramQVcmv1::Chunk) == ObryProgramQVcmv1::kChunkSize);
static_assert(offsetof(ObryProgramQVcmv1::Chunk, name) == 12);
static_assert(offsetof(ObryProgramQVcmv1::Chunk, deviceName) == 44);
static_assert(offsetof(ObryProgramQVcmv1::Chunk, params) == 300);
