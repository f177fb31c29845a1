// Textures from PNG images: skin files or the module's embedded resources.
// Decoding needs no GL; LoadPNGTexture runs on the render thread with the
// editor's GL context current.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace QZ {

struct DecodedImage {
    int width = 0;
    int height = 0;
    int channels = 0;             // 3 (RGB) or 4 (RGBA)
    std::vector<uint8_t> pixels;  // rows in file order
};

// Decodes an 8-bit RGB or RGBA PNG whose sides are powers of two. False for
// anything else, including corrupt or truncated data; nothing is reported.
bool DecodePNG(const uint8_t* data, size_t size, DecodedImage& image);

struct TextureRecord {
    std::string fileName; // empty: the image comes from a resource
    int32_t resourceId = 0;
    uint32_t texture = 0; // GL name, 0 none
    bool loadAttempted = false;
    bool onDemand = false;
    int32_t width = 0;
    int32_t height = 0;
};

// render thread, GL current: creates the texture once; a second call does
// nothing, even when the first failed.
void LoadPNGTexture(TextureRecord& record);

// A script compiled into the module (resource type 256: 135 the shared GUI
// script, 136 the MIDI script, 150-169 the plug-ins' GUI scripts). The
// bytes belong to the module image; empty (null data) when there is no such
// script. Any thread.
struct ScriptBytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
};
ScriptBytes LoadScriptResource(int32_t id);

// The largest image file a texture is read from (a 1024 x 512 panel
// texture is well under it).
constexpr size_t kTextureFileLimit = size_t{16} << 20;

// The whole file, or empty when it is missing, not a regular file (a FIFO
// is never waited on), longer than maxBytes, or cannot be read.
std::vector<uint8_t> LoadFileBytes(const std::string& path, size_t maxBytes);

} // namespace QZ
