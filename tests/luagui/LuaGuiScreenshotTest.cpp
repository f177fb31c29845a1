// Every entry's editor opened in a host window under X and drawn by its
// render thread: written as a PNG into the build folder for a person to
// look at, and checked for a script error and for the panel's grey at the
// corners (nothing draws over the window's edge).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "framework/vst/VstAbi.h"
#include "gui/controls/Buttons.h"
#include "gui/controls/Knobs.h"
#include "gui/controls/TextFields.h"
#include "gui/dialogs/DialogSession.h"
#include "gui/dialogs/PreferencesPanel.h"
#include "gui/editor/ObryCorvaneView.h"
#include "gui/luagui/PluginLuaGui.h"
#include "gui/toolkit/Manager.h"
#include "gui/toolkit/StaticText.h"
#include "module/PluginFactory.h"
#include "plugins/base/ObryCorvaneBase.h"
#include "tests/gui/HostWindow.h"
#include "tests/gui/Screenshot.h"
#include "tests/luagui/EditorLayout.h"
#include "tests/support/PluginTestSupport.h"
#include "platform/Dialogs.h"
#include "platform/Preferences.h"
#include "platform/UserFolders.h"
#include "tests/support/TestSupport.h"

namespace {

using corvane::test::HostWindow;
using corvane::test::Image;

// One entry's editor opened in-process in a host window and drawn a few
// times.
struct OpenEditor {
    explicit OpenEditor(const std::string& id)
    {
        corvane::test::gCurrentId = corvane::test::Code(id);
        plugin = dynamic_cast<ObryCorvaneBase*>(createEffectInstance(corvane::test::FactoryHost));
        view = plugin ? dynamic_cast<ObryCorvaneView*>(plugin->getEditor()) : nullptr;
        ERect* rect = nullptr;
        if (!view || !view->getRect(&rect))
            return;
        width = rect->right, height = rect->bottom;
        host = std::make_unique<HostWindow>(width, height, 0x00FF00);
        if (!view->open(host->Handle()) || !view->LuaGui())
            return;
        child = host->Child();
        drawn = child && corvane::test::WaitFor([&] {
            view->idle();
            return view->GetManager()->FramesDrawn() >= 3;
        }) && corvane::test::Capture(host->Connection(), child, image);
    }
    ~OpenEditor()
    {
        if (view)
            view->close();
        host.reset();
        if (plugin) {
            plugin->close();
            delete plugin;
        }
    }

