// The element base: everything visible in an editor is an element of one
// tree rooted in its manager. Every element registers itself with its
// manager when it is made, and the manager owns and deletes it.
//
// Threads: elements are made and receive input on the host's UI thread
// (MouseDown .. MouseLeave, HitTest, KeyDown, LoseFocus); Update, Draw,
// DrawPopup, InitGL, PostInitGL and DrawLabels run on the render thread.
// The two share an element without a lock; the UI thread changes only small
// scalar state.
#pragma once

#include <atomic>
#include <cstdint>

#include "gui/Geometry.h"

namespace QZ {

class Manager;
struct FontRecord;

class UIElement {
public:
    // Registers the element with the manager, which owns it from then on.
    explicit UIElement(Manager* manager);
    virtual ~UIElement() = default;
    UIElement(const UIElement&) = delete;
    UIElement& operator=(const UIElement&) = delete;

    // render thread, once per frame
    virtual void Update() {}
    // render thread, overlay pass (pixel coordinates)
    virtual void Draw() {}
    virtual void DrawPopup() {}
    // Grows box by this element's extent (relative to its parent).
    virtual void AddToBounds(Box&) {}
    // UI thread: modifiers is the mask of CarbonVSTEditor::ModifierKeys;
    // clicks is 1, or 2 for a double click.
    virtual void MouseDown(const Point&, uint32_t /*modifiers*/, int /*clicks*/) {}
    virtual void MouseDrag(const Point&, uint32_t /*modifiers*/) {}
    virtual void MouseUp(const Point&, uint32_t /*modifiers*/) {}
    virtual void MouseEnter() {}
    virtual void MouseLeave() {}
    virtual UIElement* HitTest(const Point&) { return nullptr; }
    // render thread, once when GL starts, in element-list order
    virtual void InitGL() {}
    virtual void PostInitGL() {}
    // render thread, while the panel texture is drawn; only visible elements
    virtual void DrawLabels(FontRecord*) {}
    // UI thread: a key byte for the focused element; true when handled
    virtual bool KeyDown(uint8_t) { return false; }
    virtual void LoseFocus() {}
    virtual void SetVisible(bool visible) { this->visible.store(visible, std::memory_order_relaxed); }

    bool IsVisible() const { return visible.load(std::memory_order_relaxed); }
    Manager* GetManager() const { return manager; }

protected:
    Manager* manager;
    std::atomic<bool> visible{true};
};

} // namespace QZ
