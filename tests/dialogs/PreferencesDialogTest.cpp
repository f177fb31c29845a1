// The About and Preferences dialog's fields and controls on a real plug-in:
// OK with a new base port (and the plug-in's OSC server answering at the
// new port), port texts that are ignored, check boxes clicked twice, the
// skin list and the output arrangement.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "framework/OSCBasePort.h"
#include "gui/dialogs/PreferencesModel.h"
#include "gui/toolkit/Manager.h"
#include "plugins/dc/ObryCorvaneDC.h"
#include "platform/Preferences.h"
#include "tests/scripting/OscPeer.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::test::MakeInProcess;
using corvane::test::OscPeer;
using QZ::PreferencesModel;

namespace {

class PreferencesDialogTest : public ::testing::Test {
protected:
    PreferencesDialogTest() : base(corvane::test::UniquePortBase()), folders(base) {}
    ~PreferencesDialogTest() override { ObryOSC::SetBasePort(ObryOSC::kDefaultBasePort); }

    int base;
    corvane::test::ScopedUserFolders folders;
};

TEST_F(PreferencesDialogTest, OkWithANewBasePortMovesThePluginsServer)
{
    auto plugin = MakeInProcess<ObryCorvaneDC::ObryCorvane>();
    plugin->SetParameterValue(ObryCorvaneDC::ObryCorvane::kPortOffsetIndex, 1, false);
    OscPeer peer;
    const int reply = peer.Open();
    ASSERT_TRUE(peer.WaitForServer(base + 1, reply));

    PreferencesModel dialog(plugin.get());
    EXPECT_EQ(dialog.PortText(), std::to_string(base));
    const int moved = base + 20;
    dialog.SetPortText(std::to_string(moved));
    dialog.Ok();
    EXPECT_EQ(corvane::ReadPrefInt("OSC Base Port", 0), moved);
    EXPECT_EQ(ObryOSC::BasePort(), moved);
    EXPECT_TRUE(peer.WaitForServer(moved + 1, reply)) << "the plug-in listens at the new base + its offset";
}

TEST_F(PreferencesDialogTest, PortTextsThatAreIgnored)
{
    auto plugin = MakeInProcess<ObryCorvaneDC::ObryCorvane>();
    // The field keeps at most 255 digits.
    const std::string digits255(255, '9');
    const struct {
        std::string typed;
        std::string shown;
    } cases[] = {{"", ""},
                 {"abc", ""},
                 {"0", "0"},
                 {"65536", "65536"},
                 {"99999999999999", "99999999999999"},
                 {digits255, digits255},
                 {digits255 + "12", digits255}};
    for (const auto& c : cases) {
        PreferencesModel dialog(plugin.get());
        dialog.SetPortText(c.typed);
        EXPECT_EQ(dialog.PortText(), c.shown);
        dialog.Ok();
        EXPECT_EQ(corvane::ReadPrefInt("OSC Base Port", 0), base) << c.typed;
        EXPECT_EQ(ObryOSC::BasePort(), base) << c.typed;
    }
    PreferencesModel dialog(plugin.get());
    dialog.SetPortText("9 0x0 1");
    EXPECT_EQ(dialog.PortText(), "9001") << "the field takes digits only";
}

TEST_F(PreferencesDialogTest, CheckBoxesClickedTwiceLeaveFlagAndPreference)
{
    using Flag = bool (*)();
    const struct {
        const char* preference;
        void (PreferencesModel::*toggle)();
        Flag flag;
    } boxes[] = {
        {"Enable eye candy", &PreferencesModel::ToggleEyeCandy, QZ::Manager::EyeCandyEnabled},
        {"Enable constant redraw", &PreferencesModel::ToggleConstantRedraw, QZ::Manager::ConstantRedrawEnabled},
        {"Enable floating tooltip", &PreferencesModel::ToggleFloatingTooltip, QZ::Manager::FloatingTooltipEnabled},
    };
    folders.WritePreference("Enable floating tooltip", "1");
    auto plugin = MakeInProcess<ObryCorvaneDC::ObryCorvane>();
    QZ::Manager manager(plugin.get()); // reads the flags, as an editor opening does
    for (const auto& box : boxes) {
        PreferencesModel dialog(plugin.get());
        const bool before = box.flag();
        (dialog.*box.toggle)();
        EXPECT_EQ(box.flag(), !before) << box.preference;
        EXPECT_EQ(corvane::ReadPrefInt(box.preference, -1), before ? 0 : 1) << box.preference;
        (dialog.*box.toggle)();
        EXPECT_EQ(box.flag(), before) << box.preference;
        EXPECT_EQ(corvane::ReadPrefInt(box.preference, -1), before ? 1 : 0) << box.preference;
    }
}

TEST_F(PreferencesDialogTest, SkinListStartsWithDefault)
{
    for (const char* skin : {"Dark.bundle", "Light.bundle", ".bundle"})
        std::filesystem::create_directories(folders.DataHome() + "/Ormbury/Corvane/Skins/" + skin);
    auto plugin = MakeInProcess<ObryCorvaneDC::ObryCorvane>();
    const struct {
        const char* preference;
        int selected;
    } cases[] = {{nullptr, 0}, {"Gone", 0}, {"Light", 2}, {"Dark", 1}};
    for (const auto& c : cases) {
        if (c.preference)
            corvane::WriteSkinPref(c.preference);
        PreferencesModel dialog(plugin.get());
        EXPECT_EQ(dialog.Skins(), (std::vector<std::string>{"Default", "Dark", "Light"}));
        EXPECT_EQ(dialog.SelectedSkin(), c.selected) << (c.preference ? c.preference : "none");
    }
    PreferencesModel dialog(plugin.get());
    std::string stored;
    dialog.ChooseSkin(2);
    ASSERT_TRUE(corvane::ReadSkinPref(stored));
    EXPECT_EQ(stored, "Light");
    dialog.ChooseSkin(0);
    ASSERT_TRUE(corvane::ReadSkinPref(stored));
    EXPECT_EQ(stored, "") << "Default is the empty name";
    dialog.ChooseSkin(3);
    EXPECT_EQ(dialog.SelectedSkin(), 0);
}

TEST_F(PreferencesDialogTest, AboutTextsAndArrangement)
{
    auto plugin = MakeInProcess<ObryCorvaneDC::ObryCorvane>();
    {
        PreferencesModel dialog(plugin.get());
        EXPECT_EQ(dialog.ProductText(), "Corvane");
        EXPECT_EQ(dialog.VersionText(), "2.1.0");
        EXPECT_EQ(dialog.Arrangement(), 1) << "the default";
        dialog.ChooseArrangement(2);
        dialog.ChooseArrangement(3);
        EXPECT_EQ(corvane::ReadPrefInt("VC output arrangement", -1), 2);
    }
    // A stored index outside the three selects none of them.
    for (const auto& [stored, shown] : {std::pair{"7", -1}, std::pair{"3", -1}, std::pair{"-1", -1},
                                        std::pair{"2", 2}, std::pair{"0", 0}}) {
        folders.WritePreference("VC output arrangement", stored);
        PreferencesModel dialog(plugin.get());
        EXPECT_EQ(dialog.Arrangement(), shown) << stored;
    }
}

} // namespace
