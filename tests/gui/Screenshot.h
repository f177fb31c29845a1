// A test's look at an editor window: its pixels as an image, written as a
// PNG for a person to look at, and compared region by region.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <X11/Xlib.h>

namespace corvane::test {

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb; // rows from the top, 3 bytes a pixel

    const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

// The whole window (on the connection `display`, a HostWindow's: its errors
// are counted, never fatal); false when it cannot be read.
bool Capture(Display* display, Window window, Image& image);

// Writes the image as an 8-bit RGB PNG, creating the folder; false on failure.
bool WritePng(const Image& image, const std::string& path);

// Pixels in the window rectangle (x0, y0) .. (x1, y1) (from the top-left
// corner, exclusive ends) whose colours differ by more than `tolerance` in
// any channel.
int DifferingPixels(const Image& a, const Image& b, int x0, int y0, int x1, int y1, int tolerance = 24);

// Pixels in the rectangle whose colour is within `tolerance` of (r, g, b).
int PixelsOfColour(const Image& image, int x0, int y0, int x1, int y1, int r, int g, int b, int tolerance = 24);

// The text in the rectangle as an OCR engine reads it (tesseract, one line):
// the region enlarged four times, in grey, dark text on light. Empty when
// nothing is read; HaveTextReader() says whether the engine is installed.
bool HaveTextReader();
std::string ReadText(const Image& image, int x0, int y0, int x1, int y1);

// The folder the screenshots go to (in the build tree).
std::string ScreenshotDir();

} // namespace corvane::test
