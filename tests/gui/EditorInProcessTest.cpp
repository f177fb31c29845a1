// The editor in-process: the window's X input as it reaches the manager and
// an element, the panel's colour on both panel paths, the host edit
// gestures, the key mappings, and a render thread that gets no GL context.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <mutex>
#include <string>
#include <vector>

#include "gui/editor/CarbonVSTEditor.h"
#include "gui/editor/EditorWindow.h"
#include "gui/toolkit/Manager.h"
#include "gui/editor/ManagerWin32Bridge.h"
#include "gui/editor/ObryCorvaneView.h"
#include "gui/toolkit/QJmanager.h"
#include "gui/toolkit/UIElement.h"
#include "gui/editor/XErrorTrap.h"
#include "platform/Clipboard.h"
#include "tests/framework/TestPlugin.h"
#include "tests/gui/HostWindow.h"
#include "tests/support/TestSupport.h"

using corvane::test::HostWindow;
using corvane::test::Rgb;
using corvane::test::WaitFor;

namespace {

#define REQUIRE_DISPLAY()                                  \
    do {                                                   \
        if (!corvane::test::HaveDisplay())                 \
            GTEST_SKIP() << "no X server (DISPLAY unset)"; \
    } while (0)

constexpr int kWidth = 300;
constexpr int kHeight = 200;

// What the host was asked for.
std::mutex gHostLock;
std::vector<std::string> gHostCalls;

intptr_t RecordingHost(AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float)
{
    std::lock_guard<std::mutex> guard(gHostLock);
    if (opcode == audioMasterBeginEdit)
        gHostCalls.push_back("begin " + std::to_string(index));
    if (opcode == audioMasterEndEdit)
        gHostCalls.push_back("end " + std::to_string(index));
    return opcode == audioMasterVersion ? 2400 : 0;
}

std::vector<std::string> TakeHostCalls()
{
    std::lock_guard<std::mutex> guard(gHostLock);
    std::vector<std::string> calls;
    calls.swap(gHostCalls);
    return calls;
}

// An element covering the whole window that writes down its input. The
// left half of the window edits parameter 3.
class RecordingElement : public QZ::UIElement {
public:
    using UIElement::UIElement;

    QZ::UIElement* HitTest(const QZ::Point& p) override
    {
        return p.x >= 0 && p.x <= kWidth && p.y >= 0 && p.y <= kHeight ? this : nullptr;
    }
    void MouseDown(const QZ::Point& p, uint32_t modifiers, int clicks) override
    {
        Log("down %g,%g m%x c%d", p.x, p.y, modifiers, clicks);
        if (p.x < kWidth / 2)
            manager->BeginParameterEdit(3);
    }
    void MouseDrag(const QZ::Point& p, uint32_t modifiers) override { Log("drag %g,%g m%x", p.x, p.y, modifiers); }
    void MouseUp(const QZ::Point& p, uint32_t modifiers) override { Log("up %g,%g m%x", p.x, p.y, modifiers); }
    bool KeyDown(uint8_t key) override
    {
        Log("key %d", key);
        return true;
    }
    void LoseFocus() override { Log("lose focus"); }
    void InitGL() override { initGL.store(true); }

    std::vector<std::string> Take()
    {
        std::vector<std::string> taken;
        taken.swap(log);
        return taken;
    }

