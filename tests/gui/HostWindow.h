// A host's side of the editor tests: a top-level window on a connection of
// the test's own, standing for the window a host hands to effEditOpen, and
// what a test needs to look at the editor's child window (its pixels, its
// map state) and to send it input.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <X11/Xlib.h>

namespace corvane::test {

// True when DISPLAY names a server the tests can use.
bool HaveDisplay();

// Skips the calling test when there is no X server.
#define REQUIRE_DISPLAY()                                  \
    do {                                                   \
        if (!corvane::test::HaveDisplay())                 \
            GTEST_SKIP() << "no X server (DISPLAY unset)"; \
    } while (0)

// Waits until `done` answers true, checking every few milliseconds, for at
// most `limitMs`. A bound against hanging, not a timing requirement: it must
// hold for a first frame and a text read under the sanitizers on a loaded
// two-core machine.
bool WaitFor(const std::function<bool()>& done, int limitMs = 60000);

struct Rgb {
    int r = 0, g = 0, b = 0;
};

class HostWindow {
public:
    // A mapped top-level window of width x height whose background is
    // `background` (0xRRGGBB).
    HostWindow(int width, int height, uint32_t background);
    ~HostWindow(); // destroys the window (unless Destroy ran) and closes

    Window Id() const { return window; }
    void* Handle() const { return reinterpret_cast<void*>(static_cast<uintptr_t>(window)); }
    Display* Connection() const { return display; }
    void Destroy();

    // The window's children (the editor's window, once open).
    std::vector<Window> Children();
    // The only child, or 0 when there is none or more than one.
    Window Child();
    bool IsShown(Window target);
    bool Size(Window target, int* width, int* height);
    // The colour of one pixel of `target`, (x, y) from its top-left corner.
    bool Pixel(Window target, int x, int y, Rgb* colour);

    // Input sent to `target` as the server would deliver it.
    void SendButton(Window target, bool press, unsigned button, int x, int y, unsigned state, Time time);
    void SendMotion(Window target, int x, int y, unsigned state);
    void SendKey(Window target, unsigned long keysym, unsigned state);
    void SendFocusOut(Window target);

    // X errors the test's own connection received.
    static int ErrorCount();

private:
    Display* display = nullptr;
    Window window = 0;
};

} // namespace corvane::test
