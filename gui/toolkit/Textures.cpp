#include "gui/toolkit/Textures.h"

#include <epoxy/gl.h>
#include <png.h>

#include <cstdio>
#include <cstring>

#include "platform/FileText.h"
#include "platform/Resources.h"

namespace QZ {

namespace {

constexpr uint32_t kImageResourceType = 257;

struct MemoryReader {
    const uint8_t* data;
    size_t size;
    size_t position;
};

// A read past the end is an error (libpng longjmps out), so truncated data
// is refused instead of decoded from garbage.
void ReadMemoryChunk(png_structp png, png_bytep out, png_size_t length)
{
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (length > reader->size - reader->position)
        png_error(png, "truncated image");
    std::memcpy(out, reader->data + reader->position, length);
    reader->position += length;
}

void IgnoreWarning(png_structp, png_const_charp) {}
void RaiseError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

bool IsPowerOfTwo(png_uint_32 value)
{
    return value != 0 && (value & (value - 1)) == 0;
}

// Kept apart from DecodePNG so no C++ object with a destructor lives in the
// frame setjmp returns to.
bool DecodeInto(MemoryReader& reader, DecodedImage& image)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, RaiseError, IgnoreWarning);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    bool ok = false;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_set_read_fn(png, &reader, ReadMemoryChunk);
        png_read_info(png, info);
        // An interlaced image arrives in passes that libpng puts together
        // row by row.
        const int passes = png_set_interlace_handling(png);
        png_read_update_info(png, info);
        const png_uint_32 width = png_get_image_width(png, info);
        const png_uint_32 height = png_get_image_height(png, info);
        const int depth = png_get_bit_depth(png, info);
        const int channels = png_get_channels(png, info);
        const int colourType = png_get_color_type(png, info);
        if (IsPowerOfTwo(width) && IsPowerOfTwo(height) && width <= 8192 && height <= 8192 && depth == 8 &&
            (colourType == PNG_COLOR_TYPE_RGB || colourType == PNG_COLOR_TYPE_RGB_ALPHA) &&
            (channels == 3 || channels == 4)) {
            const size_t rowBytes = png_get_rowbytes(png, info);
            if (rowBytes == static_cast<size_t>(width) * channels) {
                image.pixels.resize(rowBytes * height);
                for (int pass = 0; pass < passes; ++pass)
                    for (png_uint_32 row = 0; row < height; ++row)
                        png_read_row(png, image.pixels.data() + rowBytes * row, nullptr);
                image.width = static_cast<int>(width);
                image.height = static_cast<int>(height);
                image.channels = channels;
                ok = true;
            }
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return ok;
}

} // namespace

bool DecodePNG(const uint8_t* data, size_t size, DecodedImage& image)
{
    image = DecodedImage{};
    if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0)
        return false;
    MemoryReader reader{data, size, 0};
    if (!DecodeInto(reader, image)) {
        image = DecodedImage{};
        return false;
    }
    return true;
}

ScriptBytes LoadScriptResource(int32_t id)
{
    constexpr uint32_t kScriptResourceType = 256;
    ScriptBytes bytes;
    const auto* resource =
        id < 0 ? nullptr : corvane::platform::FindResource(kScriptResourceType, static_cast<uint32_t>(id));
    if (!resource) {
        std::fprintf(stderr, "Corvane: script resource %d is missing\n", id);
        return bytes;
    }
    bytes.data = resource->bytes;
    bytes.size = resource->size;
    return bytes;
}

std::vector<uint8_t> LoadFileBytes(const std::string& path, size_t maxBytes)
{
    std::string text;
    if (corvane::ReadWholeFile(path, maxBytes, text) != corvane::FileRead::Ok)
        return {};
    return std::vector<uint8_t>(text.begin(), text.end());
}

void LoadPNGTexture(TextureRecord& record)
{
    if (record.loadAttempted)
        return;
    record.loadAttempted = true;
    std::vector<uint8_t> fileBytes;
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!record.fileName.empty()) {
        fileBytes = LoadFileBytes(record.fileName, kTextureFileLimit);
        data = fileBytes.data();
        size = fileBytes.size();
    } else if (record.resourceId >= 0) {
        const auto* resource =
            corvane::platform::FindResource(kImageResourceType, static_cast<uint32_t>(record.resourceId));
        if (!resource) {
            std::fprintf(stderr, "Corvane: image resource %d is missing\n", record.resourceId);
            return;
        }
        data = resource->bytes;
        size = resource->size;
    }
    DecodedImage image;
    if (!DecodePNG(data, size, image))
        return;
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, image.channels, image.width, image.height, 0,
                 image.channels == 3 ? GL_RGB : GL_RGBA, GL_UNSIGNED_BYTE, image.pixels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glBindTexture(GL_TEXTURE_2D, 0);
    record.texture = name;
    record.width = image.width;
    record.height = image.height;
}

} // namespace QZ
