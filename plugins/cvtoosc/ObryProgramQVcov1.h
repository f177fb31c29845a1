// The CV To OSC program: its whole state is one 840-byte chunk, saved as is
// (u32 and f32 in little-endian order; see BrelChunkProgram.h):
//    0  marker 'obry'         4  code 'brel'        8  version 0x00020100
//   12  program name, 32 bytes, NUL-terminated
//   44  destination, host:port with an optional leading "osc.udp://"
//  300  OSC address of channel L
//  556  OSC address of channel R     (each text 256 bytes, NUL-terminated)
//  812  7 f32 parameter values
// The factory leaves the three texts empty.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugins/common/BrelChunkProgram.h"

class ObryProgramQVcov1 final : public ObryBrelChunkProgram<3, 7> {
public:
    enum TextIndex : int32_t { kDestination = 0, kAddressL = 1, kAddressR = 2 };

    static ObryProgram* Create() { return new ObryProgramQVcov1; }
};

static_assert(ObryProgramQVcov1::kChunkSize == 840);
static_assert(offsetof(ObryProgramQVcov1::Chunk, name) == 12);
static_assert(offsetof(ObryProgramQVcov1::Chunk, texts) == 44);
static_assert(offsetof(ObryProgramQVcov1::Chunk, texts[1]) == 300);
static_assert(offsetof(ObryProgramQVcov1::Chunk, texts[2]) == 556);
static_assert(offsetof(ObryProgramQVcov1::Chunk, params) == 812);
