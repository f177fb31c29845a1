// Element tree geometry and hit-testing, fonts found through fontconfig,
// text measured and drawn (under Xvfb), PNG textures from memory.
#include <gtest/gtest.h>

#include <epoxy/glx.h>
#include <X11/Xlib.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "gui/toolkit/Fonts.h"
#include "gui/toolkit/Manager.h"
#include "gui/toolkit/Textures.h"
#include "gui/toolkit/UIElement.h"
#include "tests/support/TestSupport.h"

namespace {

QZ::ControlBase* MakeControl(QZ::Manager& manager, float x0, float y0, float x1, float y1)
{
    auto* control = new QZ::ControlBase(&manager);
    QZ::Box box;
    box.x0 = x0, box.y0 = y0, box.z0 = 0, box.x1 = x1, box.y1 = y1, box.z1 = 0;
    control->SetRectangle(box);
    return control;
}

TEST(Elements, HitTestingAndBounds)
{
    QZ::Manager manager(nullptr);
    auto* root = new QZ::Group(&manager);
    auto* group = new QZ::NamedGroup(&manager, "Clock", 5, 3, 2, 4);
    group->SetOffset(100, 50);
    root->AddChild(group);
    auto* first = MakeControl(manager, 0, 0, 20, 20);
    auto* second = MakeControl(manager, 10, 10, 30, 30);
    group->AddChild(first);
    group->AddChild(second);
    EXPECT_EQ(manager.ElementCount(), 5u); // with the manager's own root group

    struct Case { float x, y; QZ::UIElement* expected; };
    const Case cases[] = {
        {105, 55, first}, {115, 55, first}, {125, 75, second}, {99, 55, nullptr}, {131, 81, nullptr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(root->HitTest({c.x, c.y}), c.expected) << c.x << "," << c.y;

    const QZ::Box bounds = QZ::UIElement::AbsoluteBox(group);
    EXPECT_FLOAT_EQ(bounds.x0, 98);
    EXPECT_FLOAT_EQ(bounds.y0, 47);
    EXPECT_FLOAT_EQ(bounds.x1, 134);
    EXPECT_FLOAT_EQ(bounds.y1, 85);
    const QZ::Box control = QZ::UIElement::AbsoluteBox(second);
    EXPECT_FLOAT_EQ(control.x0, 110);
    EXPECT_FLOAT_EQ(control.y1, 80);

    // A control hidden on its own still takes hits; a hidden group passes none.
    second->SetVisible(false);
    EXPECT_EQ(root->HitTest({125, 75}), second);
    group->SetVisible(false);
    EXPECT_FALSE(first->IsVisible());
    EXPECT_EQ(root->HitTest({105, 55}), nullptr);
    group->SetVisible(true);

    // The margin counts as the group only while hover tracking asks for it.
    group->InitGL();
    EXPECT_EQ(root->HitTest({99, 48}), nullptr);
    QZ::Group::SetGroupsCountAsHits(true);
    EXPECT_EQ(root->HitTest({99, 48}), group);
    EXPECT_EQ(root->HitTest({97, 48}), nullptr);
    QZ::Group::SetGroupsCountAsHits(false);

    // Hover eases the frame 15 % per frame towards the active colour.
    group->MouseEnter();
    const QZ::Colour start = group->CurrentColour();
    const QZ::Colour active = QZ::NamedGroup::ActiveColour();
    group->StepColour();
    EXPECT_NEAR(group->CurrentColour().b, 0.85f * start.b + 0.15f * active.b, 1e-6);
    manager.SetRootElement(root);
}

TEST(Elements, SteppedControlSnapsToWholeValues)
{
    QZ::Manager manager(nullptr);
    struct Case { uint32_t unit; float minimum, maximum, given, expected; };
    const Case cases[] = {
        {1, 0, 4, 0.65f, 0.75f}, {2, 0, 1, 0.4f, 0.0f}, {1, 3, 3, 0.9f, 0.9f}, {0, 0, 10, 0.37f, 0.37f},
        {1, 0, 4, 7.0f, 1.0f},
    };
    for (const Case& c : cases) {
        QZ::ParameterLabelRecord record;
        record.unit = c.unit;
        record.minimum = c.minimum;
        record.maximum = c.maximum;
        auto* control = new QZ::Control(&manager, record);
        control->SetValueFromNormalised(c.given);
        EXPECT_NEAR(control->Normalised(), c.expected, 1e-6) << c.unit << " " << c.given;
    }
}

bool HaveFont(const char* name, std::string& path)
{
    return QZ::FindFontFile(name, path);
}

TEST(Fonts, FoundByFontconfigAndMeasured)
{
    std::string path;
    EXPECT_FALSE(QZ::FindFontFile("", path));
    EXPECT_FALSE(QZ::FindFontFile("nosuchfontfamily-xyz.ttf", path));
    if (!HaveFont("verdana.ttf", path))
        GTEST_SKIP() << "DejaVu Sans is not installed";
    std::string asGiven;
    ASSERT_TRUE(QZ::FindFontFile(path, asGiven));
    EXPECT_EQ(asGiven, path);

    auto record = QZ::LoadFirstAvailableFont({{"missing-font.ttf", 12}, {"/nonexistent/x.ttf", 12}, {"verdana.ttf", 14}});
    ASSERT_TRUE(record);
    EXPECT_EQ(record->size, 14u);
    // No font of the list is installed: an installed family stands in.
    auto fallback = QZ::LoadFirstAvailableFont({{"nosuchfontfamily-xyz.ttf", 9}, {"/nonexistent/y.ttf", 30}});
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->size, 9u);
    EXPECT_FALSE(QZ::LoadFirstAvailableFont({}));
    const float one = QZ::MeasureText(*record, "M");
    const float text = QZ::MeasureText(*record, "Hello, world");
    EXPECT_GT(one, 5.0f);
    EXPECT_LT(one, 20.0f);
    EXPECT_GT(text, 60.0f);
    EXPECT_LT(text, 140.0f);
    float width = 0, height = 0;
    QZ::MeasureTextExtent(*record, "", width, height);
    EXPECT_EQ(width, 0.0f);
    QZ::MeasureTextExtent(*record, "Hg", width, height);
    EXPECT_GT(height, 5.0f);

    // Long texts, empty texts and bytes outside the font.
    std::vector<QZ::TextVertex> vertices;
    float endX = 0;
    EXPECT_EQ(QZ::LayoutTextQuads(*record, vertices, std::string(5000, 'a'), 0, 0, &endX), 20000);
    EXPECT_EQ(QZ::LayoutTextQuads(*record, vertices, "", 7, 3, &endX), 0);
    EXPECT_EQ(endX, 7.0f);
    EXPECT_EQ(QZ::LayoutTextQuads(*record, vertices, "a\x01\x02 b", 0, 0, &endX), 8);

    QZ::TextCache cache;
    EXPECT_EQ(cache.Layout(record.get(), "", 12, 4), 12.0f);
    const float end = cache.Layout(record.get(), "abc", 12, 4);
    const QZ::TextVertex* before = cache.vertices.data();
    EXPECT_EQ(cache.Layout(record.get(), "abc", 12, 4), end);
    EXPECT_EQ(cache.vertices.data(), before);
}

std::vector<uint8_t> EncodePNG(int width, int height, int colourType, int channels)
{
    std::vector<uint8_t> out;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = colourType == 4 ? PNG_FORMAT_RGBA : colourType == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * channels, 0x7f);
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
    out.resize(size);
    png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr);
    out.resize(size);
    return out;
}

