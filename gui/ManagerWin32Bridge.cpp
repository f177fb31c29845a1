#include "gui/ManagerWin32Bridge.h"

#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "gui/EditorWindow.h"
#include "gui/XErrorTrap.h"
#include "platform/Debug.h"

using corvane::DebugPrintf;

namespace QZ {

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

bool ManagerWin32Bridge::CreateContext()
{
    if (renderDisplay)
        return windowContext != nullptr;
    renderDisplay = XOpenDisplay(displayName.c_str());
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
    // The context must suit the window's visual, chosen when it was made.
    XVisualInfo wanted{};
    wanted.visualid = XVisualIDFromVisual(attributes.visual);
    wanted.screen = screen;
    int count = 0;
    XVisualInfo* visual = XGetVisualInfo(renderDisplay, VisualIDMask | VisualScreenMask, &wanted, &count);
    if (!visual || count < 1) {
        DebugPrintf("editor: the window's visual is unknown\n");
        if (visual)
            XFree(visual);
        return false;
    }
    windowContext = glXCreateContext(renderDisplay, visual, nullptr, True);
    XFree(visual);
    if (!windowContext) {
        DebugPrintf("editor: cannot create a GL context\n");
        return false;
    }
    if (!glXMakeCurrent(renderDisplay, childWindow, windowContext) || WindowLost()) {
        DebugPrintf("editor: cannot draw into window 0x%lx\n", childWindow);
        glXMakeCurrent(renderDisplay, None, nullptr);
        glXDestroyContext(renderDisplay, windowContext);
        windowContext = nullptr;
        return false;
    }
    return true;
}

bool ManagerWin32Bridge::CreateOffscreenContext(int width, int height)
{
    if (!renderDisplay || !windowContext)
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
    if (!renderDisplay || !windowContext || WindowLost())
        return false;
    return glXMakeCurrent(renderDisplay, childWindow, windowContext) == True;
}

bool ManagerWin32Bridge::MakeOffscreenCurrent()
{
    if (!renderDisplay || !offscreenContext)
        return false;
    if (!glXMakeContextCurrent(renderDisplay, pbuffer, pbuffer, offscreenContext))
        return false;
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
    if (!renderDisplay)
        return;
    glXMakeCurrent(renderDisplay, None, nullptr);
    if (offscreenContext)
        glXDestroyContext(renderDisplay, offscreenContext);
    if (pbuffer)
        glXDestroyPbuffer(renderDisplay, pbuffer);
    if (windowContext)
        glXDestroyContext(renderDisplay, windowContext);
    offscreenContext = nullptr;
    pbuffer = 0;
    windowContext = nullptr;
    // Closing syncs: errors for the requests above still reach the trap.
    XCloseDisplay(renderDisplay);
    x11::ReleaseConnection(renderDisplay);
    renderDisplay = nullptr;
    offscreenPixels.clear();
    offscreenPixels.shrink_to_fit();
}

void ManagerWin32Bridge::SwapBuffers()
{
    if (!renderDisplay || !windowContext || WindowLost())
        return;
    glXSwapBuffers(renderDisplay, childWindow);
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
    if (window)
        window->SetSize(width, height);
}

int ManagerWin32Bridge::GetWindowRect()
{
    return window ? window->Height() : 0;
}

} // namespace QZ
