// The Quantizer program: its whole state is one 1848-byte chunk, saved as is
// (u32, i32 and f32 in little-endian order):
//     0  marker 'obry'        4  code 'QVqn'        8  version 0x00020100
//    12  program name, 32 bytes, NUL-terminated
//    44  QuantizerCalibration (count, 129 f32 levels, 129 i32 notes)
//  1080  23 f32 parameter values
//  1172  420 reserved bytes (written as zeros, ignored when read)
//  1592  calibration name, 256 bytes, NUL-terminated
// A chunk written in the other byte order (marker and code byte-reversed) is
// converted on load.
//
// Threads: parameter values are read and written from any thread as single
// relaxed atomic words; the name, the calibration and the chunk operations
// belong to the host's or editor's thread (the plug-in serialises them).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "framework/CalibrationProperties.h"
#include "framework/ObryProgram.h"

static_assert(std::endian::native == std::endian::little);

class ObryProgramQVqnv1 final : public ObryProgram {
public:
    static constexpr int32_t kNumParams = 23;
    static constexpr size_t kNameSize = 32;
    static constexpr size_t kCalibrationNameSize = 256;
    static constexpr uint32_t kMarker = 0x6F627279; // 'obry'
    static constexpr uint32_t kCode = 0x5156716E;   // 'QVqn'
    static constexpr uint32_t kVersion = 0x00020100;
    static constexpr const char* kSwapText = "QVqn vst byte swapping chunk\n";

    struct Chunk {
        uint32_t marker;
        uint32_t code;
        uint32_t version;
        char name[kNameSize];
        QuantizerCalibration calibration;
        float params[kNumParams];
        uint8_t reserved[420];
        char calibrationName[kCalibrationNameSize];
    };
    static constexpr int32_t kChunkSize = static_cast<int32_t>(sizeof(Chunk));

    static ObryProgram* Create() { return new ObryProgramQVqnv1; }

    ObryProgramQVqnv1();

    // Indices outside 0..kNumParams-1 are ignored (reads give 0).
    void SetParameter(int32_t index, float value) override;
    float GetParameter(int32_t index) override;
    void SetName(const char* text) override;
    char* GetName() override { return chunk.name; }

    // A snapshot of the chunk, valid until the next GetChunk.
    int32_t GetChunk(void** data) override;
    // Copies min(size, kChunkSize) bytes over the chunk; a word the data cuts
    // short keeps its old value. Converts a chunk of the other byte order
    // (printing kSwapText to standard output), then stamps the header again
    // and terminates both texts. The calibration is taken as it comes; the
    // plug-in checks it before use.
    void SetChunk(const void* data, int32_t size) override;

    const QuantizerCalibration& Calibration() const { return chunk.calibration; }
    void SetCalibration(const QuantizerCalibration& calibration) { chunk.calibration = calibration; }
    const char* CalibrationName() const { return chunk.calibrationName; }
    // Keeps the first 255 characters of `text` (null: empty).
    void SetCalibrationName(const char* text);

private:
    Chunk chunk;
    Chunk snapshot; // handed out by GetChunk
};

static_assert(ObryProgramQVqnv1::kChunkSize == 1848);
static_assert(offsetof(ObryProgramQVqnv1::Chunk, calibration) == 44);
static_assert(offsetof(ObryProgramQVqnv1::Chunk, params) == 1080);
static_assert(offsetof(ObryProgramQVqnv1::Chunk, calibrationName) == 1592);
