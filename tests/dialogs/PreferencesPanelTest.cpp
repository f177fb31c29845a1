// The About and Preferences dialog as a person uses it: drawn over an open
// editor under Xvfb, clicked and typed into through the editor's X window,
// while the plug-in processes audio and the editor keeps drawing.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <string>

#include "framework/OSCBasePort.h"
#include "gui/dialogs/PreferencesPanel.h"
#include "gui/editor/CarbonVSTEditor.h"
#include "plugins/dc/ObryCorvaneDC.h"
#include "platform/Preferences.h"
#include "tests/gui/DisplayHarness.h"
#include "tests/gui/HostWindow.h"
#include "tests/gui/Screenshot.h"
#include "tests/support/TestSupport.h"

using namespace corvane::test;
using QZ::PreferencesPanel;

namespace {

constexpr int kWidth = 510, kHeight = 220; // the DC editor's size

class PreferencesPanelTest : public ::testing::Test {
protected:
    PreferencesPanelTest() : base(UniquePortBase()), folders(base) {}
    ~PreferencesPanelTest() override
    {
        ObryOSC::SetBasePort(ObryOSC::kDefaultBasePort);
        QZ::Manager::SetEyeCandyEnabled(true);
        QZ::Manager::SetConstantRedrawEnabled(true);
        QZ::Manager::SetFloatingTooltipEnabled(false);
    }

    void SetUp() override
    {
        if (!HaveDisplay())
            GTEST_SKIP() << "no X server (DISPLAY unset)";
        StartInProcessTransport();
        harness = DisplayHarness::Make<ObryCorvaneDC::ObryCorvane>(kWidth, kHeight, [](QZ::Manager&, QZ::Group&) {});
        host = std::make_unique<HostWindow>(kWidth, kHeight, 0x00FF00);
        ASSERT_TRUE(harness->View().open(host->Handle()));
        panel = PreferencesPanel::Of(*harness->Manager());
        ASSERT_TRUE(panel);
        ASSERT_TRUE(QZ::ShowPreferencesDialog(*harness->Manager()));
        layout = PreferencesPanel::LayOut(kWidth, kHeight);
    }

    void TearDown() override
    {
        if (harness)
            harness->View().close();
    }

    // A click in the middle of a part, through the editor's window (y down).
    void Click(int part)
    {
        const QZ::Box& box = layout.parts[part];
        const int x = static_cast<int>((box.x0 + box.x1) / 2);
        const int y = kHeight - static_cast<int>((box.y0 + box.y1) / 2);
        host->SendButton(host->Child(), true, Button1, x, y, 0, ++time);
        host->SendButton(host->Child(), false, Button1, x, y, Button1Mask, ++time);
        Frames(1);
    }

    void Key(unsigned long keysym)
    {
        host->SendKey(host->Child(), keysym, 0);
        Frames(1);
    }

    // Audio runs while the editor takes its events and draws `count` frames.
    void Frames(int count)
    {
        for (int i = 0; i < count; ++i) {
            harness->Process(2);
            const uint64_t seen = harness->Manager()->FramesDrawn();
            ASSERT_TRUE(WaitFor([&] {
                harness->View().idle();
                return harness->Manager()->FramesDrawn() >= seen + 2;
            }));
        }
    }

