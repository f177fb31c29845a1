// The button bases: a push button that runs an action (QZ::Button), one with
// a push or toggle state whose action runs on the press
// (QZ::StatefulButton), and one bound to a one-byte plug-in property
// (QZ::PropertyButton). The textured buttons derive from these and draw
// themselves; the bases draw a green outline.
//
// Threads: presses and hover arrive on the UI thread; Update and Draw run
// on the render thread. The state byte is atomic, since both read it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "gui/toolkit/UIElement.h"

namespace QZ {

class Button : public ControlBase {
public:
    // UI thread. button is the pressed button, context the one given here.
    using Action = void (*)(Button* button, void* context);

    // hoverId: the parameter index, or the negative command id
    // (Manager::CommandIdForName) whose text the readout shows while the
    // pointer is over the button. The rectangle is (x, y) to (x + w, y + h).
    Button(Manager* manager, const std::string& label, Action action, void* context, float x, float y, float width,
           float height, int32_t hoverId);

    void Draw() override;
    // Runs the action, wherever the pointer is released.
    void MouseUp(const Point& point, uint32_t modifiers) override;
    void MouseEnter() override;
    void MouseLeave() override;
    // The element's flag, and the label text's when it has been placed.
    void SetVisible(bool visible) override;

    const std::string& Label() const { return label; }
    int32_t HoverId() const { return hoverId; }
    int32_t LabelEntry() const { return labelEntry.load(std::memory_order_acquire); }

    // render thread, from InitGL: adds text centred on element's absolute box
    // to the manager's static texts (nothing without a main font) and gives
    // it the element's visibility. Returns the entry index, or -1.
    static int32_t AddCentredLabel(UIElement& element, const std::string& text, const Colour* colour);

protected:
    // render thread, InitGL of the textured buttons: places the label.
    void PlaceLabel(const Colour* colour);
    void RunAction();

    std::string label;
    Action action;
    void* actionContext;
    int32_t hoverId;
    std::atomic<int32_t> labelEntry{-1};
};

class StatefulButton : public Button {
public:
    // toggle: a press flips the state; otherwise the state is 0 while the
    // button is held and 1 at rest. A toggle starts off.
    StatefulButton(Manager* manager, const std::string& label, Action action, void* context, float x, float y,
                   float width, float height, int32_t hoverId, bool toggle);

    // Sets the state, then runs the action (which reads the new state).
    void MouseDown(const Point& point, uint32_t modifiers, int clicks) override;
    // A push button returns to 1; no action on release.
    void MouseUp(const Point& point, uint32_t modifiers) override;

    bool State() const { return state.load(std::memory_order_relaxed) != 0; }
    void SetState(bool on) { state.store(on ? 1 : 0, std::memory_order_relaxed); }
    bool IsToggle() const { return toggle; }

protected:
    std::atomic<uint8_t> state;
    bool toggle;
};

class PropertyButton : public Button {
public:
    PropertyButton(Manager* manager, const std::string& label, uint32_t propertyId, float x, float y, float width,
                   float height, int32_t hoverId, bool toggle = true);

    // Reads the property's byte into the state (render thread each frame,
    // and the UI thread before a press).
    void Update() override;
    // Re-reads, flips (toggle) or clears the state and writes it to the
    // plug-in, which tells the property's listeners.
    void MouseDown(const Point& point, uint32_t modifiers, int clicks) override;
    // A push variant writes 1 on release.
    void MouseUp(const Point& point, uint32_t modifiers) override;

    uint8_t State() const { return state.load(std::memory_order_relaxed); }
    uint32_t PropertyId() const { return propertyId; }

protected:
    // The property's current byte; the textured variant reads some ids
    // another way.
    virtual uint8_t ReadProperty();
    void WriteProperty(uint8_t value);

    std::atomic<uint8_t> state{0};
    bool toggle;
    uint32_t propertyId;
};

} // namespace QZ
