// The editor through the built module and our host, as a Linux host drives
// it: effEditGetRect, effEditOpen with the host's X window, effEditIdle,
// effEditClose, and the ways hosts get that order wrong.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "host/VstHost.h"
#include "tests/gui/HostWindow.h"
#include "tests/gui/Screenshot.h"
#include "tests/support/TestSupport.h"

using corvane::host::Module;
using corvane::host::Plugin;
using corvane::test::HostWindow;
using corvane::test::Rgb;
using corvane::test::WaitFor;

namespace {

constexpr uint32_t kHostGreen = 0x00FF00;

#define REQUIRE_DISPLAY()                                  \
    do {                                                   \
        if (!corvane::test::HaveDisplay())                 \
            GTEST_SKIP() << "no X server (DISPLAY unset)"; \
    } while (0)

class EditorModule : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        module = Module::Load(corvane::test::ModulePath(), &error);
        ASSERT_TRUE(module) << error;
    }

    void TearDown() override
    {
        plugin.reset();
        module.reset();
    }

    std::unique_ptr<Plugin> MakePlugin(const char* id = "QZs0")
    {
        uint32_t code = 0;
        for (int i = 0; i < 4; ++i)
            code = code << 8 | static_cast<uint8_t>(id[i]);
        auto made = Plugin::Create(*module, static_cast<int32_t>(code));
        if (made)
            made->Start(48000, 256);
        return made;
    }

    static ERect Rect(Plugin& p)
    {
        ERect* rect = nullptr;
        if (p.Dispatch(effEditGetRect, 0, 0, &rect) != 1 || !rect)
            return ERect{-1, -1, -1, -1};
        return *rect;
    }

    // Idles the editor until its window shows at (x, y) the panel's
    // background (the scripts' grey) instead of the host window's green
    // underneath it. A point near the top-left corner is background in
    // every editor.
    static bool IsPanelGrey(const Rgb& colour)
    {
        return std::abs(colour.r - 102) <= 3 && std::abs(colour.g - 102) <= 3 && std::abs(colour.b - 102) <= 3;
    }
    static bool WaitForPanel(Plugin& p, HostWindow& host, Window child, int x = 2, int y = 2)
    {
        return WaitFor([&] {
            p.Dispatch(effEditIdle);
            Rgb colour;
            return host.Pixel(child, x, y, &colour) && IsPanelGrey(colour);
        });
    }

    corvane::test::ScopedUserFolders folders;
    std::unique_ptr<Module> module;
    std::unique_ptr<Plugin> plugin;
};

TEST_F(EditorModule, EveryEntryOffersAnEditorOfItsScriptsSizeBeforeOpening)
{
    const struct {
        const char* id;
        int16_t width, height;
    } kSizes[] = {
        {"QZs0", 510, 220}, {"QZs1", 925, 385}, {"QZs2", 733, 360}, {"QZs3", 714, 315}, {"QZs4", 510, 220},
        {"QZs5", 550, 269}, {"QZs6", 854, 360}, {"QZs7", 494, 404}, {"QZs8", 786, 257}, {"QZs9", 510, 220},
        {"QZsa", 925, 385}, {"QZsb", 410, 135}, {"QZsc", 723, 450}, {"QZsd", 723, 450}, {"QZse", 526, 201},
        {"QZsf", 526, 201}, {"QZs(", 603, 314}, {"QZsg", 670, 335}, {"QZsh", 670, 335}, {"QZsi", 650, 125},
        {"QZsj", 685, 360}, {"QZsk", 955, 300}, {"QZsl", 570, 380}, {"QZsm", 714, 315}, {"QZsn", 400, 400},
    };
    for (const auto& entry : kSizes) {
        auto p = MakePlugin(entry.id);
        ASSERT_TRUE(p) << entry.id;
        EXPECT_TRUE(p->Flags() & effFlagsHasEditor) << entry.id;
        const ERect rect = Rect(*p);
        EXPECT_EQ(rect.top, 0) << entry.id;
        EXPECT_EQ(rect.left, 0) << entry.id;
        EXPECT_EQ(rect.right, entry.width) << entry.id;
        EXPECT_EQ(rect.bottom, entry.height) << entry.id;
        EXPECT_EQ(p->Close(), 1);
    }
}

