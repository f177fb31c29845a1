#include "gui/editor/ManagerWin32Bridge.h"

#include <epoxy/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "gui/editor/EditorWindow.h"
#include "gui/editor/XErrorTrap.h"
#include "platform/Debug.h"

using corvane::DebugPrintf;

namespace QZ {

namespace {

// Mesa's software GLX changes process-wide state, and no lock of its own
// keeps two threads apart there:
// - the first time a drawable's pixels are shown (the first frame of a new
//   frame pixmap, the off-screen panel's passes) it puts an X error handler
//   of its own in place around a shared-memory attach and then puts back the
//   one it found. Two render threads doing so at once leave its handler in
//   place for good, and every later X error of the process, the host's
//   among them, is dropped;
// - setting a display up for GL (its first GLX call, the driver's screen,
//   configurations, contexts, drawables) and tearing it down (XCloseDisplay
//   frees the driver's screen) share the driver's state between displays:
//   one editor's teardown beside another's set-up corrupted the heap.
// The render threads of several editors take turns for those steps. A
// teardown goes before every set-up waiting, so that a closing editor waits
// for at most the one step under way, not behind every editor still setting
// up; a thread asked to end stops waiting for a set-up turn.
class DrawableTurns {
public:
    // Waits for the turn; false, without it, once *giveUp (when given) is
    // set and WakeWaiters has run. An urgent take goes before the others.
    bool Take(const std::atomic<bool>* giveUp, bool urgent)
    {
        std::unique_lock<std::mutex> hold(lock);
        if (urgent)
            ++urgentWaiting;
        changed.wait(hold, [&] {
            return (!taken && (urgent || urgentWaiting == 0)) || (giveUp && giveUp->load(std::memory_order_acquire));
        });
        if (urgent)
            --urgentWaiting;
        if (taken || (!urgent && urgentWaiting > 0))
            return false;
        taken = true;
        return true;
    }
    void Give()
    {
        {
            std::lock_guard<std::mutex> hold(lock);
            taken = false;
        }
        changed.notify_all();
    }
    void WakeWaiters()
    {
        {
            std::lock_guard<std::mutex> hold(lock);
        }
        changed.notify_all();
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    bool taken = false;
    int urgentWaiting = 0;
};

DrawableTurns& Turns()
{
    static DrawableTurns turns;
    return turns;
}

} // namespace

ManagerWin32Bridge::ManagerWin32Bridge(unsigned long childWindow, unsigned long parentWindow, std::string displayName,
                                       EditorWindow* window)
    : childWindow(childWindow), parentWindow(parentWindow), displayName(std::move(displayName)), window(window)
{
}

bool ManagerWin32Bridge::WindowLost() const
{
    return renderDisplay && x11::Tally(renderDisplay).lostDrawables > 0;
}

// render thread

// The turn for one step when `needed`, given back at its end unless the
// off-screen panel's pass, begun in that step, still holds it.
struct ManagerWin32Bridge::TurnFor {
    TurnFor(ManagerWin32Bridge& bridge, bool needed, bool mayGiveUp, bool urgent = false)
        : bridge(bridge), took(needed && !bridge.turnHeld), ok(!needed || bridge.TakeTurn(mayGiveUp, urgent))
    {
        took = took && ok;
    }
    ~TurnFor()
    {
        if (took && !bridge.offscreenTurn)
            bridge.GiveTurn();
    }
    ManagerWin32Bridge& bridge;
    bool took;
    bool ok;
};

bool ManagerWin32Bridge::TakeTurn(bool mayGiveUp, bool urgent)
{
    if (turnHeld)
        return true;
    if (!Turns().Take(mayGiveUp ? &stopWaiting : nullptr, urgent))
        return false;
    turnHeld = true;
    return true;
}

void ManagerWin32Bridge::GiveTurn()
{
    if (!turnHeld)
        return;
    turnHeld = false;
    Turns().Give();
}

void ManagerWin32Bridge::StopWaiting()
{
    stopWaiting.store(true, std::memory_order_release);
    Turns().WakeWaiters();
}

bool ManagerWin32Bridge::CreateContext()
{
    const TurnFor turn(*this, true, true);
    if (!turn.ok)
        return false;
    if (renderDisplay)
        return windowContext != nullptr;
    renderDisplay = x11::OpenConnection(displayName.c_str());
    if (!renderDisplay) {
        DebugPrintf("editor: cannot open X display %s for drawing\n", displayName.c_str());
        return false;
    }
    x11::AdoptConnection(renderDisplay);
    int glxErrorBase = 0, glxEventBase = 0;
    if (!glXQueryExtension(renderDisplay, &glxErrorBase, &glxEventBase)) {
        DebugPrintf("editor: the X server offers no GLX\n");
        return false;
    }
    x11::SetGLXErrorBase(renderDisplay, glxErrorBase);

    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(renderDisplay, childWindow, &attributes)) {
        DebugPrintf("editor: window 0x%lx is gone\n", childWindow);
        return false;
    }
    screen = XScreenNumberOfScreen(attributes.screen);
    depth = attributes.depth;

