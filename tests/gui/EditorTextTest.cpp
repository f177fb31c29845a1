// The editor's texts as pixels, in-process under Xvfb on both panel paths:
// the banner, the readout of a hovered parameter (name, value, unit), and
// panel labels that a redraw-panel request paints again.
#include <gtest/gtest.h>

#include <epoxy/gl.h>
#include <png.h>

#include <mutex>
#include <string>

#include "gui/editor/ObryCorvaneView.h"
#include "gui/toolkit/Button.h"
#include "gui/toolkit/Fonts.h"
#include "gui/toolkit/Manager.h"
#include "gui/toolkit/QJmanager.h"
#include "gui/toolkit/UIElement.h"
#include "tests/framework/TestPlugin.h"
#include "tests/gui/HostWindow.h"
#include "tests/gui/Screenshot.h"
#include "tests/support/TestSupport.h"

using corvane::test::HostWindow;
using corvane::test::Image;
using corvane::test::WaitFor;

namespace {

constexpr int kWidth = 600;
constexpr int kHeight = 220;
constexpr int kParameter = 2; // "Frequency", 1000 Hz

// Draws one white text into the panel, changeable from the test.
class PanelLabel : public QZ::UIElement {
public:
    using UIElement::UIElement;
    void DrawLabels(QZ::FontRecord* font) override
    {
        std::lock_guard<std::mutex> hold(lock);
        glColor4f(1, 1, 1, 1);
        cache.Layout(font, text, 20, 120);
        cache.Draw(font);
    }
    void SetText(const std::string& newText)
    {
        std::lock_guard<std::mutex> hold(lock);
        text = newText;
    }

private:
    std::mutex lock;
    std::string text = "Oscillator";
    QZ::TextCache cache;
};

class TextView : public ObryCorvaneView {
public:
    using ObryCorvaneView::ObryCorvaneView;
    PanelLabel* label = nullptr;

protected:
    void GetScriptWindowSize(int32_t& width, int32_t& height) override
    {
        width = kWidth;
        height = kHeight;
    }
    void SetUpGUI(QZ::Manager& m) override
    {
        m.SetMainFont(QZ::LoadFirstAvailableFont({{"verdana.ttf", 14}}));
        m.SetLabelFont(QZ::LoadFirstAvailableFont({{"verdana.ttf", 16}}));
        m.SetBannerPosition(kHeight - 30);
        auto* control = new QZ::Control(&m, m.ParameterLabels()[kParameter]);
        QZ::Box box;
        box.x0 = 20, box.y0 = 20, box.z0 = 0, box.x1 = 80, box.y1 = 80, box.z1 = 0;
        control->SetRectangle(box);
        m.RootGroup()->AddChild(control);
        label = new PanelLabel(&m);
        m.RootGroup()->AddChild(label);
    }
};

// A titled group around a control and a button with a centred label.
class GroupView : public TextView {
public:
    using TextView::TextView;

protected:
    void SetUpGUI(QZ::Manager& m) override
    {
        m.SetMainFont(QZ::LoadFirstAvailableFont({{"verdana.ttf", 12}}));
        m.SetBannerPosition(kHeight - 30);
        m.RegisterCommandNames();
        auto* group = new QZ::NamedGroup(&m, "Oscillator", 20, 10, 10, 10);
        m.RootGroup()->AddChild(group);
        auto* control = new QZ::Control(&m, m.ParameterLabels()[kParameter]);
        QZ::Box box;
        box.x0 = 40, box.y0 = 40, box.z0 = 0, box.x1 = 100, box.y1 = 100, box.z1 = 0;
        control->SetRectangle(box);
        group->AddChild(control);
        group->AddChild(new LabelledButton(&m, "Save", 120, 40, 80, 24, m.CommandIdForName("Save calibration data")));
    }