    ObryCorvaneBase* plugin = nullptr;
    ObryCorvaneView* view = nullptr;
    std::unique_ptr<HostWindow> host;
    Window child = 0;
    int width = 0, height = 0;
    bool drawn = false;
    Image image;
};

// Makes "Test" the skin, its gui.lua holding `script`.
void WriteSkin(const std::string& script)
{
    ASSERT_TRUE(corvane::WriteSkinPref("Test"));
    const std::string folder = corvane::GetSkinsFolder("Corvane") + "/Test.bundle/Contents/Resources";
    ASSERT_EQ(system(("mkdir -p '" + folder + "'").c_str()), 0);
    FILE* file = fopen((folder + "/gui.lua").c_str(), "wb");
    ASSERT_TRUE(file);
    fputs(script.c_str(), file);
    fclose(file);
}

// The first element of the editor's tree of type T, or null.
template <class T>
T* FirstOf(QZ::Manager& manager)
{
    std::vector<QZ::UIElement*> pending{manager.Root()};
    while (!pending.empty()) {
        QZ::UIElement* element = pending.back();
        pending.erase(pending.end() - 1);
        if (auto* found = dynamic_cast<T*>(element))
            return found;
        if (auto* group = dynamic_cast<QZ::Group*>(element))
            pending.insert(pending.end(), group->Children().rbegin(), group->Children().rend());
    }
    return nullptr;
}

// Idles the editor until it has drawn `count` more frames.
bool DrawFrames(OpenEditor& editor, uint64_t count)
{
    const uint64_t seen = editor.view->GetManager()->FramesDrawn();
    return corvane::test::WaitFor([&] {
        editor.view->idle();
        return editor.view->GetManager()->FramesDrawn() >= seen + count;
    });
}

std::string FileName(std::string id)
{
    for (char& c : id)
        if (!isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return id;
}

class EditorScreenshots : public ::testing::TestWithParam<const char*> {
protected:
    corvane::test::ScopedUserFolders folders;
};

TEST_P(EditorScreenshots, DrawWithoutScriptErrors)
{
    REQUIRE_DISPLAY();
    const std::string id = GetParam();
    OpenEditor editor(id);
    ASSERT_TRUE(editor.drawn);
    EXPECT_TRUE(editor.view->LuaGui()->Errors().empty()) << editor.view->LuaGui()->LastError();
    const Image& image = editor.image;
    EXPECT_TRUE(corvane::test::WritePng(image, corvane::test::ScreenshotDir() + "/editor_" + FileName(id) + ".png"));
    EXPECT_EQ(image.width, editor.width);
    EXPECT_EQ(image.height, editor.height);
    const int width = editor.width, height = editor.height;
    for (auto [x, y] : {std::pair{0, 0}, {width - 1, 0}, {0, height - 1}, {width - 1, height - 1}}) {
        const uint8_t* p = image.At(x, y);
        EXPECT_NEAR(p[0], 102, 3) << x << "," << y;
        EXPECT_NEAR(p[1], 102, 3) << x << "," << y;
    }
    // The controls are drawn: below the banner strip, a share of the panel
    // is something other than its grey (the grey and banner alone are not).
    int drawn = 0;
    for (int y = 40; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = image.At(x, y);
            drawn += std::abs(p[0] - 102) + std::abs(p[1] - 102) + std::abs(p[2] - 102) > 60 ? 1 : 0;
        }
    EXPECT_GT(drawn, width * (height - 40) / 50) << "pixels other than the panel's grey";
}

INSTANTIATE_TEST_SUITE_P(Entries, EditorScreenshots,
                         ::testing::Values("QZs0", "QZs1", "QZs2", "QZs3", "QZs4", "QZs5", "QZs6", "QZs7", "QZs8",
                                           "QZs9", "QZsa", "QZsb", "QZsc", "QZsd", "QZse", "QZsf", "QZs(", "QZsg",
                                           "QZsh", "QZsi", "QZsj", "QZsk", "QZsl", "QZsm", "QZsn"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return FileName(info.param); });

// The pages behind the panel buttons (the Voice Controller's panels, the
// expanders' trigger settings, the CV Input's Tessel settings), each drawn
// after its button was pressed as a person presses it.
class EditorPages : public ::testing::TestWithParam<std::pair<const char*, const char*>> {
protected:
    corvane::test::ScopedUserFolders folders;
};

TEST_P(EditorPages, DrawAfterTheirButton)
{
    REQUIRE_DISPLAY();
    const auto [id, caption] = GetParam();
    OpenEditor editor(id);
    ASSERT_TRUE(editor.drawn);
    QZ::BrelStatefulButton* button = nullptr;
    std::vector<QZ::UIElement*> pending{editor.view->GetManager()->Root()};
    while (!pending.empty() && !button) {
        QZ::UIElement* element = pending.back();
        pending.pop_back();
        if (auto* group = dynamic_cast<QZ::Group*>(element))
            pending.insert(pending.end(), group->Children().begin(), group->Children().end());
        else if (auto* b = dynamic_cast<QZ::BrelStatefulButton*>(element); b && b->Label() == caption)
            button = b;
    }
    ASSERT_TRUE(button) << caption;
    button->MouseDown(QZ::Point{}, 0, 1); // a Lua button acts on its press
    const uint64_t frames = editor.view->GetManager()->FramesDrawn();
    ASSERT_TRUE(corvane::test::WaitFor([&] {
        editor.view->idle();
        return editor.view->GetManager()->FramesDrawn() >= frames + 3;
    }));
    Image image;
    ASSERT_TRUE(corvane::test::Capture(editor.host->Connection(), editor.child, image));
    EXPECT_TRUE(editor.view->LuaGui()->Errors().empty()) << editor.view->LuaGui()->LastError();
    EXPECT_TRUE(corvane::test::WritePng(image, corvane::test::ScreenshotDir() + "/editor_" + FileName(id) + "_" +
                                                   FileName(*caption ? caption : "toggle") + ".png"));
}

INSTANTIATE_TEST_SUITE_P(Pages, EditorPages,
                         ::testing::Values(std::pair{"QZs1", "Env 1"}, std::pair{"QZs1", "Env 2"},
                                           std::pair{"QZs1", "Env 3"}, std::pair{"QZs1", "Outputs"},
                                           std::pair{"QZs1", "H/W"}, std::pair{"QZsc", "Triggers"},
                                           std::pair{"QZsg", "Triggers"}, std::pair{"QZs4", ""}),
                         [](const auto& info) {
                             return FileName(info.param.first) + "_" + FileName(info.param.second);
                         });

// A skin's gui.lua with a bigger kKnobSize and its own banner colours, and
// its own buttons.png (a plain cyan atlas), changes what every editor draws.
class SkinnedEditor : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(corvane::WriteSkinPref("Test"));
        const std::string folder = corvane::GetSkinsFolder("Corvane") + "/Test.bundle/Contents/Resources";
        ASSERT_EQ(system(("mkdir -p '" + folder + "'").c_str()), 0);
        FILE* file = fopen((folder + "/gui.lua").c_str(), "wb");
        ASSERT_TRUE(file);
        fputs("kKnobSize = 44\n"
              "setUIColours = function()\n"
              "    setBackgroundColour(0.4, 0.4, 0.4)\n"
              "    setBannerColour(0.8, 0.1, 0.1, 1.0)\n"
              "    setBannerTextColour(1, 1, 0, 1)\n"
              "end\n",
              file);
        fclose(file);
        std::vector<uint8_t> cyan(256 * 128 * 4, 255);
        for (size_t i = 0; i < cyan.size(); i += 4)
            cyan[i] = 0;
        png_image atlas{};
        atlas.version = PNG_IMAGE_VERSION;
        atlas.width = 256;
        atlas.height = 128;
        atlas.format = PNG_FORMAT_RGBA;
        ASSERT_TRUE(png_image_write_to_file(&atlas, (folder + "/buttons.png").c_str(), 0, cyan.data(), 0, nullptr));
    }
    void TearDown() override { QZ::Manager::SetBannerTextColour(QZ::Colour{0.9f, 0.9f, 0.9f, 1}); }