    // Frames are copied into the window: the configuration's visual must
    // have the window's depth, and preferably be the window's visual.
    const int configAttributes[] = {GLX_DRAWABLE_TYPE, GLX_PIXMAP_BIT, GLX_RENDER_TYPE,  GLX_RGBA_BIT,
                                    GLX_X_RENDERABLE,  True,           GLX_DOUBLEBUFFER, False,
                                    GLX_RED_SIZE,      8,              GLX_GREEN_SIZE,   8,
                                    GLX_BLUE_SIZE,     8,              GLX_DEPTH_SIZE,   16,
                                    None};
    int count = 0;
    GLXFBConfig* configs = glXChooseFBConfig(renderDisplay, screen, configAttributes, &count);
    const VisualID windowVisual = XVisualIDFromVisual(attributes.visual);
    frameConfig = nullptr;
    for (int i = 0; configs && i < count; ++i) {
        XVisualInfo* visual = glXGetVisualFromFBConfig(renderDisplay, configs[i]);
        const bool sameDepth = visual && visual->depth == depth;
        const bool sameVisual = visual && visual->visualid == windowVisual;
        if (visual)
            XFree(visual);
        if (sameVisual || (sameDepth && !frameConfig))
            frameConfig = configs[i];
        if (sameVisual)
            break;
    }
    if (configs)
        XFree(configs);
    if (!frameConfig) {
        DebugPrintf("editor: no GL configuration for a window of depth %d\n", depth);
        return false;
    }
    windowContext = glXCreateNewContext(renderDisplay, frameConfig, GLX_RGBA_TYPE, nullptr, True);
    if (!windowContext) {
        DebugPrintf("editor: cannot create a GL context\n");
        return false;
    }
    const int width = wantedWidth.load(std::memory_order_relaxed);
    const int height = wantedHeight.load(std::memory_order_relaxed);
    if (!CreateFramePixmap(width > 0 ? width : attributes.width, height > 0 ? height : attributes.height) ||
        !glXMakeContextCurrent(renderDisplay, frameDrawable, frameDrawable, windowContext)) {
        DebugPrintf("editor: cannot draw for window 0x%lx\n", childWindow);
        glXMakeContextCurrent(renderDisplay, None, None, nullptr);
        glXDestroyContext(renderDisplay, windowContext);
        windowContext = nullptr;
        DestroyFramePixmap();
        return false;
    }
    return true;
}

bool ManagerWin32Bridge::CreateFramePixmap(int width, int height)
{
    if (width < 1 || height < 1)
        return false;
    const uint32_t errorsBefore = x11::Tally(renderDisplay).count;
    const Window root = RootWindow(renderDisplay, screen);
    framePixmap = XCreatePixmap(renderDisplay, root, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                static_cast<unsigned>(depth));
    frameDrawable = glXCreatePixmap(renderDisplay, frameConfig, framePixmap, nullptr);
    if (!copyGC)
        copyGC = XCreateGC(renderDisplay, framePixmap, 0, nullptr);
    XSync(renderDisplay, False);
    if (!frameDrawable || x11::Tally(renderDisplay).count != errorsBefore) {
        DestroyFramePixmap();
        return false;
    }
    frameWidth = width;
    frameHeight = height;
    frameShown = false;
    return true;
}

void ManagerWin32Bridge::DestroyFramePixmap()
{
    if (frameDrawable)
        glXDestroyPixmap(renderDisplay, frameDrawable);
    if (framePixmap)
        XFreePixmap(renderDisplay, framePixmap);
    frameDrawable = 0;
    framePixmap = 0;
    frameWidth = 0;
    frameHeight = 0;
}

void ManagerWin32Bridge::HandleSizeChange()
{
    if (!renderDisplay || !windowContext)
        return;
    const int width = wantedWidth.load(std::memory_order_relaxed);
    const int height = wantedHeight.load(std::memory_order_relaxed);
    if (width < 1 || height < 1 || (width == frameWidth && height == frameHeight))
        return;
    const TurnFor turn(*this, true, true);
    if (!turn.ok)
        return;
    const bool wasCurrent = glXGetCurrentContext() == windowContext;
    glXMakeContextCurrent(renderDisplay, None, None, nullptr);
    DestroyFramePixmap();
    if (!CreateFramePixmap(width, height))
        DebugPrintf("editor: cannot resize the frame to %d x %d\n", width, height);
    else if (wasCurrent)
        MakeCurrent();
}

bool ManagerWin32Bridge::CreateOffscreenContext(int width, int height)
{
    const TurnFor turn(*this, true, true);
    if (!turn.ok || !renderDisplay || !windowContext)
        return false;
    const int configAttributes[] = {GLX_DRAWABLE_TYPE, GLX_PBUFFER_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT,
                                    GLX_RED_SIZE,      8,               GLX_GREEN_SIZE,  8,
                                    GLX_BLUE_SIZE,     8,               None};
    int count = 0;
    GLXFBConfig* configs = glXChooseFBConfig(renderDisplay, screen, configAttributes, &count);
    if (!configs || count < 1) {
        DebugPrintf("editor: no pbuffer configuration\n");
        if (configs)
            XFree(configs);
        return false;
    }
    const GLXFBConfig config = configs[0];
    XFree(configs);
    const int pbufferAttributes[] = {GLX_PBUFFER_WIDTH, kOffscreenWidth, GLX_PBUFFER_HEIGHT, kOffscreenHeight,
                                     GLX_PRESERVED_CONTENTS, True, None};
    pbuffer = glXCreatePbuffer(renderDisplay, config, pbufferAttributes);
    // Sharing lets label drawing use the window context's textures (glyphs);
    // a driver that refuses still gives a usable unshared context.
    offscreenContext = glXCreateNewContext(renderDisplay, config, GLX_RGBA_TYPE, windowContext, True);
    if (!offscreenContext)
        offscreenContext = glXCreateNewContext(renderDisplay, config, GLX_RGBA_TYPE, nullptr, True);
    XSync(renderDisplay, False);
    if (!pbuffer || !offscreenContext) {
        DebugPrintf("editor: cannot create the off-screen context\n");
        if (offscreenContext)
            glXDestroyContext(renderDisplay, offscreenContext);
        if (pbuffer)
            glXDestroyPbuffer(renderDisplay, pbuffer);
        offscreenContext = nullptr;
        pbuffer = 0;
        return false;
    }
    offscreenPixels.assign(static_cast<size_t>(kOffscreenWidth) * kOffscreenHeight * 3, 0);
    offscreenWidth.store(width, std::memory_order_relaxed);
    offscreenHeight.store(height, std::memory_order_relaxed);
    return MakeOffscreenCurrent();
}

bool ManagerWin32Bridge::MakeCurrent()
{
    bool made = false;
    if (renderDisplay && windowContext && frameDrawable && !WindowLost())
        made = glXMakeContextCurrent(renderDisplay, frameDrawable, frameDrawable, windowContext) == True;
    // The off-screen pass, which showed the pbuffer, ends here.
    if (offscreenTurn) {
        offscreenTurn = false;
        GiveTurn();
    }
    return made;
}

bool ManagerWin32Bridge::MakeOffscreenCurrent()
{
    if (!renderDisplay || !offscreenContext)
        return false;
    // From here to MakeCurrent: the pbuffer's pixels are shown to Mesa's
    // shared memory, and switching contexts shows the other drawable's.
    if (!TakeTurn(true))
        return false;
    offscreenTurn = true;
    if (!glXMakeContextCurrent(renderDisplay, pbuffer, pbuffer, offscreenContext)) {
        offscreenTurn = false;
        GiveTurn();
        return false;
    }
    glViewport(0, 0, offscreenWidth.load(std::memory_order_relaxed), offscreenHeight.load(std::memory_order_relaxed));
    return true;
}

const uint8_t* ManagerWin32Bridge::ReadOffscreenPixels()
{
    if (!offscreenContext || glXGetCurrentContext() != offscreenContext)
        return nullptr;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kOffscreenWidth, kOffscreenHeight, GL_BGR, GL_UNSIGNED_BYTE, offscreenPixels.data());
    return offscreenPixels.data();
}