    std::atomic<bool> initGL{false};

private:
    template <typename... Args>
    void Log(const char* format, Args... args)
    {
        char text[96];
        snprintf(text, sizeof text, format, args...);
        log.push_back(text);
    }
    std::vector<std::string> log; // UI thread only
};

// The plug-in's view with a test element tree and background.
class RecordingView : public ObryCorvaneView {
public:
    using ObryCorvaneView::ObryCorvaneView;
    RecordingElement* element = nullptr;
    QZ::Colour background{0.2f, 0.4f, 0.6f, 1};

protected:
    void GetScriptWindowSize(int32_t& width, int32_t& height) override
    {
        width = kWidth;
        height = kHeight;
    }
    void SetUpGUI(QZ::Manager& m) override
    {
        element = new RecordingElement(&m);
        m.SetRootElement(element);
        m.SetBackgroundColour(background.r, background.g, background.b);
    }
};

class GuiTestPlugin : public corvane::test::TestPlugin {
public:
    GuiTestPlugin() : TestPlugin("Corvane Tester", 2, 2, RecordingHost)
    {
        delete editor;
        auto* recording = new RecordingView(this);
        editor = recording;
        recording->InitWindowSize();
        view = recording;
    }
    RecordingView* view;
};

class EditorInProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!corvane::test::HaveDisplay())
            return;
        plugin = std::make_unique<GuiTestPlugin>();
        host = std::make_unique<HostWindow>(kWidth + 100, kHeight + 100, 0x00FF00);
        TakeHostCalls();
    }
    void TearDown() override
    {
        QZ::Manager::SetForceOffscreenPanel(false);
        plugin.reset();
        host.reset();
    }

    bool Open()
    {
        if (!plugin->view->open(host->Handle()))
            return false;
        child = host->Child();
        return child != 0;
    }
    RecordingElement& Element() { return *plugin->view->element; }
    QZ::Manager& Manager() { return *plugin->view->GetManager(); }
    // Lets the editor read what the test sent.
    std::vector<std::string> Idle()
    {
        plugin->view->idle();
        return Element().Take();
    }

    corvane::test::ScopedUserFolders folders;
    std::unique_ptr<GuiTestPlugin> plugin;
    std::unique_ptr<HostWindow> host;
    Window child = 0;
};

TEST_F(EditorInProcess, ThePanelShowsTheBackgroundColourOnBothPaths)
{
    REQUIRE_DISPLAY();
    for (bool offscreen : {false, true}) {
        QZ::Manager::SetForceOffscreenPanel(offscreen);
        plugin->view->background = offscreen ? QZ::Colour{0.8f, 0.2f, 0.4f, 1} : QZ::Colour{0.2f, 0.4f, 0.6f, 1};
        ASSERT_TRUE(Open());
        const int wantR = offscreen ? 204 : 51, wantG = offscreen ? 51 : 102, wantB = offscreen ? 102 : 153;
        EXPECT_TRUE(WaitFor([&] { return Manager().FramesDrawn() >= 2; }));
        EXPECT_TRUE(Manager().PanelRendered());
        EXPECT_EQ(Manager().UsesFramebuffer(), !offscreen);
        EXPECT_TRUE(Element().initGL.load());
        // The eye-candy program exists while the render thread runs.
        EXPECT_NE(static_cast<QJmanager&>(Manager()).ShaderProgram(), 0u);
        for (auto [x, y] : {std::pair{0, 0}, {kWidth - 1, 0}, {kWidth / 2, kHeight / 2}, {kWidth - 1, kHeight - 1}}) {
            Rgb colour;
            EXPECT_TRUE(WaitFor([&] {
                return host->Pixel(child, x, y, &colour) && std::abs(colour.r - wantR) <= 2 &&
                       std::abs(colour.g - wantG) <= 2 && std::abs(colour.b - wantB) <= 2;
            })) << "offscreen " << offscreen << " at " << x << "," << y << ": " << colour.r << " " << colour.g << " "
                << colour.b;
        }
        plugin->view->close();
        EXPECT_TRUE(host->Children().empty());
    }
}

