// The X error trap: errors that arrive on our own X connections are
// recorded and swallowed, so that a window the host destroyed under us (or
// any other failed request of ours) cannot end the host. Errors on the
// host's connections go on to whatever handler was installed before ours.
//
// Xlib has one error handler per process. Ours is installed when the first
// connection is adopted and taken out again when the last one is released,
// unless someone installed another handler over it in the meantime (that
// one may chain to ours, so it is left alone).
//
// AdoptConnection and ReleaseConnection: any thread that owns the
// connection, never the audio thread. The counters may be read from any
// thread; the handler itself runs on whichever thread reads the error.
#pragma once

#include <cstdint>

struct _XDisplay;

namespace QZ::x11 {

// What the trap has seen on one connection.
struct ErrorTally {
    uint32_t count = 0;         // errors seen since the connection was adopted
    uint32_t lostDrawables = 0; // BadWindow, BadDrawable and GLX bad-drawable errors among them
    uint8_t lastErrorCode = 0;
    uint8_t lastRequestCode = 0;
    unsigned long lastResource = 0;
};

// Opens a connection to the X server `name` names (null: DISPLAY). A server
// busy accepting other clients refuses now and then; the attempt is
// repeated a few times, for at most about 170 ms, before giving up (null).
_XDisplay* OpenConnection(const char* name);

// Starts trapping the errors of `display`. glxErrorBase, when known (from
// glXQueryExtension), lets GLX's bad-drawable errors count as lost
// drawables too. False when too many connections are adopted at once (the
// connection's errors then go to the previous handler).
bool AdoptConnection(_XDisplay* display, int glxErrorBase = -1);
// Tells the trap the GLX error base of an adopted connection.
void SetGLXErrorBase(_XDisplay* display, int glxErrorBase);
// Stops trapping; call after XCloseDisplay, so that the errors the closing
// sync reads are still swallowed.
void ReleaseConnection(_XDisplay* display);

// The tally of an adopted connection (zeros for any other).
ErrorTally Tally(_XDisplay* display);

// Whether our handler is the one Xlib calls now (for tests).
bool HandlerInstalled();

} // namespace QZ::x11
