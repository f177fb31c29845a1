// Skins as an attacker writes them, through the module and our host: script
// and font files that are FIFOs or huge, writes, finalizers and windows of
// any size. Creating the plug-in, opening and closing its editor all return
// (a hang here is the test's time-out), the built-in editor stands in, and
// no file is written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "framework/vst/VstAbi.h"
#include "host/VstHost.h"
#include "platform/Preferences.h"
#include "platform/UserFolders.h"
#include "tests/gui/HostWindow.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

namespace corvane::test {
namespace {

using corvane::host::Plugin;

struct Hostile {
    const char* name;
    // Lays the skin out in its resource folder; `fifo` is a FIFO nobody
    // writes, `written` a path nothing may create.
    std::function<void(const std::string& folder, const std::string& fifo, const std::string& written)> lay;
};

void Text(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

const Hostile kSkins[] = {
    {"ScriptIsAFifo", [](const std::string& folder, const std::string&,
                         const std::string&) { ASSERT_EQ(mkfifo((folder + "/gui_dc.lua").c_str(), 0600), 0); }},
    {"ScriptIsHugeAndSparse",
     [](const std::string& folder, const std::string&, const std::string&) {
         Text(folder + "/gui.lua", "");
         ASSERT_EQ(truncate(std::string(folder + "/gui.lua").c_str(), off_t{3} << 30), 0);
     }},
    {"OpensAFifo",
     [](const std::string& folder, const std::string& fifo, const std::string&) {
         Text(folder + "/gui_dc.lua", "local f = io.open('" + fifo + "') if f then f:read('*a') end\n");
     }},
    {"LoadsAFifoAsAFont",
     [](const std::string& folder, const std::string& fifo, const std::string&) {
         Text(folder + "/gui.lua", "getFont = function() return { { name = '" + fifo + "', size = 13 } } end\n");
     }},
    {"WritesFiles",
     [](const std::string& folder, const std::string&, const std::string& written) {
         Text(folder + "/gui_dc.lua", "pcall(io.open, '" + written + "', 'w')\npcall(io.open, '" + written +
                                          "', 'a')\npcall(io.output, '" + written + "')\n");
     }},
    {"LoopsInAFinalizer",
     [](const std::string& folder, const std::string&, const std::string&) {
         Text(folder + "/gui_dc.lua", "local loop = function() while true do end end\n"
                                      "pcall(function() getmetatable(io.input()).__gc = loop end)\n"
                                      "pcall(function() io.input().__index.__gc = loop end)\n"
                                      "pcall(function() getmetatable(newproxy(true)).__gc = loop end)\n");
     }},
    {"AsksForAHugeWindow",
     [](const std::string& folder, const std::string&, const std::string&) {
         Text(folder + "/gui_dc.lua", "getWindowSize = function() return 16384, 16384 end\n");
     }},
};

class HostileSkin : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileSkin, CannotHangTheHostOrWriteAFile)
{
    if (!HaveDisplay())
        GTEST_SKIP() << "no X server (DISPLAY unset)";
    ScopedUserFolders folders;
    // A font that cannot be loaded is an error message: no dialog program
    // is found, so it goes to standard error instead of onto the screen.
    TempDir noPrograms;
    ScopedEnvironment path("PATH", noPrograms.Path());
    ASSERT_TRUE(corvane::WriteSkinPref("Hostile"));
    const std::string folder = corvane::GetSkinsFolder("Corvane") + "/Hostile.bundle/Contents/Resources";
    std::filesystem::create_directories(folder);
    const std::string fifo = folders.DataHome() + "/fifo";
    const std::string written = folders.DataHome() + "/written";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    GetParam().lay(folder, fifo, written);

    auto plugin = Plugin::Create(LoadedModule(), vst::FourCC("QZs0"));
    ASSERT_NE(plugin, nullptr);
    plugin->Start(48000, 256);
    ERect* rect = nullptr;
    ASSERT_EQ(plugin->Dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    // The built-in DC editor, or (for the window) the largest one drawable.
    const bool huge = std::string(GetParam().name) == "AsksForAHugeWindow";
    EXPECT_EQ(rect->right - rect->left, huge ? 1024 : 510);
    EXPECT_EQ(rect->bottom - rect->top, huge ? 512 : 220);
    {
        HostWindow window(rect->right - rect->left, rect->bottom - rect->top, 0x00FF00);
        ASSERT_TRUE(window.Id());
        ASSERT_EQ(plugin->Dispatch(effEditOpen, 0, 0, window.Handle()), 1);
        plugin->Dispatch(effEditIdle);
        plugin->Dispatch(effEditClose);
    }
    EXPECT_EQ(plugin->Close(), 1);
    EXPECT_FALSE(std::filesystem::exists(written));
}

INSTANTIATE_TEST_SUITE_P(Skins, HostileSkin, ::testing::ValuesIn(kSkins),
                         [](const ::testing::TestParamInfo<Hostile>& info) { return info.param.name; });

} // namespace
} // namespace corvane::test