// A host that hides the editor's window, or a window of its own above it,
// instead of closing the editor: nothing is drawn while it is hidden, even
// with changes waiting, and the whole picture as soon as it shows again.
TEST_F(EditorInProcess, AHiddenEditorDrawsNothingAndEverythingWhenShownAgain)
{
    REQUIRE_DISPLAY();
    Display* display = host->Connection();
    // The editor sits in `parent`, a window of the host inside its top-level window.
    const Window parent = XCreateSimpleWindow(display, host->Id(), 0, 0, kWidth, kHeight, 0, 0, 0x00FF00);
    XMapWindow(display, parent);
    XSync(display, False);
    const struct {
        const char* what;
        Window hidden;
        bool changed; // a redraw was asked for while hidden
    } cases[] = {{"the editor's parent", parent, true},
                 {"an ancestor", host->Id(), true},
                 {"nothing changed meanwhile", parent, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(plugin->view->open(reinterpret_cast<void*>(static_cast<uintptr_t>(parent))));
        ASSERT_TRUE(WaitFor([&] { return Manager().FramesDrawn() >= 1; }));
        if (!c.changed) {
            // At rest: no pass wants a frame any more.
            const uint64_t opened = Manager().RenderPasses();
            ASSERT_TRUE(WaitFor([&] { return Manager().RenderPasses() >= opened + QZ::FramePacer::kSettlePasses + 2; }));
        }
        XUnmapWindow(display, c.hidden);
        XSync(display, False);
        // A pass under way may still draw; the ones begun after it see the
        // window hidden.
        const uint64_t seen = Manager().RenderPasses();
        ASSERT_TRUE(WaitFor([&] { return Manager().RenderPasses() >= seen + 2; }));
        const uint64_t frames = Manager().FramesDrawn();
        if (c.changed)
            Manager().RequestRedraw();
        const uint64_t requested = Manager().RenderPasses();
        ASSERT_TRUE(WaitFor([&] { return Manager().RenderPasses() >= requested + 5; }));
        EXPECT_EQ(Manager().FramesDrawn(), frames);

        XMapWindow(display, c.hidden);
        XSync(display, False);
        Window editorWindow = 0;
        {
            Window root = 0, above = 0, *children = nullptr;
            unsigned count = 0;
            if (XQueryTree(display, parent, &root, &above, &children, &count) && count > 0)
                editorWindow = children[0];
            if (children)
                XFree(children);
        }
        ASSERT_NE(editorWindow, 0u);
        // The panel's blue, where the X server cleared the window on mapping.
        Rgb colour;
        EXPECT_TRUE(WaitFor([&] {
            return host->Pixel(editorWindow, kWidth / 2, kHeight / 2, &colour) && std::abs(colour.r - 51) <= 2 &&
                   std::abs(colour.g - 102) <= 2 && std::abs(colour.b - 153) <= 2;
        })) << colour.r << " " << colour.g << " " << colour.b;
        // The server's clear may show the blue before the render thread has
        // drawn its frame.
        EXPECT_TRUE(WaitFor([&] { return Manager().FramesDrawn() > frames; }));
        plugin->view->close();
    }
    XDestroyWindow(display, parent);
    XSync(display, False);
}

TEST_F(EditorInProcess, MouseInputReachesTheElementWithYUpwards)
{
    REQUIRE_DISPLAY();
    ASSERT_TRUE(Open());
    // Press, drag and release on the right half (no parameter): the element
    // sees y from the bottom edge, the host's X state as modifiers.
    host->SendButton(child, true, Button1, 200, 50, ShiftMask, 1000);
    host->SendMotion(child, 210, 40, ShiftMask | Button1Mask);
    host->SendButton(child, false, Button1, 210, 40, ShiftMask | ControlMask | Button1Mask, 1100);
    EXPECT_EQ(Idle(), (std::vector<std::string>{"down 200,150 m200 c1", "drag 210,160 m200", "up 210,160 ma00"}));

    // A second press soon after at the same place is a double click; a third
    // starts over; a late one or one far away is single.
    host->SendButton(child, true, Button1, 202, 52, 0, 3000);
    host->SendButton(child, false, Button1, 202, 52, Button1Mask, 3010);
    host->SendButton(child, true, Button1, 203, 51, Mod1Mask, 3400);
    host->SendButton(child, false, Button1, 203, 51, Button1Mask, 3410);
    host->SendButton(child, true, Button1, 203, 51, 0, 3450);
    host->SendButton(child, false, Button1, 203, 51, Button1Mask, 3460);
    host->SendButton(child, true, Button1, 203, 51, 0, 6000);
    host->SendButton(child, false, Button1, 203, 51, Button1Mask, 6010);
    host->SendButton(child, true, Button1, 260, 51, 0, 6100);
    host->SendButton(child, false, Button1, 260, 51, Button1Mask, 6110);
    EXPECT_EQ(Idle(), (std::vector<std::string>{"down 202,148 m0 c1", "up 202,148 m0", "down 203,149 m100 c2",
                                                "up 203,149 m0", "down 203,149 m0 c1", "up 203,149 m0",
                                                "down 203,149 m0 c1", "up 203,149 m0", "down 260,149 m0 c1",
                                                "up 260,149 m0"}));

    // Motion without a button is hover, not a drag.
    host->SendMotion(child, 5, 5, 0);
    EXPECT_TRUE(Idle().empty());
}

TEST_F(EditorInProcess, AWheelNotchIsAPressATenPixelDragAndARelease)
{
    REQUIRE_DISPLAY();
    ASSERT_TRUE(Open());
    host->SendButton(child, true, Button4, 250, 100, 0, 10);
    host->SendButton(child, false, Button4, 250, 100, 0, 11);
    host->SendButton(child, true, Button5, 250, 100, ShiftMask, 20);
    host->SendButton(child, false, Button5, 250, 100, ShiftMask, 21);
    EXPECT_EQ(Idle(), (std::vector<std::string>{"down 250,100 m0 c1", "drag 250,110 m0", "up 250,110 m0",
                                                "down 250,100 m200 c1", "drag 250,90 m200", "up 250,90 m200"}));
    // While a button is held the wheel does nothing.
    host->SendButton(child, true, Button1, 250, 100, 0, 30);
    host->SendButton(child, true, Button4, 250, 100, Button1Mask, 40);
    host->SendButton(child, false, Button1, 250, 100, Button1Mask, 50);
    EXPECT_EQ(Idle(), (std::vector<std::string>{"down 250,100 m0 c1", "up 250,100 m0"}));
}

TEST_F(EditorInProcess, AParameterPressIsOneHostEditGesture)
{
    REQUIRE_DISPLAY();
    ASSERT_TRUE(Open());
    host->SendButton(child, true, Button1, 20, 20, 0, 100);
    host->SendMotion(child, 25, 20, Button1Mask);
    host->SendMotion(child, 30, 20, Button1Mask);
    host->SendButton(child, false, Button1, 30, 20, Button1Mask, 200);
    Idle();
    EXPECT_EQ(TakeHostCalls(), (std::vector<std::string>{"begin 3", "end 3"}));
    EXPECT_EQ(Manager().EditedParameter(), -1);
}

TEST_F(EditorInProcess, KeysReachTheFocusedElementOnce)
{
    REQUIRE_DISPLAY();
    ASSERT_TRUE(Open());
    // Without focus nothing is delivered.
    host->SendKey(child, XK_a, 0);
    EXPECT_TRUE(Idle().empty());
    VstKeyCode hostKey{'a', 0, 0};
    EXPECT_FALSE(plugin->view->onKeyDown(hostKey));

    Manager().SetKeyFocus(&Element());
    host->SendKey(child, XK_a, 0);
    host->SendKey(child, XK_Left, 0);
    host->SendKey(child, XK_KP_Subtract, 0);
    host->SendKey(child, XK_period, 0);
    host->SendKey(child, XK_Return, 0);
    host->SendKey(child, XK_Shift_L, ShiftMask); // no character: not delivered
    EXPECT_EQ(Idle(), (std::vector<std::string>{"key 97", "key 28", "key 45", "key 46", "key 13"}));

    VstKeyCode keypad7{0, VKEY_NUMPAD7, 0};
    EXPECT_TRUE(plugin->view->onKeyDown(keypad7));
    EXPECT_EQ(Element().Take(), (std::vector<std::string>{"key 55"}));

    // Losing the keyboard focus takes the element's focus away.
    host->SendFocusOut(child);
    EXPECT_EQ(Idle(), (std::vector<std::string>{"lose focus"}));
    EXPECT_EQ(Manager().KeyFocus(), nullptr);

    // A press elsewhere also ends the focus.
    Manager().SetKeyFocus(&Element());
    host->SendButton(child, true, Button1, 250, 10, 0, 10);
    host->SendButton(child, false, Button1, 250, 10, Button1Mask, 20);
    EXPECT_EQ(Idle(), (std::vector<std::string>{"lose focus", "down 250,190 m0 c1", "up 250,190 m0"}));
}

TEST_F(EditorInProcess, AResizedWindowIsDrawnAtItsNewSize)
{
    REQUIRE_DISPLAY();
    ASSERT_TRUE(Open());
    ASSERT_TRUE(WaitFor([&] { return Manager().FramesDrawn() >= 1; }));
    // What the resize drag does on the UI thread.
    Manager().Bridge()->SetWindowSize(kWidth + 60, kHeight + 40);
    Manager().SetWindowSize(kWidth + 60, kHeight + 40);
    Manager().SignalRenderEvent(QZ::Manager::kEventSizeChanged);
    // The server applies the editor's requests in its own time.
    const auto hasSize = [&](Window target, int wantWidth, int wantHeight) {
        return WaitFor([&] {
            int width = 0, height = 0;
            return host->Size(target, &width, &height) && width == wantWidth && height == wantHeight;
        });
    };
    EXPECT_TRUE(hasSize(child, kWidth + 60, kHeight + 40));
    EXPECT_TRUE(hasSize(host->Id(), kWidth + 160, kHeight + 140)); // the host's window grew by as much
    EXPECT_EQ(Manager().Bridge()->GetWindowRect(), kHeight + 40);
    // The new corner shows the panel too.
    Rgb colour;
    EXPECT_TRUE(WaitFor([&] {
        return host->Pixel(child, kWidth + 55, kHeight + 35, &colour) && std::abs(colour.r - 51) <= 2 &&
               std::abs(colour.g - 102) <= 2 && std::abs(colour.b - 153) <= 2;
    })) << colour.r << " " << colour.g << " " << colour.b;
    ERect* rect = nullptr;
    ASSERT_TRUE(plugin->view->getRect(&rect));
    EXPECT_EQ(rect->right, kWidth + 60);
    EXPECT_EQ(rect->bottom, kHeight + 40);
}

TEST_F(EditorInProcess, OurErrorHandlerIsInPlaceOnlyWhileAnEditorIsOpen)
{
    REQUIRE_DISPLAY();
    EXPECT_FALSE(QZ::x11::HandlerInstalled());
    ASSERT_TRUE(Open());
    EXPECT_TRUE(QZ::x11::HandlerInstalled());
    // Mesa's software GLX puts a handler of its own in place for the span of
    // a shared-memory attach when the render thread first shows a frame
    // drawable, and that handler drops every other error of the process.
    // The host's error is sent once the render thread is past it.
    ASSERT_TRUE(WaitFor([&] { return Manager().FramesDrawn() >= 2; }));
    // An error on the host's own connection still reaches the host's handler.
    const int before = HostWindow::ErrorCount();
    XMapWindow(host->Connection(), 0x7ffffff0);
    XSync(host->Connection(), False);
    EXPECT_EQ(HostWindow::ErrorCount(), before + 1);
    plugin->view->close();
    EXPECT_FALSE(QZ::x11::HandlerInstalled());
}

// Another library's handler installed over ours that passes errors on to
// the one it displaced (ours), with ours installed again over it: the host's
// errors still reach the host's handler once, ours stay ours.
int gOtherSeen = 0;
XErrorHandler gOtherDisplaced = nullptr;
int OtherHandler(Display* display, XErrorEvent* error)
{
    ++gOtherSeen;
    return gOtherDisplaced ? gOtherDisplaced(display, error) : 0;
}

TEST_F(EditorInProcess, ErrorsFindTheirHandlerThroughAnotherLibrarysHandler)
{
    REQUIRE_DISPLAY();
    const XErrorHandler hostHandler = XSetErrorHandler(nullptr);
    XSetErrorHandler(hostHandler);
    struct Row {
        bool otherInBetween;
        bool onOurConnection;
        int wantHost, wantOurs, wantOther;
    };
    const Row rows[] = {
        {false, false, 1, 0, 0},
        {false, true, 0, 1, 0},
        {true, false, 1, 0, 1},
        {true, true, 0, 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.otherInBetween) + " " + std::to_string(row.onOurConnection));
        Display* first = XOpenDisplay(nullptr);
        Display* ours = XOpenDisplay(nullptr);
        ASSERT_TRUE(first && ours);
        ASSERT_TRUE(QZ::x11::AdoptConnection(first));
        if (row.otherInBetween)
            gOtherDisplaced = XSetErrorHandler(OtherHandler);
        QZ::x11::ReleaseConnection(first);
        ASSERT_TRUE(QZ::x11::AdoptConnection(ours));
        gOtherSeen = 0;
        const int hostBefore = HostWindow::ErrorCount();
        Display* target = row.onOurConnection ? ours : host->Connection();
        XMapWindow(target, 0x7ffffff0);
        XSync(target, False);
        EXPECT_EQ(HostWindow::ErrorCount() - hostBefore, row.wantHost);
        EXPECT_EQ(QZ::x11::Tally(ours).count, static_cast<uint32_t>(row.wantOurs));
        EXPECT_EQ(gOtherSeen, row.wantOther);
        XCloseDisplay(ours);
        QZ::x11::ReleaseConnection(ours);
        XCloseDisplay(first);
        XSetErrorHandler(hostHandler);
        gOtherDisplaced = nullptr;
    }
}

