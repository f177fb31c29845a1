// The manager's platform bridge. The render thread draws over an X
// connection of its own with GLX: frames into a GLX pixmap the size of the
// editor's child window, which SwapBuffers copies into the window; panel
// labels into an off-screen GLX pbuffer with its own context when the
// driver has no framebuffer objects. The window-side operations (focus,
// size) go through the editor's window on the host's UI thread.
//
// GL never draws into the window itself: the host may destroy its window
// (and ours with it) at any moment, and a GL driver that finds its window
// gone in the middle of a frame can corrupt memory (Mesa's software
// rasteriser does), while a copy into a window that is gone is only a
// failed request. Errors on the render connection are swallowed by the X
// error trap; once one says the window is gone, MakeCurrent answers false
// and nothing more is drawn.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "gui/editor/ManagerPlatformBridge.h"

struct _XDisplay;
struct _XGC;
struct __GLXcontextRec;
struct __GLXFBConfigRec;

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
    // Makes the frame pixmap match the window's size again.
    void HandleSizeChange() override;
    bool CreateContext() override;
    bool CreateOffscreenContext(int width, int height) override;
    bool MakeCurrent() override;
    bool MakeOffscreenCurrent() override;
    const uint8_t* ReadOffscreenPixels() override;
    void DestroyContexts() override;
    void SwapBuffers() override;
    void SwapBufferArea(int x, int y, int width, int height) override;
    bool WindowViewable() override;
    // True once an X error said the window no longer exists.
    bool WindowLost() const;

    // Any thread.
    void StopWaiting() override;

    // UI thread
    void SetFocus() override;
    void SetWindowSize(int width, int height) override;
    int GetWindowRect() override;

    unsigned long ChildWindow() const { return childWindow; }
    unsigned long ParentWindow() const { return parentWindow; }

private:
    // render thread: (re)makes the frame pixmap; false when it cannot.
    bool CreateFramePixmap(int width, int height);
    void DestroyFramePixmap();
    // render thread: the render threads' process-wide turn for the steps in
    // which the GL driver changes process-wide state (see the .cpp). Take
    // waits for it, and gives up (false) once StopWaiting ran when allowed.
    bool TakeTurn(bool mayGiveUp, bool urgent = false);
    void GiveTurn();
    struct TurnFor;

    std::vector<uint8_t> offscreenPixels;
    std::atomic<int> offscreenWidth{0};
    std::atomic<int> offscreenHeight{0};
    // The window size the UI thread last set (0: as the window was made).
    std::atomic<int> wantedWidth{0};
    std::atomic<int> wantedHeight{0};
    unsigned long childWindow;
    unsigned long parentWindow;
    std::string displayName;
    EditorWindow* window;

    // render thread
    _XDisplay* renderDisplay = nullptr;
    int screen = 0;
    int depth = 0;
    __GLXFBConfigRec* frameConfig = nullptr;
    __GLXcontextRec* windowContext = nullptr;
    unsigned long framePixmap = 0;
    unsigned long frameDrawable = 0; // the GLX pixmap over framePixmap
    _XGC* copyGC = nullptr;
    int frameWidth = 0;
    int frameHeight = 0;
    unsigned long pbuffer = 0;
    __GLXcontextRec* offscreenContext = nullptr;
    bool frameShown = false;   // the frame pixmap's pixels have been shown once
    bool turnHeld = false;     // this thread holds the turn
    bool offscreenTurn = false; // held for the off-screen panel's pass
    std::atomic<bool> stopWaiting{false};
};

} // namespace QZ
