#include "gui/editor/EditorWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>

#include "gui/editor/XErrorTrap.h"
#include "platform/ClipboardX11.h"

namespace QZ {

namespace {

constexpr long kEventMask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                            KeyReleaseMask | FocusChangeMask | StructureNotifyMask | ExposureMask;

// Modifier bits as the manager expects them.
constexpr uint32_t kModifierAlt = 0x100;
constexpr uint32_t kModifierShift = 0x200;
constexpr uint32_t kModifierControl = 0x800;

std::string Describe(const char* format, unsigned long value)
{
    char text[160];
    snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

uint32_t EditorWindow::ModifiersFromState(unsigned int state)
{
    uint32_t mask = 0;
    if (state & ShiftMask)
        mask |= kModifierShift;
    if (state & ControlMask)
        mask |= kModifierControl;
    if (state & Mod1Mask)
        mask |= kModifierAlt;
    return mask;
}

uint8_t EditorWindow::TranslateKey(unsigned long keysym, const char* text, int textLength)
{
    switch (keysym) {
    case XK_Left:
    case XK_KP_Left:
        return 28;
    case XK_Up:
    case XK_KP_Up:
        return 30;
    case XK_Right:
    case XK_KP_Right:
        return 29;
    case XK_Down:
    case XK_KP_Down:
        return 31;
    case XK_Delete:
    case XK_KP_Delete:
    case XK_BackSpace:
        return 8;
    case XK_KP_Subtract:
    case XK_minus:
        return '-';
    case XK_KP_Decimal:
    case XK_period:
        return '.';
    case XK_Return:
    case XK_KP_Enter:
        return 13;
    default:
        break;
    }
    if (text && textLength == 1)
        return static_cast<uint8_t>(text[0]);
    return 0;
}

std::unique_ptr<EditorWindow> EditorWindow::Create(unsigned long parent, int width, int height, std::string* error)
{
    auto fail = [error](std::string reason) -> std::unique_ptr<EditorWindow> {
        if (error)
            *error = std::move(reason);
        return nullptr;
    };
    if (!parent)
        return fail("no parent window");
    if (width < 1 || height < 1)
        return fail("empty window size");

    const char* name = getenv("DISPLAY");
    if (!name || !*name)
        return fail("DISPLAY is not set");
    Display* display = x11::OpenConnection(nullptr);
    if (!display)
        return fail(std::string("cannot open X display ") + name);

    std::unique_ptr<EditorWindow> self(new EditorWindow());
    self->display = display;
    self->parent = parent;
    self->displayName = DisplayString(display);
    x11::AdoptConnection(display);

    // The render thread draws with GLX; the window itself needs none of it.
    int glxOpcode = 0, glxEventBase = 0, glxErrorBase = 0;
    if (!XQueryExtension(display, "GLX", &glxOpcode, &glxEventBase, &glxErrorBase))
        return fail("the X server offers no GLX");

    XWindowAttributes parentAttributes{};
    if (!XGetWindowAttributes(display, parent, &parentAttributes))
        return fail(Describe("parent window 0x%lx does not exist", parent));
    const int screen = XScreenNumberOfScreen(parentAttributes.screen);
    Visual* visual = DefaultVisual(display, screen);
    const int depth = DefaultDepth(display, screen);

    const uint32_t errorsBefore = x11::Tally(display).count;
    const Window root = RootWindow(display, screen);
    // The screen's default visual, whatever the host's window uses: the
    // render thread's drawing is copied in at this depth.
    self->colormap = XCreateColormap(display, root, visual, AllocNone);
    XSetWindowAttributes windowAttributes{};
    windowAttributes.colormap = self->colormap;
    windowAttributes.border_pixel = 0;
    // No background: the render thread paints every pixel, and clearing
    // first would only flicker.
    windowAttributes.background_pixmap = None;
    windowAttributes.event_mask = kEventMask;
    self->window = XCreateWindow(display, parent, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                 depth, InputOutput, visual, CWColormap | CWBorderPixel | CWBackPixmap | CWEventMask,
                                 &windowAttributes);
    XMapWindow(display, self->window);
    XSync(display, False);
    if (x11::Tally(display).count != errorsBefore) {
        // The parent vanished between our look and the creation, or the
        // server refused the window: nothing usable was made.
        return fail(Describe("cannot create the editor window in 0x%lx", parent));
    }
    self->width = width;
    self->height = height;
    self->clipboard = std::make_shared<corvane::platform::X11Clipboard>(display, self->window);
    return self;
}

std::shared_ptr<corvane::platform::Clipboard> EditorWindow::TextClipboard() const
{
    return clipboard;
}

EditorWindow::~EditorWindow()
{
    if (!display)
        return;
    clipboard.reset();
    if (window && !IsGone())
        XDestroyWindow(display, window);
    if (colormap)
        XFreeColormap(display, colormap);
    // Closing syncs and may read errors for the requests above: the trap
    // stays in place until the connection is gone.
    XCloseDisplay(display);
    x11::ReleaseConnection(display);
}

bool EditorWindow::IsGone()
{
    if (!gone && display && x11::Tally(display).lostDrawables > 0)
        gone = true;
    return gone;
}

int EditorWindow::ClicksForPress(int button, int x, int y, unsigned long time)
{
    const bool doubleClick = !lastPressWasDouble && button == lastPressButton &&
                             static_cast<unsigned long>(time - lastPressTime) <= kDoubleClickMs &&
                             abs(x - lastPressX) <= kDoubleClickDistance && abs(y - lastPressY) <= kDoubleClickDistance;
    lastPressButton = button;
    lastPressX = x;
    lastPressY = y;
    lastPressTime = time;
    // A third press after a double click starts a new pair.
    lastPressWasDouble = doubleClick;
    return doubleClick ? 2 : 1;
}

void EditorWindow::ProcessEvents(const std::function<void(const WindowEvent&)>& sink)
{
    if (!display)
        return;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (clipboard && clipboard->HandleEvent(event))
            continue;
        WindowEvent out;
        switch (event.type) {
        case ButtonPress: {
            const XButtonEvent& b = event.xbutton;
            out.x = b.x;
            out.y = b.y;
            out.modifiers = ModifiersFromState(b.state);
            if (b.button == Button4 || b.button == Button5) {
                out.kind = WindowEvent::Kind::Wheel;
                out.wheelNotches = b.button == Button4 ? 1 : -1;
            } else if (b.button >= Button1 && b.button <= Button3) {
                out.kind = WindowEvent::Kind::ButtonDown;
                out.button = static_cast<int>(b.button);
                out.clicks = ClicksForPress(out.button, b.x, b.y, b.time);
            } else {
                continue; // horizontal wheel, extra buttons
            }
            break;
        }
        case ButtonRelease: {
            const XButtonEvent& b = event.xbutton;
            if (b.button < Button1 || b.button > Button3)
                continue; // the wheel's releases
            out.kind = WindowEvent::Kind::ButtonUp;
            out.button = static_cast<int>(b.button);
            out.x = b.x;
            out.y = b.y;
            out.modifiers = ModifiersFromState(b.state);
            break;
        }
        case MotionNotify:
            out.kind = WindowEvent::Kind::Motion;
            out.x = event.xmotion.x;
            out.y = event.xmotion.y;
            out.modifiers = ModifiersFromState(event.xmotion.state);
            break;
        case KeyPress: {
            char text[8];
            KeySym keysym = NoSymbol;
            const int length = XLookupString(&event.xkey, text, sizeof text, &keysym, nullptr);
            out.key = TranslateKey(keysym, text, length);
            if (!out.key)
                continue;
            out.kind = WindowEvent::Kind::Key;
            out.modifiers = ModifiersFromState(event.xkey.state);
            break;
        }
        case FocusOut:
            // Grabs by menus and focus moving inside our own window are not a
            // loss of focus.
            if (event.xfocus.mode == NotifyGrab || event.xfocus.mode == NotifyUngrab ||
                event.xfocus.detail == NotifyInferior || event.xfocus.detail == NotifyPointer)
                continue;
            out.kind = WindowEvent::Kind::FocusLost;
            break;
        case ConfigureNotify:
            if (event.xconfigure.window != window)
                continue;
            width = event.xconfigure.width;
            height = event.xconfigure.height;
            out.kind = WindowEvent::Kind::Resized;
            out.width = width;
            out.height = height;
            break;
        case Expose:
            if (event.xexpose.window != window || event.xexpose.count != 0)
                continue;
            out.kind = WindowEvent::Kind::Exposed;
            break;
        case DestroyNotify:
            if (event.xdestroywindow.window != window)
                continue;
            gone = true;
            out.kind = WindowEvent::Kind::Destroyed;
            break;
        default:
            continue;
        }
        sink(out);
    }
    // Text copied since the last call takes the selection now, on this thread.
    if (clipboard)
        clipboard->Service();
}

void EditorWindow::SetFocus()
{
    if (IsGone())
        return;
    // Refused (and trapped) while the window is not viewable.
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XFlush(display);
}

void EditorWindow::SetSize(int newWidth, int newHeight)
{
    if (IsGone() || newWidth < 1 || newHeight < 1)
        return;
    XWindowAttributes parentAttributes{};
    const bool parentKnown = XGetWindowAttributes(display, parent, &parentAttributes) != 0;
    const int dw = newWidth - width;
    const int dh = newHeight - height;
    XResizeWindow(display, window, static_cast<unsigned>(newWidth), static_cast<unsigned>(newHeight));
    width = newWidth;
    height = newHeight;
    if (parentKnown) {
        const int parentWidth = parentAttributes.width + dw;
        const int parentHeight = parentAttributes.height + dh;
        if (parentWidth > 0 && parentHeight > 0)
            XResizeWindow(display, parent, static_cast<unsigned>(parentWidth), static_cast<unsigned>(parentHeight));
    }
    XFlush(display);
}

void EditorWindow::GrabPointer()
{
    if (IsGone())
        return;
    XGrabPointer(display, window, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                 GrabModeAsync, None, None, CurrentTime);
    XFlush(display);
}

void EditorWindow::UngrabPointer()
{
    if (!display)
        return;
    XUngrabPointer(display, CurrentTime);
    XFlush(display);
}

} // namespace QZ