// An interlaced (Adam7) 8-bit RGBA image whose every byte tells its place.
std::vector<uint8_t> EncodeInterlacedPNG(int width, int height, std::vector<uint8_t>& pixels)
{
    pixels.resize(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(i * 7 + i / 256);
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t length) {
            auto* sink = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
            sink->insert(sink->end(), data, data + length);
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[static_cast<size_t>(y)] = pixels.data() + static_cast<size_t>(y) * width * 4;
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

TEST(Textures, PngFromMemory)
{
    struct Case { int width, height, type, channels; bool decodes; bool interlaced = false; };
    const Case cases[] = {
        {64, 32, 4, 4, true}, {16, 16, 3, 3, true}, {100, 64, 4, 4, false}, {64, 64, 1, 1, false},
        {32, 16, 4, 4, true, true},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> pixels(static_cast<size_t>(c.width * c.height * c.channels), 0x7f);
        const auto bytes = c.interlaced ? EncodeInterlacedPNG(c.width, c.height, pixels)
                                        : EncodePNG(c.width, c.height, c.type, c.channels);
        ASSERT_FALSE(bytes.empty());
        QZ::DecodedImage image;
        EXPECT_EQ(QZ::DecodePNG(bytes.data(), bytes.size(), image), c.decodes) << c.width << "x" << c.height;
        if (c.decodes) {
            EXPECT_EQ(image.width, c.width);
            EXPECT_EQ(image.height, c.height);
            EXPECT_EQ(image.pixels, pixels);
        }
    }
    // Corrupt and truncated data is refused.
    auto bytes = EncodePNG(64, 64, 4, 4);
    QZ::DecodedImage image;
    EXPECT_FALSE(QZ::DecodePNG(bytes.data(), bytes.size() / 2, image));
    for (size_t i = 40; i < bytes.size(); i += 7)
        bytes[i] ^= 0x5a;
    EXPECT_FALSE(QZ::DecodePNG(bytes.data(), bytes.size(), image));
    EXPECT_FALSE(QZ::DecodePNG(nullptr, 0, image));
    const uint8_t junk[] = {1, 2, 3};
    EXPECT_FALSE(QZ::DecodePNG(junk, sizeof junk, image));
}

TEST(Text, DrawnUnderX)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no X server";
    auto record = QZ::LoadFirstAvailableFont({{"verdana.ttf", 24}});
    if (!record)
        GTEST_SKIP() << "no font";
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    int attributes[] = {GLX_RGBA, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, GLX_DOUBLEBUFFER, None};
    XVisualInfo* visual = glXChooseVisual(display, DefaultScreen(display), attributes);
    ASSERT_NE(visual, nullptr);
    XSetWindowAttributes set{};
    set.colormap = XCreateColormap(display, RootWindow(display, visual->screen), visual->visual, AllocNone);
    Window window = XCreateWindow(display, RootWindow(display, visual->screen), 0, 0, 128, 64, 0, visual->depth,
                                  InputOutput, visual->visual, CWColormap, &set);
    GLXContext context = glXCreateContext(display, visual, nullptr, True);
    ASSERT_TRUE(glXMakeCurrent(display, window, context));

    QZ::PreloadGlyphs(*record);
    glViewport(0, 0, 128, 64);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 128, 0, 64, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDrawBuffer(GL_BACK);
    glReadBuffer(GL_BACK);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glColor4f(1, 1, 1, 1);
    QZ::TextCache cache;
    cache.Layout(record.get(), "Corvane", 4, 20);
    cache.Draw(record.get());
    glFinish();
    std::vector<uint8_t> pixels(128 * 64 * 4);
    glReadPixels(0, 0, 128, 64, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    size_t lit = 0;
    for (size_t i = 0; i < pixels.size(); i += 4)
        lit += pixels[i] > 64 ? 1 : 0;
    EXPECT_GT(lit, 50u);

    QZ::TextureRecord texture;
    const auto bytes = EncodePNG(32, 16, 4, 4);
    texture.fileName = "/nonexistent/buttons.png";
    QZ::LoadPNGTexture(texture);
    EXPECT_EQ(texture.texture, 0u);
    QZ::LoadPNGTexture(texture); // attempted once only
    EXPECT_TRUE(texture.loadAttempted);

    corvane::test::TempDir folder;
    const std::string file = folder.Path() + "/skin.png";
    FILE* out = std::fopen(file.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
    QZ::TextureRecord skin;
    skin.fileName = file;
    QZ::LoadPNGTexture(skin);
    ASSERT_NE(skin.texture, 0u);
    EXPECT_EQ(skin.width, 32);
    EXPECT_EQ(skin.height, 16);
    GLint glWidth = 0, glHeight = 0;
    glBindTexture(GL_TEXTURE_2D, skin.texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &glWidth);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &glHeight);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(glWidth, 32);
    EXPECT_EQ(glHeight, 16);
    GLuint skinName = skin.texture;
    glDeleteTextures(1, &skinName);

    if (record->texture) {
        GLuint name = record->texture;
        glDeleteTextures(1, &name);
        record->texture = 0;
    }
    glXMakeCurrent(display, None, nullptr);
    glXDestroyContext(display, context);
    XDestroyWindow(display, window);
    XFreeColormap(display, set.colormap);
    XFree(visual);
    XCloseDisplay(display);
}

} // namespace
