// The knob atlas "buttons.png" (256 x 128 RGBA), drawn by our own code: for
// each of three knob sizes a face image (turned with the value: the lit
// part of the ring, the cap and its pointer) and an arc image (fixed: the
// unlit track and the same cap). The editors' knob renderers cut the two
// images into the swept and the remaining sector.
//
// Positions in atlas pixels, from the top-left corner:
//   tiny   face (2, 2)   arc (32, 2)   side 26
//   small  face (2, 92)  arc (2, 52)   side 34
//   big    face (52, 34) arc (162, 34) side 92
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::tools {

constexpr int kAtlasWidth = 256;
constexpr int kAtlasHeight = 128;

struct KnobImages {
    int faceLeft, faceTop, arcLeft, arcTop, side;
};
constexpr KnobImages kTinyKnob{2, 2, 32, 2, 26};
constexpr KnobImages kSmallKnob{2, 92, 2, 52, 34};
constexpr KnobImages kBigKnob{52, 34, 162, 34, 92};

// Rows from the top, 4 bytes a pixel (straight alpha).
std::vector<uint8_t> DrawButtonsAtlas();

// Writes an RGBA image as an 8-bit PNG; false on failure.
bool WriteRgbaPng(const std::string& path, const std::vector<uint8_t>& rgba, int width, int height);

} // namespace corvane::tools
