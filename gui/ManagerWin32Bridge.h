// The manager's platform bridge: GLX contexts on the editor's child window,
// drawn from the render thread over an X connection of its own, and an
// off-screen GLX pbuffer with its own context for the panel labels when the
// driver has no framebuffer objects. The window-side operations (focus,
// size) go through the editor's window on the host's UI thread.
//
// Errors on the render connection are swallowed by the X error trap; once
// one says the window is gone, MakeCurrent answers false and nothing more
// is drawn.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "gui/ManagerPlatformBridge.h"

struct _XDisplay;
struct __GLXcontextRec;

namespace QZ {

class EditorWindow;

class ManagerWin32Bridge : public ManagerPlatformBridge {
public:
    // childWindow, parentWindow: X window ids. displayName: the X server the
    // render thread connects to. window: the UI-thread side of the child
    // window (not owned; it outlives the bridge), or null (then SetFocus
    // and SetWindowSize do nothing).
    ManagerWin32Bridge(unsigned long childWindow, unsigned long parentWindow, std::string displayName,
                       EditorWindow* window);
    // Plain: DestroyContexts releases what the render thread made.
    ~ManagerWin32Bridge() override = default;

    // render thread
    bool CreateContext() override;
    bool CreateOffscreenContext(int width, int height) override;
    bool MakeCurrent() override;
    bool MakeOffscreenCurrent() override;
    const uint8_t* ReadOffscreenPixels() override;
    void DestroyContexts() override;
    void SwapBuffers() override;
    // True once an X error said the window no longer exists.
    bool WindowLost() const;

    // UI thread
    void SetFocus() override;
    void SetWindowSize(int width, int height) override;
    int GetWindowRect() override;

private:
    std::vector<uint8_t> offscreenPixels;
    std::atomic<int> offscreenWidth{0};
    std::atomic<int> offscreenHeight{0};
    unsigned long childWindow;
    unsigned long parentWindow;
    std::string displayName;
    EditorWindow* window;
    _XDisplay* renderDisplay = nullptr;
    int screen = 0;
    __GLXcontextRec* windowContext = nullptr;
    unsigned long pbuffer = 0;
    __GLXcontextRec* offscreenContext = nullptr;
};

} // namespace QZ
