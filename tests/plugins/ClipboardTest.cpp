// The clipboard the Learner copies to: the registration of an editor's
// clipboard, and the X11 clipboard answering another client of a real X
// server (Xvfb in the test runs; skipped without a display). And the Yes/No
// question when nobody can answer it.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "platform/ClipboardFake.h"
#include "platform/ClipboardX11.h"
#include "platform/MessageBox.h"
#include "tests/support/TestSupport.h"

using namespace corvane::platform;

namespace {

TEST(Clipboard, AnEditorsClipboardIsFoundOnlyWhileRegistered)
{
    int owner = 0, other = 0;
    EXPECT_EQ(ClipboardFor(&owner), nullptr);
    auto first = std::make_shared<FakeClipboard>();
    auto second = std::make_shared<FakeClipboard>();
    RegisterClipboard(&owner, first);
    EXPECT_EQ(ClipboardFor(&owner), first);
    EXPECT_EQ(ClipboardFor(&other), nullptr);
    RegisterClipboard(&owner, second); // a window opened again
    EXPECT_EQ(ClipboardFor(&owner), second);
    UnregisterClipboard(&owner);
    EXPECT_EQ(ClipboardFor(&owner), nullptr);
    UnregisterClipboard(&owner); // twice is harmless
}

TEST(Clipboard, AQuestionNobodyCanAnswerIsAnsweredNo)
{
    const char* display = getenv("DISPLAY");
    const std::string saved = display ? display : "";
    unsetenv("DISPLAY");
    std::string text;
    MessageBoxAnswer answer;
    {
        corvane::test::StderrCapture errors;
        answer = AskYesNo("Title", "Really?");
        text = errors.Text();
    }
    if (display)
        setenv("DISPLAY", saved.c_str(), 1);
    EXPECT_EQ(answer, MessageBoxAnswer::kNo);
    EXPECT_NE(text.find("Title: Really?"), std::string::npos) << text;

    // Scripted answers are used up in order, then No.
    ScopedScriptedAnswers answers({MessageBoxAnswer::kYes});
    EXPECT_EQ(AskYesNo("A", "1"), MessageBoxAnswer::kYes);
    EXPECT_EQ(AskYesNo("B", "2"), MessageBoxAnswer::kNo);
    EXPECT_EQ(answers.Questions(), (std::vector<std::string>{"A: 1", "B: 2"}));
}

// Pumps both connections until the reader gets its SelectionNotify.
bool WaitForNotify(Display* owner, X11Clipboard& clipboard, Display* reader, XEvent* notify)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        while (XPending(owner)) {
            XEvent event;
            XNextEvent(owner, &event);
            clipboard.HandleEvent(event);
        }
        while (XPending(reader)) {
            XNextEvent(reader, notify);
            if (notify->type == SelectionNotify)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

std::string TakeProperty(Display* reader, Window window, Atom property, Atom* type)
{
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(reader, window, property, 0, 4096, True, AnyPropertyType, type, &format, &count, &after,
                           &data) != Success)
        return "<failed>";
    std::string value;
    if (data && format == 8)
        value.assign(reinterpret_cast<const char*>(data), count);
    else if (data && format == 32)
        value = std::to_string(count) + " atoms";
    if (data)
        XFree(data);
    return value;
}

TEST(Clipboard, TheX11ClipboardAnswersAnotherClient)
{
    const char* display = getenv("DISPLAY");
    if (!display || !*display)
        GTEST_SKIP() << "no X server (DISPLAY unset)";
    Display* owner = XOpenDisplay(nullptr);
    Display* reader = XOpenDisplay(nullptr);
    ASSERT_NE(owner, nullptr);
    ASSERT_NE(reader, nullptr);
    const Window ownerWindow = XCreateSimpleWindow(owner, DefaultRootWindow(owner), 0, 0, 1, 1, 0, 0, 0);
    const Window readerWindow = XCreateSimpleWindow(reader, DefaultRootWindow(reader), 0, 0, 1, 1, 0, 0, 0);
    XSync(owner, False);
    XSync(reader, False);
    {
        X11Clipboard clipboard(owner, ownerWindow);
        EXPECT_FALSE(clipboard.Service()); // nothing set yet
        clipboard.SetText("/obry/QVLFO/1/SpeedL");
        ASSERT_TRUE(clipboard.Service());

        const Atom selection = XInternAtom(reader, "CLIPBOARD", False);
        const Atom property = XInternAtom(reader, "CORVANE_TEST", False);
        struct Case {
            const char* target;
            std::string value;
        };
        for (const Case& c : {Case{"UTF8_STRING", "/obry/QVLFO/1/SpeedL"}, Case{"STRING", "/obry/QVLFO/1/SpeedL"},
                              Case{"TARGETS", "4 atoms"}}) {
            SCOPED_TRACE(c.target);
            XConvertSelection(reader, selection, XInternAtom(reader, c.target, False), property, readerWindow,
                              CurrentTime);
            XFlush(reader);
            XEvent notify;
            ASSERT_TRUE(WaitForNotify(owner, clipboard, reader, &notify));
            ASSERT_EQ(notify.xselection.property, property);
            Atom type = None;
            EXPECT_EQ(TakeProperty(reader, readerWindow, property, &type), c.value);
        }
        // A target it does not offer is refused.
        XConvertSelection(reader, selection, XInternAtom(reader, "image/png", False), property, readerWindow,
                          CurrentTime);
        XFlush(reader);
        XEvent notify;
        ASSERT_TRUE(WaitForNotify(owner, clipboard, reader, &notify));
        EXPECT_EQ(notify.xselection.property, static_cast<Atom>(None));

        // Another client takes the clipboard: the owner lets go.
        XSetSelectionOwner(reader, selection, readerWindow, CurrentTime);
        XSync(reader, False);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (clipboard.OwnsSelection() && std::chrono::steady_clock::now() < deadline) {
            while (XPending(owner)) {
                XEvent event;
                XNextEvent(owner, &event);
                clipboard.HandleEvent(event);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_FALSE(clipboard.OwnsSelection());
    }
    XDestroyWindow(owner, ownerWindow);
    XDestroyWindow(reader, readerWindow);
    XCloseDisplay(owner);
    XCloseDisplay(reader);
}

} // namespace
