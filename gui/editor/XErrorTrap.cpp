#include "gui/editor/XErrorTrap.h"

#include <X11/Xlib.h>
#include <X11/Xproto.h>

#include <array>
#include <chrono>
#include <thread>
#include <atomic>
#include <mutex>

#include "platform/Debug.h"

// Xlib's process-wide handler slot. Reading it is the only way to learn the
// handler without swapping it; a swap races with libraries that install a
// handler for a moment on another thread (Mesa's software GLX does, around
// its shared-memory attach), and a racing restore would be undone.
extern "C" int (*_XErrorFunction)(Display*, XErrorEvent*);

namespace QZ::x11 {

namespace {

// GLX errors, counted from the extension's error base.
constexpr int kGLXBadDrawable = 2;
constexpr int kGLXBadCurrentWindow = 5;
constexpr int kGLXBadCurrentDrawable = 11;
constexpr int kGLXBadWindow = 12;

// Two connections per open editor (window and render thread); far more
// editors than any session opens at once.
constexpr size_t kSlots = 64;

struct Slot {
    std::atomic<Display*> display{nullptr};
    std::atomic<int> glxErrorBase{-1};
    std::atomic<uint32_t> count{0};
    std::atomic<uint32_t> lostDrawables{0};
    std::atomic<uint8_t> lastErrorCode{0};
    std::atomic<uint8_t> lastRequestCode{0};
    std::atomic<unsigned long> lastResource{0};
};

std::array<Slot, kSlots> gSlots;
// The handler ours displaced last, and the one it displaced the first time
// (the host's). A handler installed over ours that chains back to us, and
// over which ours was installed again, would otherwise make a loop in which
// the host's errors end unseen.
std::atomic<XErrorHandler> gPreviousHandler{nullptr};
std::atomic<XErrorHandler> gFirstHandler{nullptr};
std::mutex gInstallLock; // adoption count and handler swaps
int gAdopted = 0;

Slot* FindSlot(Display* display)
{
    if (!display)
        return nullptr;
    for (Slot& slot : gSlots)
        if (slot.display.load(std::memory_order_acquire) == display)
            return &slot;
    return nullptr;
}

bool IsLostDrawable(const XErrorEvent& error, int glxBase)
{
    if (error.error_code == BadWindow || error.error_code == BadDrawable)
        return true;
    if (glxBase < 0)
        return false;
    const int code = error.error_code - glxBase;
    return code == kGLXBadDrawable || code == kGLXBadCurrentWindow || code == kGLXBadCurrentDrawable ||
           code == kGLXBadWindow;
}

// Runs with the display's lock held: no Xlib calls here, no allocation.
int TrapHandler(Display* display, XErrorEvent* error)
{
    if (Slot* slot = FindSlot(display)) {
        slot->count.fetch_add(1, std::memory_order_relaxed);
        if (IsLostDrawable(*error, slot->glxErrorBase.load(std::memory_order_relaxed)))
            slot->lostDrawables.fetch_add(1, std::memory_order_relaxed);
        slot->lastErrorCode.store(error->error_code, std::memory_order_relaxed);
        slot->lastRequestCode.store(error->request_code, std::memory_order_relaxed);
        slot->lastResource.store(error->resourceid, std::memory_order_relaxed);
        return 0;
    }
    // Not ours: on to the handler ours displaced. When that one chains back
    // to us (a second visit on this thread for the same error), on to the
    // host's own; a third visit ends the round.
    thread_local int visits = 0;
    const XErrorHandler previous = gPreviousHandler.load(std::memory_order_acquire);
    const XErrorHandler first = gFirstHandler.load(std::memory_order_acquire);
    XErrorHandler next = nullptr;
    if (visits == 0)
        next = previous;
    else if (visits == 1 && first != previous)
        next = first;
    if (!next)
        return 0;
    ++visits;
    const int result = next(display, error);
    --visits;
    return result;
}

} // namespace

_XDisplay* OpenConnection(const char* name)
{
    constexpr int kAttempts = 6;
    for (int attempt = 1;; ++attempt) {
        if (Display* display = XOpenDisplay(name))
            return display;
        if (attempt == kAttempts)
            return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(3 * attempt * attempt));
    }
}

bool AdoptConnection(_XDisplay* display, int glxErrorBase)
{
    if (!display)
        return false;
    std::lock_guard<std::mutex> guard(gInstallLock);
    Slot* free = nullptr;
    for (Slot& slot : gSlots)
        if (!slot.display.load(std::memory_order_relaxed)) {
            free = &slot;
            break;
        }
    if (!free) {
        CORVANE_LOG_ONCE("X error trap: too many connections\n");
        return false;
    }
    free->glxErrorBase.store(glxErrorBase, std::memory_order_relaxed);
    free->count.store(0, std::memory_order_relaxed);
    free->lostDrawables.store(0, std::memory_order_relaxed);
    free->lastErrorCode.store(0, std::memory_order_relaxed);
    free->lastRequestCode.store(0, std::memory_order_relaxed);
    free->lastResource.store(0, std::memory_order_relaxed);
    free->display.store(display, std::memory_order_release);
    if (gAdopted++ == 0) {
        XErrorHandler previous = XSetErrorHandler(TrapHandler);
        // Our own handler left in place by an earlier round: keep the one it
        // chains to.
        if (previous != TrapHandler) {
            gPreviousHandler.store(previous, std::memory_order_release);
            if (!gFirstHandler.load(std::memory_order_relaxed))
                gFirstHandler.store(previous, std::memory_order_release);
        }
    }
    return true;
}

void SetGLXErrorBase(_XDisplay* display, int glxErrorBase)
{
    if (Slot* slot = FindSlot(display))
        slot->glxErrorBase.store(glxErrorBase, std::memory_order_relaxed);
}

void ReleaseConnection(_XDisplay* display)
{
    if (!display)
        return;
    std::lock_guard<std::mutex> guard(gInstallLock);
    Slot* slot = FindSlot(display);
    if (!slot)
        return;
    slot->display.store(nullptr, std::memory_order_release);
    if (--gAdopted == 0) {
        // Someone installed a handler over ours: it may pass errors on to
        // ours, which stays callable and passes them further on. Looked at
        // rather than swapped out and back: a library that puts its own
        // handler in place for a moment on another thread would otherwise
        // restore over ours, and ours would put the library's back for good.
        if (_XErrorFunction == TrapHandler)
            XSetErrorHandler(gPreviousHandler.load(std::memory_order_acquire));
    }
}

ErrorTally Tally(_XDisplay* display)
{
    ErrorTally tally;
    if (Slot* slot = FindSlot(display)) {
        tally.count = slot->count.load(std::memory_order_relaxed);
        tally.lostDrawables = slot->lostDrawables.load(std::memory_order_relaxed);
        tally.lastErrorCode = slot->lastErrorCode.load(std::memory_order_relaxed);
        tally.lastRequestCode = slot->lastRequestCode.load(std::memory_order_relaxed);
        tally.lastResource = slot->lastResource.load(std::memory_order_relaxed);
    }
    return tally;
}

bool HandlerInstalled()
{
    return _XErrorFunction == TrapHandler;
}

} // namespace QZ::x11