TEST_F(EditorModule, OpenDrawsIntoAMappedChildAndCloseRemovesIt)
{
    REQUIRE_DISPLAY();
    plugin = MakePlugin();
    ASSERT_TRUE(plugin);
    HostWindow host(600, 300, kHostGreen);
    ASSERT_TRUE(host.Id());

    EXPECT_EQ(plugin->Dispatch(effEditOpen, 0, 0, host.Handle()), 1);
    const Window child = host.Child();
    ASSERT_NE(child, 0u);
    EXPECT_TRUE(host.IsShown(child));
    int width = 0, height = 0;
    ASSERT_TRUE(host.Size(child, &width, &height));
    EXPECT_EQ(width, 510);
    EXPECT_EQ(height, 220);
    const ERect rect = Rect(*plugin);
    EXPECT_EQ(rect.right, 510);
    EXPECT_EQ(rect.bottom, 220);

    // Corners and centre: the panel covers the whole window.
    EXPECT_TRUE(WaitForPanel(*plugin, host, child));
    for (auto [x, y] : {std::pair{0, 0}, {509, 0}, {0, 219}, {509, 219}}) {
        Rgb colour;
        ASSERT_TRUE(host.Pixel(child, x, y, &colour));
        EXPECT_TRUE(IsPanelGrey(colour)) << x << "," << y << ": " << colour.r << " " << colour.g << " " << colour.b;
    }
    // Outside the child the host's window is untouched.
    Rgb outside;
    ASSERT_TRUE(host.Pixel(host.Id(), 590, 290, &outside));
    EXPECT_GT(outside.g, 240);

    plugin->Dispatch(effEditClose);
    EXPECT_TRUE(host.Children().empty());
    EXPECT_EQ(plugin->Close(), 1);
}

TEST_F(EditorModule, TheOffscreenPanelPathDrawsToo)
{
    REQUIRE_DISPLAY();
    setenv("CORVANE_GL_OFFSCREEN_PANEL", "1", 1);
    plugin = MakePlugin();
    ASSERT_TRUE(plugin);
    HostWindow host(600, 300, kHostGreen);
    EXPECT_EQ(plugin->Dispatch(effEditOpen, 0, 0, host.Handle()), 1);
    const Window child = host.Child();
    ASSERT_NE(child, 0u);
    EXPECT_TRUE(WaitForPanel(*plugin, host, child));
    plugin->Dispatch(effEditClose);
    unsetenv("CORVANE_GL_OFFSCREEN_PANEL");
    EXPECT_TRUE(host.Children().empty());
}

// The banner's title ("ormbury : corvane 2.1.0" from x = 60, in the strip at
// the top of the LFO's editor), read back from the pixels, with the labels drawn through either
// panel path.
TEST_F(EditorModule, TheBannerTitleIsDrawnOnBothPanelPaths)
{
    REQUIRE_DISPLAY();
    if (!corvane::test::HaveTextReader())
        GTEST_SKIP() << "tesseract is not installed (scripts/setup.sh installs it)";
    for (bool offscreen : {false, true}) {
        SCOPED_TRACE(offscreen ? "off-screen panel" : "framebuffer panel");
        if (offscreen)
            setenv("CORVANE_GL_OFFSCREEN_PANEL", "1", 1);
        plugin = MakePlugin("QZs2"); // the LFO keeps the full banner
        ASSERT_TRUE(plugin);
        HostWindow host(800, 400, kHostGreen);
        EXPECT_EQ(plugin->Dispatch(effEditOpen, 0, 0, host.Handle()), 1);
        const Window child = host.Child();
        ASSERT_NE(child, 0u);
        corvane::test::Image image;
        std::string title;
        EXPECT_TRUE(WaitFor([&] {
            plugin->Dispatch(effEditIdle);
            if (!corvane::test::Capture(host.Connection(), child, image))
                return false;
            title = corvane::test::ReadText(image, 50, 4, 300, 32);
            return title == "ormbury : corvane 2.1.0";
        })) << "read: \"" << title << "\"";
        plugin->Dispatch(effEditClose);
        unsetenv("CORVANE_GL_OFFSCREEN_PANEL");
        plugin.reset();
    }
}

TEST_F(EditorModule, OpeningAndClosingTwentyTimesLeavesNothingBehind)
{
    REQUIRE_DISPLAY();
    plugin = MakePlugin("QZs2");
    ASSERT_TRUE(plugin);
    HostWindow host(600, 300, kHostGreen);
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(plugin->Dispatch(effEditOpen, 0, 0, host.Handle()), 1) << round;
        const Window child = host.Child();
        ASSERT_NE(child, 0u) << round;
        if (round % 5 == 0) { // every few rounds, wait for drawing too
            EXPECT_TRUE(WaitForPanel(*plugin, host, child)) << round;
        }
        plugin->Dispatch(effEditIdle);
        plugin->Dispatch(effEditClose);
        ASSERT_TRUE(host.Children().empty()) << round;
    }
    // The plug-in still works.
    std::vector<std::vector<float>> in(plugin->NumInputs(), std::vector<float>(256, 0.0f)), out;
    plugin->ProcessBlock(in, out, 256);
    EXPECT_EQ(plugin->Close(), 1);
}

