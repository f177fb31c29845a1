// The VST editor of every plug-in: a child window inside the window the host
// hands to effEditOpen, drawn in GL by the render thread of the editor's
// QZ::Manager. The editor turns the window's input (read when the host calls
// effEditIdle) and the host's key events into the manager's input calls.
//
// Threads: every operation runs on the host's UI thread. The window
// connection is made in open and closed in close: a host that never opens
// the editor (a scan, a headless session) never makes an X connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/AEffEditor.h"
#include "gui/toolkit/Geometry.h"

class ObryEditor : public AEffEditor {
public:
    using AEffEditor::AEffEditor;
};

namespace QZ {

class DialogSession;
class EditorWindow;
class Manager;
struct WindowEvent;

class CarbonVSTEditor : public ObryEditor {
public:
    // Modifier bits of the manager's mouse operations.
    static constexpr uint32_t kModifierAlt = 0x100;
    static constexpr uint32_t kModifierShift = 0x200;
    static constexpr uint32_t kModifierControl = 0x800;

    explicit CarbonVSTEditor(AudioEffect* effect);
    ~CarbonVSTEditor() override; // closes the editor when still open

    // Top and left 0; the manager's window size while open, else the size
    // stored with SetRectSize.
    bool getRect(ERect** rect) override;
    // parentWindow: the host's X window id. Opening an editor that is open
    // closes it first. True when the editor is open afterwards.
    bool open(void* parentWindow) override;
    // Stops the render thread and destroys the window, waiting for the
    // thread the usual stop time. Harmless when not open.
    void close() override;
    // The same in two steps, for a plug-in that stops all its threads at
    // once: RequestClose asks the render thread to end without waiting;
    // Close closes and waits for it at most `limit`. A render thread still
    // running then keeps what it draws with (see ReleaseStranded); false.
    void RequestClose();
    virtual bool Close(std::chrono::milliseconds limit);
    // Frees what render threads left running by earlier closes draw with,
    // once they have ended, waiting at most `limit` for them. True when none
    // is left. Until then the plug-in they read must stay alive too.
    virtual bool ReleaseStranded(std::chrono::milliseconds limit);
    // Reads the window's input and hands it to the manager.
    void idle() override;
    bool onKeyDown(VstKeyCode& key) override;

    // Makes the manager (and whatever builds its element tree) for an editor
    // about to open in parentWindow; sets `manager`. False when it cannot.
    virtual bool CreateManager(void* parentWindow) = 0;

    // The callbacks the manager is given; context is the editor.
    static void BeginEditCallback(int32_t index, void* editor);
    static void EndEditCallback(int32_t index, void* editor);
    static void CaptureMouse(void* editor);
    static void ReleaseMouse(void* editor);

    // The key byte for a host key event: the character's low byte, or by
    // the virtual key: back and delete 8, return and enter 13, the arrows
    // 28 (left), 30 (up), 29 (right), 31 (down), the keypad's minus '-',
    // decimal point '.' and digits '0'..'9'; a byte 190 becomes '.'.
    static uint8_t KeyByteForKeyCode(const VstKeyCode& key);

    Manager* GetManager() const { return manager.get(); }
    EditorWindow* Window() const { return window.get(); }
    // The dialogs of the open editor (null while closed).
    DialogSession* Dialogs() const { return dialogs.get(); }
    // Stores the size getRect reports while no manager exists (clamped to
    // 1 .. Manager::kMaxWindowSide).
    void SetRectSize(int width, int height);

protected:
    // What the window procedure does with one event.
    void HandleWindowEvent(const WindowEvent& event);
    // y grows upwards from the window's bottom edge.
    Point PointFromWindow(int x, int y) const;
    // Stops and deletes the manager, waiting at most `limit`. False when its
    // render thread is still running: the manager is then kept (stranded,
    // with the window once close has run), and whatever else the thread can
    // reach must be kept too.
    bool DestroyManager(std::chrono::milliseconds limit);

    std::unique_ptr<Manager> manager;
    std::unique_ptr<EditorWindow> window;
    // Made at open, destroyed first at close: an open dialog is closed and
    // nothing it answers reaches the manager, its elements or the plug-in.
    std::unique_ptr<DialogSession> dialogs;
    bool buttonHeld = false;
    ERect rect{};

private:
    // What render threads left running draw with; freed by ReleaseStranded
    // once they have ended, else left to them when the editor goes.
    std::vector<std::unique_ptr<Manager>> strandedManagers;
    std::vector<std::unique_ptr<EditorWindow>> strandedWindows;
};

} // namespace QZ
