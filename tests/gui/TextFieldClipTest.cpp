// A text field whose text is wider than the field keeps it inside its box:
// the pixels beside it stay the panel's, whatever the value shows.
#include <gtest/gtest.h>

#include "gui/controls/TextFields.h"
#include "tests/gui/ControlsHarness.h"
#include "tests/support/TestSupport.h"

using namespace corvane::test;

namespace {

constexpr int32_t kTime = 8; // -500 .. 500 ms
constexpr int kWidth = 240, kHeight = 120;

TEST(TextFieldClip, ALongValueStaysInsideItsField)
{
    REQUIRE_DISPLAY();
    ScopedUserFolders folders;
    // A 24 pixels wide field at (100, 50) .. (124, 66), y up.
    ControlsHarness h(kWidth, kHeight, [](QZ::Manager& m, QZ::Group& root, QZ::TextureRecord&) {
        m.SetTextFieldFont(QZ::LoadFirstAvailableFont({{"verdana.ttf", 11}}));
        auto* field = new QZ::TextField(&m, kTime, 100, 50, 24, 16, "%.2f");
        root.AddChild(field);
    });
    ASSERT_TRUE(h.Open());
    const int top = kHeight - 66, bottom = kHeight - 50;
    // Pixels beside the field (40 to its left and right) that are not the
    // panel's colour.
    const auto marked = [&](const Image& image) {
        const uint8_t* panel = image.At(2, 2);
        const int area = 40 * (bottom - top);
        return 2 * area - PixelsOfColour(image, 60, top, 100, bottom, panel[0], panel[1], panel[2], 8) -
               PixelsOfColour(image, 124, top, 164, bottom, panel[0], panel[1], panel[2], 8);
    };
    Image image;
    for (float value : {0.0f, -500.0f}) { // "0.00" fits; "-500.00" is twice as wide as the field
        SCOPED_TRACE(value);
        h.SetReal(kTime, value);
        ASSERT_TRUE(h.Frames(2));
        ASSERT_TRUE(h.Capture(image));
        EXPECT_EQ(marked(image), 0);
        // Inside the field the text is drawn.
        EXPECT_GT(24 * 16 - PixelsOfColour(image, 100, top, 124, bottom, 204, 204, 217, 30), 10);
    }
    WritePng(image, ScreenshotDir() + "/text-field-clip.png");
}

} // namespace