// Hosts that get the order wrong.
TEST_F(EditorModule, TheHostDestroyingItsWindowFirstEndsNothing)
{
    REQUIRE_DISPLAY();
    plugin = MakePlugin();
    ASSERT_TRUE(plugin);
    for (bool idleBetween : {true, false}) {
        HostWindow host(600, 300, kHostGreen);
        ASSERT_EQ(plugin->Dispatch(effEditOpen, 0, 0, host.Handle()), 1);
        const Window child = host.Child();
        ASSERT_NE(child, 0u);
        EXPECT_TRUE(WaitForPanel(*plugin, host, child));
        host.Destroy();
        if (idleBetween)
            for (int i = 0; i < 5; ++i)
                plugin->Dispatch(effEditIdle);
        plugin->Dispatch(effEditKeyDown, 'a', 0, nullptr, 0);
        const ERect rect = Rect(*plugin);
        EXPECT_EQ(rect.right, 510);
        plugin->Dispatch(effEditClose);
    }
    // A new window afterwards works as the first did.
    HostWindow host(600, 300, kHostGreen);
    ASSERT_EQ(plugin->Dispatch(effEditOpen, 0, 0, host.Handle()), 1);
    EXPECT_TRUE(WaitForPanel(*plugin, host, host.Child()));
    plugin->Dispatch(effEditClose);
    EXPECT_EQ(plugin->Close(), 1);
}

TEST_F(EditorModule, OpenTwiceMovesTheEditorAndCloseWithoutOpenIsHarmless)
{
    REQUIRE_DISPLAY();
    plugin = MakePlugin();
    ASSERT_TRUE(plugin);
    plugin->Dispatch(effEditClose);
    plugin->Dispatch(effEditIdle);
    HostWindow first(600, 300, kHostGreen);
    HostWindow second(600, 300, kHostGreen);
    ASSERT_EQ(plugin->Dispatch(effEditOpen, 0, 0, first.Handle()), 1);
    ASSERT_EQ(plugin->Dispatch(effEditOpen, 0, 0, second.Handle()), 1);
    EXPECT_TRUE(first.Children().empty());
    ASSERT_EQ(second.Children().size(), 1u);
    EXPECT_TRUE(WaitForPanel(*plugin, second, second.Child()));
    plugin->Dispatch(effEditClose);
    plugin->Dispatch(effEditClose);
    EXPECT_TRUE(second.Children().empty());
    EXPECT_EQ(plugin->Close(), 1);
}

TEST_F(EditorModule, ABadParentWindowIsRefused)
{
    REQUIRE_DISPLAY();
    plugin = MakePlugin();
    ASSERT_TRUE(plugin);
    corvane::test::StderrCapture capture;
    EXPECT_EQ(plugin->Dispatch(effEditOpen, 0, 0, nullptr), 0);
    // An id no window has (the server's id ranges start far lower).
    EXPECT_EQ(plugin->Dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(uintptr_t{0x7ffffff0})), 0);
    plugin->Dispatch(effEditIdle);
    plugin->Dispatch(effEditClose);
    const std::string text = capture.Text();
    EXPECT_NE(text.find("without a parent window"), std::string::npos) << text;
    EXPECT_NE(text.find("does not exist"), std::string::npos) << text;
    // And a good one afterwards works.
    HostWindow host(600, 300, kHostGreen);
    EXPECT_EQ(plugin->Dispatch(effEditOpen, 0, 0, host.Handle()), 1);
    plugin->Dispatch(effEditClose);
    EXPECT_EQ(plugin->Close(), 1);
}

TEST_F(EditorModule, ClosingThePluginWithItsEditorOpenStopsTheEditor)
{
    REQUIRE_DISPLAY();
    plugin = MakePlugin();
    ASSERT_TRUE(plugin);
    HostWindow host(600, 300, kHostGreen);
    ASSERT_EQ(plugin->Dispatch(effEditOpen, 0, 0, host.Handle()), 1);
    EXPECT_TRUE(WaitForPanel(*plugin, host, host.Child()));
    EXPECT_EQ(plugin->Close(), 1);
    EXPECT_TRUE(host.Children().empty());
}

int OpenSockets()
{
    int count = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(folder)) {
            char path[300], target[300];
            snprintf(path, sizeof path, "/proc/self/fd/%s", entry->d_name);
            const ssize_t length = readlink(path, target, sizeof target - 1);
            if (length > 0 && strncmp(target, "socket:", 7) == 0)
                ++count;
        }
        closedir(folder);
    }
    return count;
}