TEST_F(EditorInProcess, AWindowDestroyedUnderTheRenderThreadStopsItsDrawing)
{
    REQUIRE_DISPLAY();
    ASSERT_TRUE(Open());
    ASSERT_TRUE(WaitFor([&] { return Manager().FramesDrawn() >= 1; }));
    auto* bridge = static_cast<QZ::ManagerWin32Bridge*>(Manager().Bridge());
    host->Destroy();
    // Without effEditIdle the render thread learns it from its own errors.
    EXPECT_TRUE(WaitFor([&] { return bridge->WindowLost(); }));
    plugin->view->idle();
    EXPECT_TRUE(plugin->view->Window()->IsGone());
    // Closing neither hangs nor draws again.
    plugin->view->close();
    EXPECT_EQ(plugin->view->GetManager(), nullptr);
}

// A manager whose bridge gets no GL context (its window does not exist):
// the render thread makes no GL call, draws nothing and still stops.
TEST(EditorRenderThread, NoContextMeansNoDrawingAndACleanStop)
{
    REQUIRE_DISPLAY();
    corvane::test::ScopedUserFolders folders;
    corvane::test::TestPlugin plugin;
    QJmanager manager(&plugin);
    manager.SetWindowSize(100, 100);
    manager.MakeTitle();
    manager.SetBridge(new QZ::ManagerWin32Bridge(0x7ffffff0, 0x7ffffff1, getenv("DISPLAY"), nullptr));
    corvane::test::StderrCapture capture;
    manager.CreateRenderTask();
    ASSERT_TRUE(manager.RenderTaskRunning());
    manager.CreateRenderTask();
    EXPECT_TRUE(WaitFor([&] { return manager.PanelRendered(); }));
    manager.SignalRenderEvent(QZ::Manager::kEventRedrawPanel);
    manager.SignalRenderEvent(QZ::Manager::kEventSizeChanged);
    EXPECT_TRUE(manager.DestroyRenderTask());
    EXPECT_EQ(manager.FramesDrawn(), 0u);
    EXPECT_EQ(manager.ShaderProgram(), 0u);
    const std::string text = capture.Text();
    EXPECT_NE(text.find("double call to CreateRenderTask()\n"), std::string::npos) << text;
    EXPECT_NE(text.find("no GL context"), std::string::npos) << text;
}