    int base;
    ScopedUserFolders folders;
    std::unique_ptr<DisplayHarness> harness;
    std::unique_ptr<HostWindow> host;
    PreferencesPanel* panel = nullptr;
    PreferencesPanel::Layout layout;
    Time time = 100;
};

TEST_F(PreferencesPanelTest, ShowsEveryFieldOverTheEditor)
{
    Frames(2);
    Image image;
    ASSERT_TRUE(Capture(host->Connection(), host->Child(), image));
    EXPECT_TRUE(WritePng(image, ScreenshotDir() + "/preferences.png"));
    // The panel covers its box; every part lies inside it and none overlap.
    for (int i = 0; i < PreferencesPanel::kPartCount; ++i) {
        const QZ::Box& part = layout.parts[i];
        EXPECT_GE(part.x0, layout.panel.x0) << i;
        EXPECT_LE(part.x1, layout.panel.x1) << i;
        EXPECT_GE(part.y0, layout.panel.y0) << i;
        EXPECT_LE(part.y1, layout.panel.y1) << i;
        for (int j = i + 1; j < PreferencesPanel::kPartCount; ++j) {
            const QZ::Box& other = layout.parts[j];
            EXPECT_FALSE(part.x0 < other.x1 && other.x0 < part.x1 && part.y0 < other.y1 && other.y0 < part.y1)
                << i << " overlaps " << j;
        }
    }
    // The panel's own fill, unlike the editor around it.
    const int x = static_cast<int>(layout.panel.x0) + 3;
    const int y = kHeight - static_cast<int>(layout.panel.y0) - 3;
    EXPECT_GT(PixelsOfColour(image, x, y - 2, x + 2, y, 33, 36, 38, 6), 0);
    // The captions and labels are written: rows of the two columns that
    // hold text only (titles, maker, port and arrangement labels, "Skin:")
    // are more than the panel's fill.
    struct Band {
        float column;
        int row;
    };
    for (const Band& band : {Band{layout.leftColumn, 0}, Band{layout.leftColumn, 1}, Band{layout.leftColumn, 3},
                             Band{layout.leftColumn, 4}, Band{layout.rightColumn, 0}, Band{layout.rightColumn, 1}}) {
        const int x0 = static_cast<int>(band.column), x1 = x0 + 40;
        const int y1 = kHeight - static_cast<int>(layout.Row(band.row));
        const int y0 = y1 - static_cast<int>(layout.rowHeight);
        const int text = (x1 - x0) * (y1 - y0) - PixelsOfColour(image, x0, y0, x1, y1, 33, 36, 38, 6);
        EXPECT_GT(text, 15) << "row " << band.row << " at x " << x0;
    }
    EXPECT_FALSE(QZ::ShowPreferencesDialog(*harness->Manager())) << "one dialog at a time";
}

TEST_F(PreferencesPanelTest, ClicksTakeEffectAtOnce)
{
    using Flag = bool (*)();
    const struct {
        int part;
        int clicks;
        Flag flag;
        const char* preference;
    } cases[] = {
        {PreferencesPanel::kEyeCandy, 2, &QZ::Manager::EyeCandyEnabled, "Enable eye candy"},
        {PreferencesPanel::kConstantRedraw, 1, &QZ::Manager::ConstantRedrawEnabled, "Enable constant redraw"},
        {PreferencesPanel::kFloatingTooltip, 3, &QZ::Manager::FloatingTooltipEnabled, "Enable floating tooltip"},
    };
    for (const auto& c : cases) {
        const bool before = c.flag();
        for (int i = 0; i < c.clicks; ++i)
            Click(c.part);
        const bool expected = c.clicks % 2 ? !before : before;
        EXPECT_EQ(c.flag(), expected) << c.preference;
        EXPECT_EQ(corvane::ReadPrefInt(c.preference, before ? 1 : 0) != 0, expected) << c.preference;
    }
    // The arrangement steps from the default "Stereo x3" and wraps.
    Click(PreferencesPanel::kArrangementNext);
    EXPECT_EQ(corvane::ReadPrefInt("VC output arrangement", -1), 2);
    Click(PreferencesPanel::kArrangementNext);
    EXPECT_EQ(corvane::ReadPrefInt("VC output arrangement", -1), 0);
    Click(PreferencesPanel::kArrangementPrevious);
    EXPECT_EQ(corvane::ReadPrefInt("VC output arrangement", -1), 2);
    // Without skins the skin stays "Default".
    Click(PreferencesPanel::kSkinNext);
    ASSERT_TRUE(panel->Model());
    EXPECT_EQ(panel->Model()->SelectedSkin(), 0);
    Click(PreferencesPanel::kCancel);
    EXPECT_FALSE(panel->IsOpen());
}

TEST_F(PreferencesPanelTest, TypedPortAppliesOnReturnOnly)
{
    const int moved = base + 30;
    const struct {
        unsigned long finish;
        int expected;
    } cases[] = {{XK_Escape, base}, {XK_Return, moved}};
    for (const auto& c : cases) {
        if (!panel->IsOpen()) {
            ASSERT_TRUE(QZ::ShowPreferencesDialog(*harness->Manager()));
        }
        for (size_t i = 0; i < std::to_string(base).size(); ++i)
            Key(XK_BackSpace);
        Key(XK_a); // not a digit: ignored
        for (char digit : std::to_string(moved))
            Key(XK_0 + static_cast<unsigned long>(digit - '0'));
        ASSERT_TRUE(panel->Model());
        EXPECT_EQ(panel->Model()->PortText(), std::to_string(moved));
        Key(c.finish);
        EXPECT_FALSE(panel->IsOpen());
        EXPECT_EQ(ObryOSC::BasePort(), c.expected);
        EXPECT_EQ(corvane::ReadPrefInt("OSC Base Port", base), c.expected);
    }
}

TEST_F(PreferencesPanelTest, ClosingTheEditorWhileOpenAppliesNothing)
{
    for (char digit : std::string("1"))
        Key(XK_0 + static_cast<unsigned long>(digit - '0'));
    harness->View().close();
    EXPECT_EQ(ObryOSC::BasePort(), base);
    // The editor opens again with the dialog closed.
    ASSERT_TRUE(harness->View().open(host->Handle()));
    panel = PreferencesPanel::Of(*harness->Manager());
    ASSERT_TRUE(panel);
    EXPECT_FALSE(panel->IsOpen());
}

} // namespace
