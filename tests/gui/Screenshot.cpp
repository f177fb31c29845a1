#include "tests/gui/Screenshot.h"

#include <X11/Xutil.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace corvane::test {

namespace {

int Channel(unsigned long pixel, unsigned long mask)
{
    if (!mask)
        return 0;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    return static_cast<int>(((pixel & mask) >> shift) * 255 / (mask >> shift));
}

} // namespace

bool Capture(Display* display, Window window, Image& image)
{
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes))
        return false;
    // The window may go away under a test that fails: the error goes to the
    // host window's counting handler. No handler is swapped in for the call:
    // Mesa swaps in one of its own on the render thread now and then, and
    // the two restores crossing would leave a handler in place that drops
    // every later error of the process.
    XImage* shot = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                             static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (!shot)
        return false;
    image.width = attributes.width;
    image.height = attributes.height;
    image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const unsigned long pixel = XGetPixel(shot, x, y);
            uint8_t* out = &image.rgb[(static_cast<size_t>(y) * image.width + x) * 3];
            out[0] = static_cast<uint8_t>(Channel(pixel, shot->red_mask));
            out[1] = static_cast<uint8_t>(Channel(pixel, shot->green_mask));
            out[2] = static_cast<uint8_t>(Channel(pixel, shot->blue_mask));
        }
    XDestroyImage(shot);
    return true;
}

bool WritePng(const Image& image, const std::string& path)
{
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path.c_str(), "wb"), fclose);
    if (!file || image.width <= 0 || image.height <= 0)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y)
        png_write_row(png, const_cast<png_bytep>(image.At(0, y)));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

int DifferingPixels(const Image& a, const Image& b, int x0, int y0, int x1, int y1, int tolerance)
{
    if (a.width != b.width || a.height != b.height)
        return -1;
    int count = 0;
    for (int y = std::max(y0, 0); y < std::min(y1, a.height); ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, a.width); ++x) {
            const uint8_t* p = a.At(x, y);
            const uint8_t* q = b.At(x, y);
            if (std::abs(p[0] - q[0]) > tolerance || std::abs(p[1] - q[1]) > tolerance ||
                std::abs(p[2] - q[2]) > tolerance)
                ++count;
        }
    return count;
}

int PixelsOfColour(const Image& image, int x0, int y0, int x1, int y1, int r, int g, int b, int tolerance)
{
    int count = 0;
    for (int y = std::max(y0, 0); y < std::min(y1, image.height); ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, image.width); ++x) {
            const uint8_t* p = image.At(x, y);
            if (std::abs(p[0] - r) <= tolerance && std::abs(p[1] - g) <= tolerance && std::abs(p[2] - b) <= tolerance)
                ++count;
        }
    return count;
}

std::string ScreenshotDir()
{
    // Tests write their own images here before any screenshot is taken.
    std::error_code ignored;
    std::filesystem::create_directories(CORVANE_SCREENSHOT_DIR, ignored);
    return CORVANE_SCREENSHOT_DIR;
}

bool HaveTextReader()
{
    return std::system("tesseract --version >/dev/null 2>&1") == 0;
}

std::string ReadText(const Image& image, int x0, int y0, int x1, int y1)
{
    constexpr int kScale = 4;
    x0 = std::max(x0, 0), y0 = std::max(y0, 0);
    x1 = std::min(x1, image.width), y1 = std::min(y1, image.height);
    if (x1 <= x0 || y1 <= y0)
        return "";
    // Light text on a darker panel: the bright pixels become black and the
    // greys of the strip and the panel white, the glyphs' edges kept.
    Image region;
    region.width = (x1 - x0) * kScale;
    region.height = (y1 - y0) * kScale;
    region.rgb.resize(static_cast<size_t>(region.width) * region.height * 3);
    for (int y = 0; y < region.height; ++y)
        for (int x = 0; x < region.width; ++x) {
            const uint8_t* p = image.At(x0 + x / kScale, y0 + y / kScale);
            const int level = ((p[0] + p[1] + p[2]) / 3 - 110) * 255 / 110;
            const auto grey = static_cast<uint8_t>(255 - std::clamp(level, 0, 255));
            uint8_t* q = &region.rgb[(static_cast<size_t>(y) * region.width + x) * 3];
            q[0] = q[1] = q[2] = grey;
        }
    char folder[] = "/tmp/corvane-ocr-XXXXXX";
    if (!mkdtemp(folder))
        return "";
    const std::string png = std::string(folder) + "/region.png";
    std::string text;
    if (WritePng(region, png)) {
        const std::string command = "tesseract '" + png + "' stdout --psm 7 2>/dev/null";
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[256];
            while (fgets(buffer, sizeof buffer, pipe))
                text += buffer;
            pclose(pipe);
        }
    }
    std::filesystem::remove_all(folder);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\f'))
        text.pop_back();
    return text;
}

} // namespace corvane::test