TEST(EditorKeys, HostKeyCodesBecomeKeyBytes)
{
    struct Row {
        int32_t character;
        unsigned char virt;
        uint8_t want;
    };
    const Row rows[] = {
        {'x', 0, 'x'},          {0, VKEY_BACK, 8},     {0, VKEY_DELETE, 8},     {0, VKEY_RETURN, 13},
        {0, VKEY_ENTER, 13},    {0, VKEY_LEFT, 28},    {0, VKEY_UP, 30},        {0, VKEY_RIGHT, 29},
        {0, VKEY_DOWN, 31},     {0, VKEY_SUBTRACT, '-'}, {0, VKEY_DECIMAL, '.'}, {0, VKEY_NUMPAD0, '0'},
        {0, VKEY_NUMPAD9, '9'}, {190, 0, '.'},         {0x141, 0, 0x41},        {'q', VKEY_F1, 'q'},
    };
    for (const Row& row : rows) {
        VstKeyCode key{row.character, row.virt, 0};
        EXPECT_EQ(QZ::CarbonVSTEditor::KeyByteForKeyCode(key), row.want) << row.character << " " << int(row.virt);
    }
}

TEST(EditorKeys, XKeysBecomeKeyBytes)
{
    struct Row {
        unsigned long keysym;
        const char* text;
        uint8_t want;
    };
    const Row rows[] = {
        {XK_a, "a", 'a'},          {XK_Left, "", 28},       {XK_KP_Up, "", 30},     {XK_Right, "", 29},
        {XK_Down, "", 31},         {XK_Delete, "\x7f", 8},  {XK_BackSpace, "\b", 8}, {XK_KP_Subtract, "-", '-'},
        {XK_KP_Decimal, ".", '.'}, {XK_KP_7, "7", '7'},     {XK_KP_Home, "", 0},    {XK_Shift_L, "", 0},
        {XK_Escape, "\x1b", 27},   {XK_KP_Enter, "\r", 13}, {XK_eacute, "\xe9", 0xe9},
    };
    for (const Row& row : rows)
        EXPECT_EQ(QZ::EditorWindow::TranslateKey(row.keysym, row.text, static_cast<int>(strlen(row.text))), row.want)
            << row.keysym;
    EXPECT_EQ(QZ::EditorWindow::ModifiersFromState(ShiftMask | ControlMask | Mod1Mask), 0xB00u);
}