    corvane::test::ScopedUserFolders folders;
};

TEST_P(SkinnedEditor, DrawsItsKnobSizeTextureAndBannerColours)
{
    REQUIRE_DISPLAY();
    const std::string id = GetParam();
    OpenEditor editor(id);
    ASSERT_TRUE(editor.drawn);
    const Image& image = editor.image;
    corvane::test::WritePng(image, corvane::test::ScreenshotDir() + "/skinned_" + FileName(id) + ".png");

    // The banner strip (from x = 10, rows 10 to 25 from the top) is red, its
    // title yellow.
    EXPECT_GT(corvane::test::PixelsOfColour(image, 10, 11, 60, 24, 204, 25, 25, 30), 300);
    EXPECT_GT(corvane::test::PixelsOfColour(image, 10, 8, 300, 28, 255, 255, 0, 60), 40);
    // Every small knob is 44 wide and drawn from the skin's cyan atlas.
    int knobs = 0;
    std::vector<QZ::UIElement*> pending{editor.view->GetManager()->Root()};
    while (!pending.empty()) {
        QZ::UIElement* element = pending.back();
        pending.pop_back();
        if (auto* group = dynamic_cast<QZ::Group*>(element)) {
            if (group->IsVisible())
                pending.insert(pending.end(), group->Children().begin(), group->Children().end());
        } else if (auto* knob = dynamic_cast<QZ::Knob*>(element)) {
            const QZ::Box box = QZ::UIElement::AbsoluteBox(knob);
            if (box.x1 - box.x0 != 44)
                continue;
            ++knobs;
            const int x0 = static_cast<int>(box.x0), x1 = static_cast<int>(box.x1);
            const int top = editor.height - static_cast<int>(box.y1), bottom = editor.height - static_cast<int>(box.y0);
            EXPECT_GT(corvane::test::PixelsOfColour(image, x0, top, x1, bottom, 0, 255, 255, 60), 44 * 44 / 3)
                << "knob of " << knob->Record().name;
        }
    }
    EXPECT_GT(knobs, 0);
}

INSTANTIATE_TEST_SUITE_P(Entries, SkinnedEditor, ::testing::Values("QZs0", "QZs7", "QZsj"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return FileName(info.param); });

} // namespace