// A scanning or headless host: no editor opcode, and no X server either.
TEST_F(EditorModule, AScanOpensNoXConnection)
{
    REQUIRE_DISPLAY();
    const int before = OpenSockets();
    for (const char* id : {"QZs0", "QZs2", "QZsk"}) {
        auto p = MakePlugin(id);
        ASSERT_TRUE(p) << id;
        EXPECT_GT(Rect(*p).right, 0);
        p->Dispatch(effEditIdle);
        p->Dispatch(effEditClose);
        EXPECT_EQ(OpenSockets(), before) << id;
        EXPECT_EQ(p->Close(), 1) << id;
    }
}

// While alive, this thread and those it starts share one processor, which a
// thread of its own keeps busy.
struct BusyProcessor {
    static cpu_set_t PinToOne()
    {
        cpu_set_t all, one;
        sched_getaffinity(0, sizeof all, &all);
        CPU_ZERO(&one);
        CPU_SET(std::max(sched_getcpu(), 0), &one);
        sched_setaffinity(0, sizeof one, &one);
        return all;
    }
    ~BusyProcessor() { sched_setaffinity(0, sizeof all, &all); }
    const cpu_set_t all = PinToOne();
    std::jthread spinner{[](std::stop_token stop) {
        while (!stop.stop_requested()) {
        }
    }};
};

// Hosts close plug-ins with their editors open (no effEditClose), many at a
// time, on a busy machine, with editors still setting up their GL: each
// close stops the render thread with the plug-in's own threads and keeps
// nothing, since no script holds any of them. The X error handler the GL
// driver puts in place around an editor's first frame is gone again
// afterwards: the host's errors reach the host.
TEST_F(EditorModule, PluginsClosedWithTheirEditorsOpenOnABusyProcessorKeepNothing)
{
    REQUIRE_DISPLAY();
    BusyProcessor busy;
    std::vector<std::unique_ptr<HostWindow>> windows;
    std::vector<std::unique_ptr<Plugin>> plugins;
    corvane::test::ProcessResources before;
    for (int i = 0; i <= 10; ++i) {
        if (i == 1) { // what the first editor of the process sets up for good is there from now on
            EXPECT_TRUE(WaitForPanel(*plugins[0], *windows[0], windows[0]->Child()));
            plugins.clear();
            windows.clear();
            before = {};
        }
        plugins.push_back(MakePlugin("QZs1"));
        ASSERT_TRUE(plugins.back());
        const ERect rect = Rect(*plugins.back());
        windows.push_back(std::make_unique<HostWindow>(rect.right, rect.bottom, kHostGreen));
        EXPECT_EQ(plugins.back()->Dispatch(effEditOpen, 0, 0, windows.back()->Handle()), 1);
    }
    corvane::test::StderrCapture capture;
    plugins.clear(); // closed with their editors open
    EXPECT_EQ(capture.Text().find("effClose:"), std::string::npos);
    const int hostErrors = HostWindow::ErrorCount();
    XMapWindow(windows[0]->Connection(), 0x7ffffff0); // no such window
    XSync(windows[0]->Connection(), False);
    EXPECT_EQ(HostWindow::ErrorCount(), hostErrors + 1);
    windows.clear();
    EXPECT_EQ(corvane::test::ProcessResources(), before);
}

TEST_F(EditorModule, AScanNeedsNoXServer)
{
    const char* old = getenv("DISPLAY");
    const std::string saved = old ? old : "";
    unsetenv("DISPLAY");
    for (const char* id : {"QZs0", "QZs2", "QZsk"}) {
        auto p = MakePlugin(id);
        ASSERT_TRUE(p) << id;
        EXPECT_TRUE(p->Flags() & effFlagsHasEditor);
        std::vector<std::vector<float>> in(p->NumInputs(), std::vector<float>(256, 0.0f)), out;
        p->ProcessBlock(in, out, 256);
        EXPECT_EQ(p->Close(), 1) << id;
    }
    // Opening without a server fails cleanly.
    auto p = MakePlugin();
    ASSERT_TRUE(p);
    {
        corvane::test::StderrCapture capture;
        EXPECT_EQ(p->Dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(uintptr_t{0x400001})), 0);
        EXPECT_NE(capture.Text().find("DISPLAY"), std::string::npos);
    }
    p->Dispatch(effEditIdle);
    p->Dispatch(effEditClose);
    EXPECT_EQ(p->Close(), 1);
    if (old)
        setenv("DISPLAY", saved.c_str(), 1);
}

} // namespace