TEST(EditorCommands, CommandIdsGrowDownwardsAndRepeatForTheSameText)
{
    corvane::test::ScopedUserFolders folders;
    corvane::test::TestPlugin plugin;
    QZ::Manager manager(&plugin);
    EXPECT_EQ(manager.CommandIdForName("first"), -2);
    manager.RegisterCommandNames();
    EXPECT_EQ(manager.CommandIdForName("Load calibration data"), -5);
    EXPECT_EQ(manager.CommandIdForName("Run my script"), -7);
    EXPECT_EQ(manager.CommandIdForName("Run my script"), -7);
    EXPECT_EQ(manager.CommandIdForName("Another"), -8);
    EXPECT_STREQ(manager.CommandText(-6), "Transfer from Voice Controller");
    EXPECT_EQ(manager.CommandText(-100), nullptr);
    ASSERT_EQ(manager.ParameterLabels().size(), 13u);
    EXPECT_STREQ(manager.ParameterLabels()[6].name, "A Very Long Parameter Name");
}

TEST(EditorPreferences, TheManagerReadsTheThreeEditorPreferences)
{
    corvane::test::ScopedUserFolders folders;
    corvane::test::TestPlugin plugin;
    {
        QZ::Manager manager(&plugin);
        EXPECT_TRUE(QZ::Manager::EyeCandyEnabled());
        EXPECT_TRUE(QZ::Manager::ConstantRedrawEnabled());
        EXPECT_FALSE(QZ::Manager::FloatingTooltipEnabled());
    }
    folders.WritePreference("Enable eye candy", "0");
    folders.WritePreference("Enable constant redraw", "0");
    folders.WritePreference("Enable floating tooltip", "7");
    {
        QZ::Manager manager(&plugin);
        EXPECT_FALSE(QZ::Manager::EyeCandyEnabled());
        EXPECT_FALSE(QZ::Manager::ConstantRedrawEnabled());
        EXPECT_TRUE(QZ::Manager::FloatingTooltipEnabled());
    }
}

