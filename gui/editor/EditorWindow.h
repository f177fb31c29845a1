// The editor's window: a child of the window the host hands to effEditOpen,
// made on a connection to the X server of its own, with a visual suited to
// double-buffered GL. Its input arrives as WindowEvents when the host's UI
// thread calls ProcessEvents (from effEditIdle).
//
// Every error on the window's connection is swallowed by the X error trap:
// the host may destroy its window (and ours with it) at any time.
//
// Threads: everything here runs on the host's UI thread; the render thread
// uses only Handle() and DisplayName(), copied when its bridge is made.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct _XDisplay;

namespace corvane::platform {
class Clipboard;
class X11Clipboard;
} // namespace corvane::platform

namespace QZ {

struct WindowEvent {
    enum class Kind : uint8_t {
        ButtonDown, // clicks 1 or 2
        ButtonUp,
        Motion,
        Wheel,      // wheelNotches: +1 per notch turned away from the user
        Key,        // key: the key byte
        FocusLost,
        Resized,    // width, height
        Destroyed,  // the window is gone (its parent was destroyed)
        Exposed,    // part of the window must be drawn again
    };
    Kind kind = Kind::Motion;
    int x = 0; // window pixels from the top-left corner, as X gives them
    int y = 0;
    int button = 0;
    int clicks = 0;
    int wheelNotches = 0;
    uint32_t modifiers = 0; // CarbonVSTEditor::ModifierKeys mask
    uint8_t key = 0;
    int width = 0;
    int height = 0;
};

class EditorWindow {
public:
    // Two presses of one button within this time and distance make a double
    // click (the usual desktop defaults).
    static constexpr uint32_t kDoubleClickMs = 500;
    static constexpr int kDoubleClickDistance = 4;

    // Opens a connection to the X server that DISPLAY names, makes a child of
    // `parent` of width x height pixels, maps it and waits until the server
    // has done all that. Null, with the reason in *error, when there is no
    // server, no GLX, or no such parent window.
    static std::unique_ptr<EditorWindow> Create(unsigned long parent, int width, int height, std::string* error);

    // Destroys the window unless it is gone already, closes the connection.
    ~EditorWindow();
    EditorWindow(const EditorWindow&) = delete;
    EditorWindow& operator=(const EditorWindow&) = delete;

    unsigned long Handle() const { return window; }
    // The window's text clipboard (the X CLIPBOARD selection), served from
    // ProcessEvents.
    std::shared_ptr<::corvane::platform::Clipboard> TextClipboard() const;
    unsigned long Parent() const { return parent; }
    // The server's name, for the render thread's own connection.
    const std::string& DisplayName() const { return displayName; }
    _XDisplay* Connection() const { return display; }

    // Reads every event that has arrived and hands each to `sink`.
    void ProcessEvents(const std::function<void(const WindowEvent&)>& sink);

    // True once the server has told us the window was destroyed, or a
    // request on it failed because it no longer exists.
    bool IsGone();
    int Width() const { return width; }
    int Height() const { return height; }

    void SetFocus();
    // Resizes the window, and the parent by the same difference.
    void SetSize(int newWidth, int newHeight);
    void GrabPointer();
    void UngrabPointer();

    // The key byte for an X key symbol and the text XLookupString gave it: the
    // arrow keys give 28 (left), 30 (up), 29 (right), 31 (down); Delete and
    // BackSpace give 8; the keypad's minus and decimal point give '-' and
    // '.'; Return and keypad Enter 13; anything else the single byte of its
    // text, or 0 (nothing to deliver).
    static uint8_t TranslateKey(unsigned long keysym, const char* text, int textLength);
    // The CarbonVSTEditor modifier mask for an X event's state field.
    static uint32_t ModifiersFromState(unsigned int state);

private:
    EditorWindow() = default;
    int ClicksForPress(int button, int x, int y, unsigned long time);

    _XDisplay* display = nullptr;
    std::shared_ptr<::corvane::platform::X11Clipboard> clipboard;
    unsigned long window = 0;
    unsigned long parent = 0;
    unsigned long colormap = 0;
    std::string displayName;
    int width = 0;
    int height = 0;
    bool gone = false;

    // Double-click detection.
    int lastPressButton = 0;
    int lastPressX = 0;
    int lastPressY = 0;
    unsigned long lastPressTime = 0;
    bool lastPressWasDouble = true; // no press yet
};

} // namespace QZ