void ManagerWin32Bridge::DestroyContexts()
{
    if (!renderDisplay) {
        offscreenTurn = false;
        GiveTurn();
        return;
    }
    const TurnFor turn(*this, true, false, true);
    glXMakeContextCurrent(renderDisplay, None, None, nullptr);
    if (offscreenContext)
        glXDestroyContext(renderDisplay, offscreenContext);
    if (pbuffer)
        glXDestroyPbuffer(renderDisplay, pbuffer);
    if (windowContext)
        glXDestroyContext(renderDisplay, windowContext);
    DestroyFramePixmap();
    if (copyGC)
        XFreeGC(renderDisplay, copyGC);
    offscreenContext = nullptr;
    pbuffer = 0;
    windowContext = nullptr;
    copyGC = nullptr;
    frameConfig = nullptr;
    // Closing syncs: errors for the requests above still reach the trap.
    XCloseDisplay(renderDisplay);
    x11::ReleaseConnection(renderDisplay);
    renderDisplay = nullptr;
    offscreenPixels.clear();
    offscreenPixels.shrink_to_fit();
    offscreenTurn = false;
    GiveTurn();
}

void ManagerWin32Bridge::SwapBuffers()
{
    if (!renderDisplay || !windowContext || !frameDrawable || WindowLost())
        return;
    const TurnFor turn(*this, !frameShown, true);
    if (!turn.ok)
        return;
    // The frame must be complete in the pixmap before the server copies it.
    glFinish();
    glXWaitGL();
    frameShown = true;
    XCopyArea(renderDisplay, framePixmap, childWindow, copyGC, 0, 0, static_cast<unsigned>(frameWidth),
              static_cast<unsigned>(frameHeight), 0, 0);
    // One round trip per frame: a window that is gone shows up at once.
    XSync(renderDisplay, False);
}

