// Everything of the window system that a manager needs: GL contexts, buffer
// swaps, keyboard focus and the window's size. The manager owns its bridge.
//
// Threads: the context operations (CreateContext .. SwapBuffers,
// ReadOffscreenPixels, HandleSizeChange) run on the manager's render thread;
// SetFocus, SetWindowSize and GetWindowRect on the host's UI thread.
#pragma once

#include <cstdint>

namespace QZ {

class ManagerPlatformBridge {
public:
    // The off-screen panel is always this size, the size of the manager's
    // panel texture.
    static constexpr int kOffscreenWidth = 1024;
    static constexpr int kOffscreenHeight = 512;

    virtual ~ManagerPlatformBridge() = default;

    virtual void HandleSizeChange() {}
    // Creates the window's GL context and makes it current. False when there
    // is none; the manager then makes no GL call at all.
    virtual bool CreateContext() = 0;
    // Last step of the manager's GL set-up, with the window context current.
    virtual bool FinishContextSetUp() { return true; }
    // Creates the off-screen context (kOffscreenWidth x kOffscreenHeight
    // pixels) that panel labels are drawn into when framebuffer objects are
    // missing, makes it current and sets the viewport to width x height.
    virtual bool CreateOffscreenContext(int width, int height) = 0;
    // Makes the window context current. False when it cannot be (no context,
    // or the window is gone): the caller then skips its GL work.
    virtual bool MakeCurrent() = 0;
    // Makes the off-screen context current with its viewport. False when
    // there is none.
    virtual bool MakeOffscreenCurrent() = 0;
    // With the off-screen context current: finishes its drawing and returns
    // its pixels, kOffscreenWidth x kOffscreenHeight, 3 bytes per pixel in
    // blue, green, red order, bottom row first. Null when there are none.
    virtual const uint8_t* ReadOffscreenPixels() = 0;
    // Releases every context and connection the bridge holds.
    virtual void DestroyContexts() = 0;
    virtual void SwapBuffers() = 0;
    // Shows only the area (x, y up from the bottom left, width, height) of
    // the frame; the rest of the window keeps what it shows.
    virtual void SwapBufferArea(int /*x*/, int /*y*/, int /*width*/, int /*height*/) { SwapBuffers(); }
    // Whether the window can be seen at all: it and every window above it
    // are mapped. A host that "closes" an editor by hiding it (or one of its
    // own windows above it) sends no effEditClose; the render thread draws
    // nothing while this is false. One round trip to the window system.
    virtual bool WindowViewable() { return true; }
    // Any thread: the render thread is asked to end; a wait of its for the
    // window system ends now, and the step it waited for is left out.
    virtual void StopWaiting() {}

    // UI thread.
    virtual void SetFocus() = 0;
    virtual void SetWindowSize(int width, int height) = 0;
    // The window's height in pixels.
    virtual int GetWindowRect() = 0;
};

} // namespace QZ
