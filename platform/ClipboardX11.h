// The clipboard of an editor window on X11: the CLIPBOARD selection, owned
// through the editor window's own connection. Other programs ask the owner
// for the text, so the owner must answer their requests from its event loop:
// the editor hands every event of its connection to HandleEvent, and calls
// Service once per idle call to take the selection when a new text waits.
// The text is offered as UTF8_STRING, STRING and TEXT.
//
// Threads: SetText from any thread (it only keeps the text); Service,
// HandleEvent and the destructor on the thread that owns the connection
// (the host's UI thread).
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/Clipboard.h"

struct _XDisplay;
union _XEvent;

namespace corvane::platform {

class X11Clipboard final : public Clipboard {
public:
    // `window` is a window of `display` that lives as long as this object.
    X11Clipboard(_XDisplay* display, unsigned long window);
    X11Clipboard(const X11Clipboard&) = delete;
    X11Clipboard& operator=(const X11Clipboard&) = delete;

    bool SetText(const std::string& text) override;

    // Takes the CLIPBOARD selection when a text set since the last call
    // waits. True when this window owns the selection afterwards.
    bool Service();
    // Answers a request for the selection, or notes that another program
    // took it. True when the event was about the clipboard.
    bool HandleEvent(_XEvent& event);
    bool OwnsSelection() const { return owned; }

private:
    _XDisplay* const display;
    const unsigned long window;
    unsigned long clipboardAtom, targetsAtom, utf8Atom, textAtom;

    std::mutex lock;   // guards `text` and `pending`
    std::string text;  // what the selection offers
    bool pending = false;
    bool owned = false; // owner's thread only
};

} // namespace corvane::platform
