// The frames of an expander controller's piece turned into output samples,
// eight frames at a time in vector registers. Every frame starts from the
// piece's bytes; a byte may instead follow an input (the Brink's CV inputs),
// gate inputs and the serial MIDI line set their gate bits, and the stream of
// the "Input Thru" pair is merged into the words (the word rules are those
// of ExpanderDataWords.h).
//
// Audio thread: integer and single-precision arithmetic on the caller's
// buffers; nothing allocates.
#pragma once

#include <cstdint>

#include "plugins/common/ExpanderDataWords.h"

// What the frames of a piece are made of. Input pointers are read at the
// frame's index; null where nothing is routed.
struct ExpanderFrameSources {
    static constexpr int32_t kMaxGates = 8;

    // Byte k of every frame (0..255).
    uint8_t bytes[kMaxExpanderFrameBytes] = {};
    // Byte k from an input instead, where level[k] is set:
    // clamp(trunc(x x levelScale[k] + levelOffset[k]) + bytes[k], 0, 255)
    // with x held to -4..4 and NaN read as 0.
    const float* level[kMaxExpanderFrameBytes] = {};
    float levelScale[kMaxExpanderFrameBytes] = {};
    float levelOffset[kMaxExpanderFrameBytes] = {};
    // Gate inputs: a sample above 0 sets gate gateBit[g] (0-based; gates
    // beyond the frame are ignored).
    const float* gate[kMaxGates] = {};
    int32_t gateBit[kMaxGates] = {};
    int32_t gateCount = 0;
    // The gate the serial line sets where the caller's flags say so.
    int32_t serialBit = 0;
    // The stream merged into the words (both or neither).
    const float* thruLeft = nullptr;
    const float* thruRight = nullptr;
};

// Frames first .. first+frames-1 of a Brink (five bytes) or Carro (six)
// frame stream into left/right at the same indices. serial: one flag per
// frame of the run (all bits set where the line's gate bit is set), or null
// while the line idles. Every input of a group of frames is read before its
// outputs are written, so an output may be the same buffer as an input; with
// oneAtATime (buffers that overlap otherwise) each frame is read and written
// before the next. Returns the last frame's words before the merge ({0, 0}
// for no frames). The same bits as frame by frame: bytes, then gates, then
// words, merge and sample.
ExpanderWordPair EncodeBrinkFrames(const ExpanderFrameSources& sources, int32_t first, int32_t frames,
                                   const uint32_t* serial, float* left, float* right, bool oneAtATime);
ExpanderWordPair EncodeCarroFrames(const ExpanderFrameSources& sources, int32_t first, int32_t frames,
                                   const uint32_t* serial, float* left, float* right, bool oneAtATime);