namespace {

// The Learner's target field as a person uses it: a click opens Enter
// Property with the property's current text, OK sets the property, and the
// field shows the new text.
TEST(PropertyFieldEditor, EnterPropertyStartsFromTheCurrentTextAndShowsTheAnswer)
{
    REQUIRE_DISPLAY();
    corvane::test::ScopedUserFolders folders;
    corvane::platform::DialogAnswer answer;
    answer.accepted = true;
    answer.text = "127.0.0.1:9100";
    corvane::platform::ScopedScriptedDialogs dialogs({answer});
    OpenEditor editor("QZsk");
    ASSERT_TRUE(editor.drawn);
    QZ::Manager* manager = editor.view->GetManager();
    QZ::PropertyTextField* field = nullptr;
    std::vector<QZ::UIElement*> pending{manager->Root()};
    while (!pending.empty() && !field) {
        QZ::UIElement* element = pending.back();
        pending.pop_back();
        if (auto* group = dynamic_cast<QZ::Group*>(element))
            pending.insert(pending.end(), group->Children().begin(), group->Children().end());
        field = dynamic_cast<QZ::PropertyTextField*>(element);
    }
    ASSERT_TRUE(field);
    const std::string before = field->ReadPropertyText();
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(manager->Text()->EntryText(field->TextEntry()), before);

    const QZ::Box box = QZ::UIElement::AbsoluteBox(field);
    const int x = static_cast<int>((box.x0 + box.x1) / 2), y = editor.height - static_cast<int>((box.y0 + box.y1) / 2);
    editor.host->SendButton(editor.child, true, 1, x, y, 0, 1000);
    editor.host->SendButton(editor.child, false, 1, x, y, 0, 2000);
    XSync(editor.host->Connection(), False);
    EXPECT_TRUE(corvane::test::WaitFor([&] {
        editor.view->idle(); // reads the press, then answers the dialog
        return field->ReadPropertyText() == answer.text;
    }, 5000)) << field->ReadPropertyText();
    const std::vector<corvane::platform::DialogRequest> requests = dialogs.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].title, "Enter Property");
    EXPECT_EQ(requests[0].initialText, before);
    EXPECT_EQ(field->ValueText(), answer.text);
    EXPECT_EQ(manager->Text()->EntryText(field->TextEntry()), answer.text);
}

} // namespace