TEST(EditorRect, TheWindowSizeIsKeptWithinWhatGLAndTheHostCanTake)
{
    corvane::test::ScopedUserFolders folders;
    corvane::test::TestPlugin plugin;
    ObryCorvaneView view(&plugin);
    struct Row {
        int width, height, wantWidth, wantHeight;
    };
    for (const Row& row : {Row{0, 0, 1, 1}, Row{-5, 300, 1, 300}, Row{400, 70000, 400, 16384}}) {
        view.SetRectSize(row.width, row.height);
        ERect* rect = nullptr;
        ASSERT_TRUE(view.getRect(&rect));
        EXPECT_EQ(rect->right, row.wantWidth);
        EXPECT_EQ(rect->bottom, row.wantHeight);
        EXPECT_EQ(rect->top, 0);
    }
}

} // namespace

TEST_F(EditorInProcess, AnOpenWindowOffersItsClipboardToThePlugin)
{
    REQUIRE_DISPLAY();
    const void* owner = static_cast<ObryCorvaneBase*>(plugin.get());
    EXPECT_FALSE(corvane::platform::ClipboardFor(owner));
    ASSERT_TRUE(Open());
    auto clipboard = corvane::platform::ClipboardFor(owner);
    ASSERT_TRUE(clipboard);
    EXPECT_TRUE(clipboard->SetText("/obry/QVDC/1/Level"));
    Idle(); // the window takes the selection on the UI thread
    Display* display = host->Connection();
    EXPECT_EQ(XGetSelectionOwner(display, XInternAtom(display, "CLIPBOARD", False)), child);
    plugin->view->close();
    EXPECT_FALSE(corvane::platform::ClipboardFor(owner));
}
