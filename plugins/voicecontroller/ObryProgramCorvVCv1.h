// The Voice Controller's program: its values and its calibration in one
// 1096-byte chunk, which is also its saved form (u32 and f32 little-endian):
//    0  marker 'obry'        4  code 'QZs1' (both variants)   8  version 0x00020100
//   12  program name, 32 bytes, NUL-terminated (byte 43 is always 0)
//   44  129 f32 calibration values (the value of each calibration entry)
//  560  134 f32 parameter values
// A chunk written in the other byte order (marker and code byte-reversed) is
// converted on load.
//
// Threads: parameter values are read and written from any thread (host
// automation, editor, OSC, the audio thread) as single relaxed atomic words;
// the calibration words are copied from and to the plug-in's table by
// getChunk and setChunk on the host's thread; the name and the chunk
// operations belong to the host's or editor's thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugins/common/Calibration.h"
#include "framework/ObryProgram.h"

class ObryProgramCorvVCv1 final : public ObryProgram {
public:
    static constexpr int32_t kNumParams = 134;
    static constexpr int32_t kCalibrationCount = CalibrationTableLength;
    static constexpr int32_t kChunkSize = 1096;
    static constexpr size_t kNameSize = 32;
    static constexpr uint32_t kMarker = 0x6F627279; // 'obry'
    static constexpr uint32_t kCode = 0x515A7331;   // 'QZs1'
    static constexpr uint32_t kVersion = 0x00020100;
    static constexpr const char* kSwapText = "brel vst byte swapping chunk\n";

    struct Chunk {
        uint32_t marker;
        uint32_t code;
        uint32_t version;
        char name[kNameSize];
        float calibration[kCalibrationCount];
        float params[kNumParams];
    };

    static ObryProgram* Create() { return new ObryProgramCorvVCv1; }
    ObryProgramCorvVCv1();

    // Indices outside 0..133 are ignored (reads give 0).
    void SetParameter(int32_t index, float value) override;
    float GetParameter(int32_t index) override;
    float* GetParameterPtr(int32_t index) override;
    const float* GetParameterPtr(int32_t index) const override;
    // Keeps at most 31 characters.
    void SetName(const char* name) override;
    char* GetName() override { return chunk.name; }

    // A snapshot of the chunk, valid until the next GetChunk; 1096 bytes.
    int32_t GetChunk(void** data) override;
    // Copies min(size, 1096) bytes over the chunk (a word the data cuts
    // short keeps its old value), converts a chunk of the other byte order
    // (SwapBytes), then stamps the header again and ends the name.
    void SetChunk(const void* data, int32_t size) override;

    // Calibration value i (0..128); outside gives 0 / is ignored.
    float Calibration(int32_t i) const;
    void SetCalibration(int32_t i, float value);

    // Reverses the byte order of the header words, the calibration values
    // and the parameter values (not the name), and says so on the debug output.
    static void SwapBytes(Chunk& chunk);

private:
    Chunk chunk;
    Chunk snapshot; // handed out by GetChunk
};

static_assert(sizeof(ObryProgramCorvVCv1::Chunk) == ObryProgramCorvVCv1::kChunkSize);
static_assert(offsetof(ObryProgramCorvVCv1::Chunk, name) == 12);
static_assert(offsetof(ObryProgramCorvVCv1::Chunk, calibration) == 44);
static_assert(offsetof(ObryProgramCorvVCv1::Chunk, params) == 560);