namespace {

// Messages and texts of an editor that have nowhere else to go.

// A skin's font that is found but is no font: the person is told in a
// message box titled "Error" (the built-in fonts stand in).
TEST(EditorMessages, AFontThatCannotBeLoadedIsAnErrorMessage)
{
    REQUIRE_DISPLAY();
    corvane::test::ScopedUserFolders folders;
    const std::string notAFont = folders.DataHome() + "/notafont.ttf";
    {
        FILE* file = fopen(notAFont.c_str(), "wb");
        ASSERT_TRUE(file);
        fputs(std::string(200, 'x').c_str(), file);
        fclose(file);
    }
    WriteSkin("getFont = function() return { { name = '" + notAFont + "', size = 13 } } end\n");
    corvane::platform::ScopedScriptedDialogs dialogs;
    OpenEditor editor("QZs0");
    ASSERT_TRUE(editor.drawn);
    int messages = 0;
    for (const corvane::platform::DialogRequest& request : dialogs.Requests())
        messages += request.kind == corvane::platform::DialogKind::Message && request.title == "Error" &&
                    request.text == "Unable to load font";
    EXPECT_EQ(messages, 1);
}

// Font files that are found but are no fonts, here in the host's working
// folder, where the fonts the editors name are looked for first: one
// message box a file for the session, kept open, however many fonts name
// the file (the main, label and field fonts, the Learner's text display,
// the Preferences panel) and however often an editor opens.
TEST(EditorMessages, ABrokenFontFileIsOneMessage)
{
    REQUIRE_DISPLAY();
    corvane::test::ScopedUserFolders folders;
    corvane::test::TempDir fonts;
    for (const char* name : {"Verdana.ttf", "verdana.ttf", "arial.ttf"})
        fonts.WriteFile(name, std::string(200, 'x'));
    struct WorkingFolder {
        std::string old = std::filesystem::current_path().string();
        explicit WorkingFolder(const std::string& folder) { std::filesystem::current_path(folder); }
        ~WorkingFolder() { std::filesystem::current_path(old); }
    } inFonts(fonts.Path());
    corvane::platform::ScopedScriptedDialogs dialogs;
    for (int open = 0; open < 2; ++open) {
        OpenEditor editor("QZsk");
        ASSERT_TRUE(editor.drawn);
    }
    int messages = 0;
    for (const corvane::platform::DialogRequest& request : dialogs.Requests())
        messages += request.title == "Error" && request.text == "Unable to load font";
    EXPECT_EQ(messages, 3);
    EXPECT_EQ(dialogs.ClosedUnanswered(), 0) << "a message box closed as it opened";
}

// Without zenity the font message is on the editor's readout, as a dialog
// no one can show is.
TEST(EditorMessages, WithoutZenityAFontMessageIsOnTheReadout)
{
    REQUIRE_DISPLAY();
    if (!corvane::test::HaveTextReader())
        GTEST_SKIP() << "needs tesseract";
    corvane::test::ScopedUserFolders folders;
    const std::string notAFont = folders.DataHome() + "/notafont.ttf";
    std::ofstream(notAFont) << std::string(200, 'x');
    WriteSkin("getFont = function() return { { name = '" + notAFont + "', size = 13 } } end\n");
    corvane::test::TempDir noPrograms;
    auto path = std::make_unique<corvane::test::ScopedEnvironment>("PATH", noPrograms.Path());
    OpenEditor editor("QZs0");
    path.reset(); // the text reader is a program too
    ASSERT_TRUE(editor.drawn);
    QZ::Manager* manager = editor.view->GetManager();
    EXPECT_EQ(manager->Notice(), "Unable to load font");
    // Read from the frame, on the banner right of the title.
    const QZ::Box banner = manager->BannerBox();
    const int top = editor.height - static_cast<int>(banner.y1), bottom = editor.height - static_cast<int>(banner.y0);
    std::string read;
    Image shown;
    EXPECT_TRUE(corvane::test::WaitFor([&] {
        if (!DrawFrames(editor, 1) || !corvane::test::Capture(editor.host->Connection(), editor.child, shown))
            return false;
        read = corvane::test::ReadText(shown, static_cast<int>(manager->ReadoutX()), top,
                                       static_cast<int>(banner.x1), bottom);
        return read.find("Unable to load") != std::string::npos;
    })) << "read \"" << read << "\"";
    corvane::test::WritePng(shown, corvane::test::ScreenshotDir() + "/font_message_on_readout.png");
}

// Without zenity a click on the Learner's target field opens nothing: the
// readout says so (and the log).
TEST(EditorMessages, WithoutZenityTheReadoutSaysSo)
{
    REQUIRE_DISPLAY();
    corvane::test::ScopedUserFolders folders;
    corvane::test::TempDir noPrograms;
    corvane::test::ScopedEnvironment path("PATH", noPrograms.Path());
    OpenEditor editor("QZsk");
    ASSERT_TRUE(editor.drawn);
    QZ::Manager* manager = editor.view->GetManager();
    auto* field = FirstOf<QZ::PropertyTextField>(*manager);
    ASSERT_TRUE(field);
    const QZ::Box box = QZ::UIElement::AbsoluteBox(field);
    const int x = static_cast<int>((box.x0 + box.x1) / 2), y = editor.height - static_cast<int>((box.y0 + box.y1) / 2);
    corvane::test::StderrCapture log;
    editor.host->SendButton(editor.child, true, 1, x, y, 0, 1000);
    editor.host->SendButton(editor.child, false, 1, x, y, 0, 2000);
    // Away from the field, so that no readout covers the notice.
    editor.host->SendMotion(editor.child, 2, editor.height - 2, 0);
    XSync(editor.host->Connection(), False);
    EXPECT_TRUE(corvane::test::WaitFor([&] {
        editor.view->idle();
        return manager->Notice() == QZ::DialogSession::kNoDialogNotice;
    })) << manager->Notice();
    ASSERT_TRUE(DrawFrames(editor, 2));
    Image shown;
    ASSERT_TRUE(corvane::test::Capture(editor.host->Connection(), editor.child, shown));
    EXPECT_NE(log.Text().find("zenity"), std::string::npos);
    // The notice is on the banner, right of the title.
    const QZ::Box banner = manager->BannerBox();
    const int top = editor.height - static_cast<int>(banner.y1) - 4, bottom = editor.height - static_cast<int>(banner.y0) + 4;
    EXPECT_GT(corvane::test::DifferingPixels(editor.image, shown, static_cast<int>(manager->ReadoutX()), top,
                                             static_cast<int>(banner.x1), bottom),
              50);
    corvane::test::WritePng(shown, corvane::test::ScreenshotDir() + "/no_zenity_QZsk.png");
}

// With the floating tooltip on, opening Prefs draws no tooltip over the
// panel: the frame is the same with the tooltip switched off.
TEST(EditorMessages, NoTooltipOverThePreferencesPanel)
{
    REQUIRE_DISPLAY();
    corvane::test::ScopedUserFolders folders;
    struct TooltipOff {
        ~TooltipOff() { QZ::Manager::SetFloatingTooltipEnabled(false); }
    } restore;
    OpenEditor editor("QZsi"); // the panel covers the banner of this low window
    ASSERT_TRUE(editor.drawn);
    QZ::Manager* manager = editor.view->GetManager();
    QZ::Manager::SetFloatingTooltipEnabled(true); // after the editor read the preference
    const int x = editor.width - 5 - (34 + 20) / 2, y = 17; // the Prefs button
    editor.host->SendMotion(editor.child, x, y, 0);
    editor.host->SendButton(editor.child, true, 1, x, y, 0, 1000);
    editor.host->SendButton(editor.child, false, 1, x, y, 0, 2000);
    XSync(editor.host->Connection(), False);
    ASSERT_TRUE(corvane::test::WaitFor([&] {
        editor.view->idle();
        return QZ::PreferencesPanel::Of(*manager)->IsOpen();
    }));
    ASSERT_TRUE(DrawFrames(editor, 40)); // a tooltip would have faded in
    Image with, without;
    ASSERT_TRUE(corvane::test::Capture(editor.host->Connection(), editor.child, with));
    QZ::Manager::SetFloatingTooltipEnabled(false);
    manager->RequestRedraw();
    ASSERT_TRUE(DrawFrames(editor, 2));
    ASSERT_TRUE(corvane::test::Capture(editor.host->Connection(), editor.child, without));
    EXPECT_EQ(corvane::test::DifferingPixels(with, without, 0, 0, editor.width, editor.height), 0);
    corvane::test::WritePng(with, corvane::test::ScreenshotDir() + "/prefs_tooltip_QZsi.png");
}

// A skin that makes the LFO's window 510 wide: the readout of Beats L
// ("Beats L 4.000 beats") stays on the banner strip, left of Prefs.
TEST(EditorTexts, TheReadoutStaysOnTheBannerInANarrowWindow)
{
    REQUIRE_DISPLAY();
    corvane::test::ScopedUserFolders folders;
    WriteSkin("getWindowSize = function() return 510, 360 end\n");
    OpenEditor editor("QZs2");
    ASSERT_TRUE(editor.drawn);
    ASSERT_EQ(editor.width, 510);
    QZ::Manager* manager = editor.view->GetManager();
    int32_t beats = -1;
    for (const QZ::ParameterLabelRecord& record : manager->ParameterLabels())
        if (std::string(record.name) == "Beats L")
            beats = record.index;
    ASSERT_GE(beats, 0);
    manager->SetHoveredParameter(beats);
    ASSERT_TRUE(DrawFrames(editor, 2));
    Image shown;
    ASSERT_TRUE(corvane::test::Capture(editor.host->Connection(), editor.child, shown));
    corvane::test::WritePng(shown, corvane::test::ScreenshotDir() + "/readout_510_QZs2.png");
    manager->SetHoveredParameter(-1);
    const QZ::Box banner = manager->BannerBox();
    const int top = editor.height - static_cast<int>(banner.y1) - 4, bottom = editor.height - static_cast<int>(banner.y0) + 4;
    EXPECT_GT(corvane::test::DifferingPixels(editor.image, shown, 0, top, static_cast<int>(banner.x1), bottom), 100);
    EXPECT_EQ(corvane::test::DifferingPixels(editor.image, shown, static_cast<int>(banner.x1) + 1, top, editor.width,
                                             bottom, 40),
              0);
}

} // namespace