void ManagerWin32Bridge::SwapBufferArea(int x, int y, int width, int height)
{
    if (!renderDisplay || !windowContext || !frameDrawable || WindowLost())
        return;
    // GL counts rows up from the bottom, X down from the top.
    const int left = std::max(0, x), top = std::max(0, frameHeight - (y + height));
    const int right = std::min(frameWidth, x + width), bottom = std::min(frameHeight, frameHeight - y);
    if (right <= left || bottom <= top)
        return;
    const TurnFor turn(*this, !frameShown, true);
    if (!turn.ok)
        return;
    glFinish();
    glXWaitGL();
    frameShown = true;
    XCopyArea(renderDisplay, framePixmap, childWindow, copyGC, left, top, static_cast<unsigned>(right - left),
              static_cast<unsigned>(bottom - top), left, top);
    XSync(renderDisplay, False);
}

bool ManagerWin32Bridge::WindowViewable()
{
    if (!renderDisplay || WindowLost())
        return false;
    // IsViewable: mapped, and so is every ancestor up to the root (a parent
    // unmapped above us reads as IsUnviewable). A window that is gone fails
    // the request; the trap on this connection notes it.
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(renderDisplay, childWindow, &attributes))
        return false;
    return attributes.map_state == IsViewable;
}

// UI thread

void ManagerWin32Bridge::SetFocus()
{
    if (window)
        window->SetFocus();
}

void ManagerWin32Bridge::SetWindowSize(int width, int height)
{
    if (width < 1 || height < 1)
        return;
    offscreenWidth.store(width, std::memory_order_relaxed);
    offscreenHeight.store(height, std::memory_order_relaxed);
    wantedWidth.store(width, std::memory_order_relaxed);
    wantedHeight.store(height, std::memory_order_relaxed);
    if (window)
        window->SetSize(width, height);
}

int ManagerWin32Bridge::GetWindowRect()
{
    return window ? window->Height() : 0;
}

} // namespace QZ