    class LabelledButton : public QZ::Button {
    public:
        LabelledButton(QZ::Manager* m, const char* text, float x, float y, float w, float h, int32_t id)
            : Button(m, text, nullptr, nullptr, x, y, w, h, id)
        {
        }
        void InitGL() override { PlaceLabel(&kLabel); }
        static constexpr QZ::Colour kLabel{0.8f, 0.8f, 0.8f, 1};
    };
};

// The panel's background: a skin image tiled over the window.
class BackgroundView : public TextView {
public:
    using TextView::TextView;
    std::string imagePath;

protected:
    void SetUpGUI(QZ::Manager& m) override
    {
        auto record = std::make_unique<QZ::TextureRecord>();
        record->fileName = imagePath;
        record->onDemand = true;
        static_cast<QJmanager&>(m).SetBackgroundTexture(m.AddTexture(std::move(record)), QJmanager::kBackgroundTiled);
    }
};

class TextPlugin : public corvane::test::TestPlugin {
public:
    explicit TextPlugin(int kind = 0)
    {
        delete editor;
        view = kind == 1 ? new GroupView(this) : kind == 2 ? new BackgroundView(this) : new TextView(this);
        editor = view;
        view->InitWindowSize();
    }
    TextView* view;
};

// Pixels brighter than the background and the banner strip in a window
// rectangle (top-left origin, exclusive ends).
int Lit(const Image& image, int x0, int y0, int x1, int y1, int threshold = 70)
{
    int lit = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            lit += image.At(x, y)[0] > threshold ? 1 : 0;
    return lit;
}

TEST(EditorText, BannerReadoutAndLabelsOnBothPanelPaths)
{
    REQUIRE_DISPLAY();
    corvane::test::ScopedUserFolders folders;
    for (bool offscreen : {false, true}) {
        SCOPED_TRACE(offscreen ? "off-screen panel" : "framebuffer panel");
        QZ::Manager::SetForceOffscreenPanel(offscreen);
        TextPlugin plugin;
        HostWindow host(kWidth, kHeight, 0x000000);
        ASSERT_TRUE(plugin.view->open(host.Handle()));
        const Window child = host.Child();
        QZ::Manager& manager = *plugin.view->GetManager();
        ASSERT_TRUE(WaitFor([&] { return manager.FramesDrawn() >= 2; }));
        EXPECT_EQ(manager.UsesFramebuffer(), !offscreen);

        // The banner text from x = 60 in the strip 30 pixels below the top;
        // the readout half (from x = 315) is empty while nothing is hovered.
        Image image;
        const auto capture = [&] { return corvane::test::Capture(host.Connection(), child, image); };
        EXPECT_TRUE(WaitFor([&] { return capture() && Lit(image, 55, 10, 250, 34) > 100; }));
        EXPECT_EQ(Lit(image, 315, 10, kWidth, 34), 0);
        // The panel label.
        EXPECT_GT(Lit(image, 15, 80, 200, 105), 100);

        // Hovering the control shows its name right-aligned before x = 455,
        // its value from 465 and its unit from 505.
        host.SendMotion(child, 50, kHeight - 50, 0);
        plugin.view->idle();
        EXPECT_EQ(manager.HoveredParameter(), kParameter);
        EXPECT_TRUE(WaitFor([&] { return manager.TooltipText() == "Frequency 1000 Hz"; }))
            << manager.TooltipText();
        EXPECT_TRUE(WaitFor([&] {
            return capture() && Lit(image, 360, 10, 456, 34) > 80 && Lit(image, 463, 10, 503, 34) > 60 &&
                   Lit(image, 503, 10, 530, 34) > 20;
        }));
        corvane::test::WritePng(image, corvane::test::ScreenshotDir() + "/editor-text-" +
                                           (offscreen ? "offscreen" : "framebuffer") + ".png");

        // Leaving it clears the readout; a redraw-panel request paints the
        // labels again.
        host.SendMotion(child, 300, 150, 0);
        plugin.view->idle();
        plugin.view->label->SetText("");
        manager.SignalRenderEvent(QZ::Manager::kEventRedrawPanel);
        EXPECT_TRUE(WaitFor([&] {
            return capture() && Lit(image, 315, 10, kWidth, 34) == 0 && Lit(image, 15, 80, 200, 105) == 0;
        }));
        plugin.view->close();
    }
    QZ::Manager::SetForceOffscreenPanel(false);
}

// A named group's title sits in the gap of its frame, a button's label in
// its middle; hovering the button shows its command text, and the floating
// tooltip over it.
TEST(EditorText, GroupTitlesButtonLabelsAndTheFloatingTooltip)
{
    REQUIRE_DISPLAY();
    corvane::test::ScopedUserFolders folders;
    folders.WritePreference("Enable floating tooltip", "1");
    TextPlugin plugin(1);
    HostWindow host(kWidth, kHeight, 0x000000);
    ASSERT_TRUE(plugin.view->open(host.Handle()));
    const Window child = host.Child();
    QZ::Manager& manager = *plugin.view->GetManager();
    Image image;
    const auto capture = [&] { return corvane::test::Capture(host.Connection(), child, image); };
    // The title from x = 40 on the frame's top edge (y 120 from the bottom),
    // the label around the button's centre (160, 52).
    EXPECT_TRUE(WaitFor([&] {
        // The title is drawn in the frame's (dim, inactive) colour.
        return capture() && Lit(image, 38, kHeight - 128, 120, kHeight - 112, 30) > 40 &&
               Lit(image, 140, kHeight - 60, 180, kHeight - 44) > 20;
    }));
    host.SendMotion(child, 160, kHeight - 52, 0);
    plugin.view->idle();
    EXPECT_TRUE(WaitFor([&] { return manager.TooltipText() == "Save calibration data"; }))
        << manager.TooltipText();
    EXPECT_TRUE(WaitFor([&] { return capture() && Lit(image, 363, 10, 520, 34) > 100; }));
    corvane::test::WritePng(image, corvane::test::ScreenshotDir() + "/editor-group-tooltip.png");
    plugin.view->close();
}

TEST(EditorText, TheBackgroundImageIsTiledOnBothPanelPaths)
{
    REQUIRE_DISPLAY();
    corvane::test::ScopedUserFolders folders;
    corvane::test::TempDir folder;
    // 8 x 8: the left half red, the right half blue.
    const std::string path = folder.Path() + "/background.png";
    std::vector<uint8_t> pixels(8 * 8 * 3, 0);
    for (int i = 0; i < 64; ++i)
        pixels[static_cast<size_t>(i) * 3 + ((i % 8) < 4 ? 0 : 2)] = 200;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 8;
    image.height = 8;
    image.format = PNG_FORMAT_RGB;
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr));
    for (bool offscreen : {false, true}) {
        SCOPED_TRACE(offscreen ? "off-screen panel" : "framebuffer panel");
        QZ::Manager::SetForceOffscreenPanel(offscreen);
        TextPlugin plugin(2);
        static_cast<BackgroundView*>(plugin.view)->imagePath = path;
        HostWindow host(kWidth, kHeight, 0x00FF00);
        ASSERT_TRUE(plugin.view->open(host.Handle()));
        const Window child = host.Child();
        Image shot;
        // Columns 0-3 of every 8 red, 4-7 blue, all over the window.
        EXPECT_TRUE(WaitFor([&] {
            if (!corvane::test::Capture(host.Connection(), child, shot))
                return false;
            for (auto [x, y] : {std::pair{1, 1}, {584, kHeight - 2}, {297, 150}})
                if (shot.At(x, y)[0] < 150 || shot.At(x, y)[2] > 50 || shot.At(x + 4, y)[2] < 150)
                    return false;
            return true;
        }));
        corvane::test::WritePng(shot, corvane::test::ScreenshotDir() + "/editor-background.png");
        plugin.view->close();
    }
    QZ::Manager::SetForceOffscreenPanel(false);
}

} // namespace
