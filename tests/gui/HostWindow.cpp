#include "tests/gui/HostWindow.h"

#include <X11/Xutil.h>
#include <X11/extensions/Xcomposite.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace corvane::test {

namespace {

std::atomic<int> gErrors{0};

// The tests' own connection may ask about windows the editor has destroyed;
// those errors are counted, not fatal.
int CountError(Display*, XErrorEvent*)
{
    gErrors.fetch_add(1);
    return 0;
}

// Xvfb refuses a connection now and then while it is busy accepting others.
Display* Open()
{
    for (int attempt = 1; attempt <= 8; ++attempt) {
        if (Display* display = XOpenDisplay(nullptr))
            return display;
        std::this_thread::sleep_for(std::chrono::milliseconds(3 * attempt * attempt));
    }
    return nullptr;
}

} // namespace

bool HaveDisplay()
{
    const char* name = getenv("DISPLAY");
    if (!name || !*name)
        return false;
    Display* display = Open();
    if (!display)
        return false;
    XCloseDisplay(display);
    return true;
}

bool WaitFor(const std::function<bool()>& done, int limitMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int HostWindow::ErrorCount()
{
    return gErrors.load();
}

HostWindow::HostWindow(int width, int height, uint32_t background)
{
    // Once, before any editor installs its handler over this one.
    static std::once_flag installed;
    std::call_once(installed, [] { XSetErrorHandler(CountError); });
    display = Open();
    if (!display)
        return;
    const int screen = DefaultScreen(display);
    window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
                                 static_cast<unsigned>(height), 0, 0, background);
    XSelectInput(display, window, StructureNotifyMask);
    // Test binaries run side by side on one server and their windows
    // overlap: kept off-screen, each window's pixels stay its own.
    int eventBase = 0, errorBase = 0;
    if (XCompositeQueryExtension(display, &eventBase, &errorBase))
        XCompositeRedirectWindow(display, window, CompositeRedirectAutomatic);
    XMapWindow(display, window);
    XSync(display, False);
}

HostWindow::~HostWindow()
{
    if (!display)
        return;
    Destroy();
    XCloseDisplay(display);
}

void HostWindow::Destroy()
{
    if (window) {
        XDestroyWindow(display, window);
        XSync(display, False);
        window = 0;
    }
}

std::vector<Window> HostWindow::Children()
{
    std::vector<Window> result;
    if (!window)
        return result;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    XSync(display, False);
    if (XQueryTree(display, window, &root, &parent, &children, &count)) {
        result.assign(children, children + count);
        if (children)
            XFree(children);
    }
    return result;
}

Window HostWindow::Child()
{
    const auto children = Children();
    return children.size() == 1 ? children[0] : 0;
}

bool HostWindow::IsShown(Window target)
{
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, target, &attributes) && attributes.map_state == IsViewable;
}

bool HostWindow::Size(Window target, int* width, int* height)
{
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, target, &attributes))
        return false;
    *width = attributes.width;
    *height = attributes.height;
    return true;
}

bool HostWindow::Pixel(Window target, int x, int y, Rgb* colour)
{
    const int errors = ErrorCount();
    XImage* image = XGetImage(display, target, x, y, 1, 1, AllPlanes, ZPixmap);
    XSync(display, False);
    if (!image || ErrorCount() != errors) {
        if (image)
            XDestroyImage(image);
        return false;
    }
    const unsigned long pixel = XGetPixel(image, 0, 0);
    const auto channel = [pixel](unsigned long mask) {
        if (!mask)
            return 0;
        int shift = 0;
        while (!((mask >> shift) & 1))
            ++shift;
        const unsigned long max = mask >> shift;
        return static_cast<int>(((pixel & mask) >> shift) * 255 / max);
    };
    colour->r = channel(image->red_mask);
    colour->g = channel(image->green_mask);
    colour->b = channel(image->blue_mask);
    XDestroyImage(image);
    return true;
}

void HostWindow::SendButton(Window target, bool press, unsigned button, int x, int y, unsigned state, Time time)
{
    XEvent event{};
    event.xbutton.type = press ? ButtonPress : ButtonRelease;
    event.xbutton.display = display;
    event.xbutton.window = target;
    event.xbutton.root = DefaultRootWindow(display);
    event.xbutton.x = x;
    event.xbutton.y = y;
    event.xbutton.state = state;
    event.xbutton.button = button;
    event.xbutton.time = time;
    event.xbutton.same_screen = True;
    XSendEvent(display, target, False, press ? ButtonPressMask : ButtonReleaseMask, &event);
    XSync(display, False);
}

void HostWindow::SendMotion(Window target, int x, int y, unsigned state)
{
    XEvent event{};
    event.xmotion.type = MotionNotify;
    event.xmotion.display = display;
    event.xmotion.window = target;
    event.xmotion.root = DefaultRootWindow(display);
    event.xmotion.x = x;
    event.xmotion.y = y;
    event.xmotion.state = state;
    event.xmotion.same_screen = True;
    XSendEvent(display, target, False, PointerMotionMask, &event);
    XSync(display, False);
}

void HostWindow::SendKey(Window target, unsigned long keysym, unsigned state)
{
    XEvent event{};
    event.xkey.type = KeyPress;
    event.xkey.display = display;
    event.xkey.window = target;
    event.xkey.root = DefaultRootWindow(display);
    event.xkey.state = state;
    event.xkey.keycode = XKeysymToKeycode(display, keysym);
    event.xkey.same_screen = True;
    XSendEvent(display, target, False, KeyPressMask, &event);
    XSync(display, False);
}

void HostWindow::SendFocusOut(Window target)
{
    XEvent event{};
    event.xfocus.type = FocusOut;
    event.xfocus.display = display;
    event.xfocus.window = target;
    event.xfocus.mode = NotifyNormal;
    event.xfocus.detail = NotifyNonlinear;
    XSendEvent(display, target, False, FocusChangeMask, &event);
    XSync(display, False);
}

} // namespace corvane::test
