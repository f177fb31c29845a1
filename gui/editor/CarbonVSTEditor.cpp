#include "gui/editor/CarbonVSTEditor.h"

#include "framework/ObryProperties.h"
#include "platform/Clipboard.h"

#include <cstdint>
#include <string>

#include "framework/AudioEffectX.h"
#include "gui/dialogs/DialogSession.h"
#include "gui/editor/EditorWindow.h"
#include "gui/toolkit/GLSupport.h"
#include "gui/toolkit/Manager.h"
#include "gui/editor/ManagerWin32Bridge.h"
#include "gui/toolkit/UIElement.h"
#include "platform/Debug.h"

using corvane::DebugPrintf;

namespace QZ {

namespace {

int ClampSide(int side)
{
    return side < 1 ? 1 : (side > Manager::kMaxWindowSide ? Manager::kMaxWindowSide : side);
}

} // namespace

CarbonVSTEditor::CarbonVSTEditor(AudioEffect* effect) : ObryEditor(effect)
{
    SetRectSize(1, 1);
}

CarbonVSTEditor::~CarbonVSTEditor()
{
    close();
    // Render threads still running keep what they draw with.
    if (!ReleaseStranded(std::chrono::milliseconds(0))) {
        for (auto& stranded : strandedManagers)
            (void)stranded.release();
        for (auto& stranded : strandedWindows)
            (void)stranded.release();
    }
}

void CarbonVSTEditor::SetRectSize(int width, int height)
{
    rect.top = 0;
    rect.left = 0;
    rect.bottom = static_cast<int16_t>(ClampSide(height));
    rect.right = static_cast<int16_t>(ClampSide(width));
}

bool CarbonVSTEditor::getRect(ERect** rectOut)
{
    if (!rectOut || !gl::LibraryAvailable())
        return false;
    if (manager)
        SetRectSize(manager->WindowWidth(), manager->WindowHeight());
    *rectOut = &rect;
    return true;
}

bool CarbonVSTEditor::open(void* parentWindow)
{
    // A second open without a close in between would leave the first
    // window's render thread running with nothing to stop it.
    if (manager || window)
        close();
    const unsigned long parent = static_cast<unsigned long>(reinterpret_cast<uintptr_t>(parentWindow));
    if (!parent) {
        DebugPrintf("editor: effEditOpen without a parent window\n");
        return false;
    }
    // Every GL call would end the process where libGL cannot be loaded or
    // lacks an entry point.
    if (!gl::LibraryAvailable()) {
        DebugPrintf("editor: no usable libGL.so.1; no editor\n");
        return false;
    }
    if (!CreateManager(parentWindow) || !manager) {
        DestroyManager(corvane::platform::WorkerThread::kDefaultStopTimeout);
        return false;
    }
    manager->MakeTitle();
    std::string error;
    window = EditorWindow::Create(parent, manager->WindowWidth(), manager->WindowHeight(), &error);
    if (!window) {
        DebugPrintf("editor: %s\n", error.c_str());
        DestroyManager(corvane::platform::WorkerThread::kDefaultStopTimeout);
        return false;
    }
    manager->SetBridge(new ManagerWin32Bridge(window->Handle(), parent, window->DisplayName(), window.get()));
    manager->SetEditCallbacks(BeginEditCallback, EndEditCallback, this);
    manager->SetMouseCallbacks(CaptureMouse, ReleaseMouse, this);
    manager->CreateRenderTask();
    if (!manager->RenderTaskRunning()) {
        close();
        return false;
    }
    // Plug-ins that copy text (the Learner) find the window's clipboard by
    // their own address while the window is open.
    if (auto* plugin = dynamic_cast<ObryAuBase*>(effect))
        corvane::platform::RegisterClipboard(plugin, window->TextClipboard());
    dialogs = std::make_unique<DialogSession>(manager.get(),
                                              DialogSession::TopLevelWindow(window->Connection(), parent));
    systemWindow = parentWindow;
    return true;
}

bool CarbonVSTEditor::DestroyManager(std::chrono::milliseconds limit)
{
    if (!manager)
        return true;
    if (!manager->DestroyRenderTask(limit)) {
        DebugPrintf("editor: the render thread did not stop; its manager and window are kept until it ends\n");
        strandedManagers.push_back(std::move(manager));
        return false;
    }
    manager.reset();
    return true;
}

void CarbonVSTEditor::close()
{
    Close(corvane::platform::WorkerThread::kDefaultStopTimeout);
}

void CarbonVSTEditor::RequestClose()
{
    if (manager)
        manager->RequestRenderStop();
}

bool CarbonVSTEditor::Close(std::chrono::milliseconds limit)
{
    // Open dialogs first: their answers would go to the manager's elements.
    dialogs.reset();
    // Then the manager: its render thread draws into the window.
    const bool stopped = DestroyManager(limit);
    if (window)
        if (auto* plugin = dynamic_cast<ObryAuBase*>(effect))
            corvane::platform::UnregisterClipboard(plugin);
    // A render thread still running draws into the window (its bridge holds
    // it): the window stays with it rather than being destroyed under it.
    if (!stopped && window)
        strandedWindows.push_back(std::move(window));
    window.reset();
    buttonHeld = false;
    systemWindow = nullptr;
    return stopped;
}

bool CarbonVSTEditor::ReleaseStranded(std::chrono::milliseconds limit)
{
    const corvane::platform::StopBudget budget(limit);
    for (auto& stranded : strandedManagers)
        if (stranded->DestroyRenderTask(budget.Left()))
            stranded.reset();
    std::erase(strandedManagers, nullptr);
    if (!strandedManagers.empty())
        return false;
    strandedWindows.clear();
    return true;
}

void CarbonVSTEditor::idle()
{
    if (!window)
        return;
    window->ProcessEvents([this](const WindowEvent& event) { HandleWindowEvent(event); });
    // Dialog answers are applied here, on the host's UI thread.
    if (dialogs)
        dialogs->Poll();
}

Point CarbonVSTEditor::PointFromWindow(int x, int y) const
{
    const int height = manager && manager->Bridge() ? manager->Bridge()->GetWindowRect() : 0;
    return Point{static_cast<float>(x), static_cast<float>(height - y)};
}

void CarbonVSTEditor::HandleWindowEvent(const WindowEvent& event)
{
    if (!manager)
        return;
    switch (event.kind) {
    case WindowEvent::Kind::Motion:
        if (buttonHeld)
            manager->MouseDrag(PointFromWindow(event.x, event.y), event.modifiers);
        else
            manager->MouseMove(PointFromWindow(event.x, event.y));
        break;
    case WindowEvent::Kind::ButtonDown:
        if (manager->Bridge())
            manager->Bridge()->SetFocus();
        manager->MouseDown(PointFromWindow(event.x, event.y), event.modifiers, event.clicks);
        buttonHeld = true;
        break;
    case WindowEvent::Kind::ButtonUp:
        manager->MouseUp(PointFromWindow(event.x, event.y), event.modifiers);
        buttonHeld = false;
        break;
    case WindowEvent::Kind::Wheel:
        // Not while a button is held: the element under the pointer holds
        // the mouse already.
        if (!buttonHeld)
            manager->MouseWheel(PointFromWindow(event.x, event.y), event.modifiers, event.wheelNotches);
        break;
    case WindowEvent::Kind::Key:
        if (UIElement* focus = manager->KeyFocus()) {
            focus->KeyDown(event.key);
            manager->RequestRedraw();
        }
        break;
    case WindowEvent::Kind::Exposed:
        // The frame is copied in whole with the next pass.
        manager->RequestRedraw();
        break;
    case WindowEvent::Kind::FocusLost:
        manager->SetKeyFocus(nullptr);
        break;
    case WindowEvent::Kind::Destroyed:
        // The host destroyed its window (and ours): nothing more to draw.
        manager->SignalRenderEvent(Manager::kEventPause);
        break;
    case WindowEvent::Kind::Resized:
        break;
    }
}

uint8_t CarbonVSTEditor::KeyByteForKeyCode(const VstKeyCode& key)
{
    uint8_t byte = static_cast<uint8_t>(key.character & 0xFF);
    switch (key.virt) {
    case VKEY_BACK:
    case VKEY_DELETE:
        byte = 8;
        break;
    case VKEY_RETURN:
    case VKEY_ENTER:
        byte = 13;
        break;
    case VKEY_LEFT:
        byte = 28;
        break;
    case VKEY_UP:
        byte = 30;
        break;
    case VKEY_RIGHT:
        byte = 29;
        break;
    case VKEY_DOWN:
        byte = 31;
        break;
    case VKEY_SUBTRACT:
        byte = '-';
        break;
    case VKEY_DECIMAL:
        byte = '.';
        break;
    default:
        if (key.virt >= VKEY_NUMPAD0 && key.virt <= VKEY_NUMPAD9)
            byte = static_cast<uint8_t>('0' + (key.virt - VKEY_NUMPAD0));
        break;
    }
    if (byte == 190)
        byte = '.';
    return byte;
}

bool CarbonVSTEditor::onKeyDown(VstKeyCode& key)
{
    if (!manager)
        return false;
    UIElement* focus = manager->KeyFocus();
    if (!focus)
        return false;
    manager->RequestRedraw();
    return focus->KeyDown(KeyByteForKeyCode(key));
}

// Callbacks of the manager (UI thread).

void CarbonVSTEditor::BeginEditCallback(int32_t index, void* editor)
{
    auto* self = static_cast<CarbonVSTEditor*>(editor);
    if (auto* effectX = dynamic_cast<AudioEffectX*>(self->effect))
        effectX->beginEdit(index);
}

void CarbonVSTEditor::EndEditCallback(int32_t index, void* editor)
{
    auto* self = static_cast<CarbonVSTEditor*>(editor);
    if (auto* effectX = dynamic_cast<AudioEffectX*>(self->effect))
        effectX->endEdit(index);
}

void CarbonVSTEditor::CaptureMouse(void* editor)
{
    auto* self = static_cast<CarbonVSTEditor*>(editor);
    if (self->window)
        self->window->GrabPointer();
}

void CarbonVSTEditor::ReleaseMouse(void* editor)
{
    auto* self = static_cast<CarbonVSTEditor*>(editor);
    if (self->window)
        self->window->UngrabPointer();
}

} // namespace QZ
