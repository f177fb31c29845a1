// The CV To MIDI program: its whole state is one 416-byte chunk, saved as is
// (u32 and f32 in little-endian order; see BrelChunkProgram.h):
//    0  marker 'obry'         4  code 'brel'        8  version 0x00020100
//   12  program name, 32 bytes, NUL-terminated
//   44  MIDI output device name, 256 bytes, NUL-terminated
//  300  29 f32 parameter values
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugins/common/BrelChunkProgram.h"

class ObryProgramQVcmv1 final : public ObryBrelChunkProgram<1, 29> {
public:
    static constexpr size_t kDeviceNameSize = kTextSize;

    static ObryProgram* Create() { return new ObryProgramQVcmv1; }

    // The device name kept in the program; at most 255 characters.
    const char* DeviceName() const { return Text(0); }
    void SetDeviceName(const char* name) { SetText(0, name); }
};

static_assert(ObryProgramQVcmv1::kChunkSize == 416);
static_assert(offsetof(ObryProgramQVcmv1::Chunk, name) == 12);
static_assert(offsetof(ObryProgramQVcmv1::Chunk, texts) == 44);
static_assert(offsetof(ObryProgramQVcmv1::Chunk, params) == 300);
