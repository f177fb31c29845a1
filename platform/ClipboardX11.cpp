#include "platform/ClipboardX11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace corvane::platform {

X11Clipboard::X11Clipboard(Display* connection, unsigned long ownerWindow)
    : display(connection), window(ownerWindow)
{
    clipboardAtom = XInternAtom(display, "CLIPBOARD", False);
    targetsAtom = XInternAtom(display, "TARGETS", False);
    utf8Atom = XInternAtom(display, "UTF8_STRING", False);
    textAtom = XInternAtom(display, "TEXT", False);
}

bool X11Clipboard::SetText(const std::string& value)
{
    std::lock_guard<std::mutex> guard(lock);
    text = value;
    pending = true;
    return true;
}

bool X11Clipboard::Service()
{
    bool take;
    {
        std::lock_guard<std::mutex> guard(lock);
        take = pending;
        pending = false;
    }
    if (take) {
        XSetSelectionOwner(display, clipboardAtom, window, CurrentTime);
        owned = XGetSelectionOwner(display, clipboardAtom) == window;
        XFlush(display);
    }
    return owned;
}

bool X11Clipboard::HandleEvent(XEvent& event)
{
    if (event.type == SelectionClear && event.xselectionclear.selection == clipboardAtom &&
        event.xselectionclear.window == window) {
        owned = false;
        return true;
    }
    if (event.type != SelectionRequest || event.xselectionrequest.selection != clipboardAtom ||
        event.xselectionrequest.owner != window)
        return false;

    const XSelectionRequestEvent& request = event.xselectionrequest;
    // Clients from before ICCCM 2 name no property: the target is used.
    const Atom property = request.property != None ? request.property : request.target;
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = request.display;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.time = request.time;
    reply.property = None; // refused unless answered below

    if (owned && request.target == targetsAtom) {
        const Atom targets[] = {static_cast<Atom>(targetsAtom), static_cast<Atom>(utf8Atom), XA_STRING,
                                static_cast<Atom>(textAtom)};
        XChangeProperty(display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(targets), 4);
        reply.property = property;
    } else if (owned && (request.target == utf8Atom || request.target == XA_STRING || request.target == textAtom)) {
        std::string copy;
        {
            std::lock_guard<std::mutex> guard(lock);
            copy = text;
        }
        const Atom type = request.target == XA_STRING ? XA_STRING : static_cast<Atom>(utf8Atom);
        XChangeProperty(display, request.requestor, property, type, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(copy.data()), static_cast<int>(copy.size()));
        reply.property = property;
    }
    XEvent notify{};
    notify.xselection = reply;
    XSendEvent(display, request.requestor, False, NoEventMask, &notify);
    XFlush(display);
    return true;
}

} // namespace corvane::platform
