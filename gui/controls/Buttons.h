// The editor's buttons: clickable rectangles with a centred label, drawn as
// a translucent flat rectangle whose colour eases towards its target (15 %
// of the remaining difference per frame); the label is one of the manager's
// static texts.
//
//   BrelButton          push button; its action runs on release
//   MIDIBrowseButton    a BrelButton that opens the MIDI Browser for its
//                       property
//   BrelStatefulButton  push or toggle button with a state; its action runs
//                       on press and reads the new state
//   BrelPropertyButton  toggle bound to a one-byte plug-in property
//   CorvButton          toggle bound to a plug-in parameter (0 or 1 of its
//                       range), flipped inside one host edit gesture
//
// Threads: presses and hover arrive on the UI thread, Update and Draw run on
// the render thread; what selects the target colour is atomic, the eased
// colour belongs to the render thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "gui/toolkit/Button.h"
#include "gui/toolkit/UIElement.h"

namespace QZ {

namespace button_colours {
inline constexpr Colour kIdle{0.3f, 0.3f, 0.3f, 0.4f};
inline constexpr Colour kHover{0.8f, 0.4f, 0.1f, 0.3f};
inline constexpr Colour kOn{1.0f, 0.5f, 0.5f, 0.9f};
inline constexpr Colour kLabel{0.8f, 0.8f, 0.8f, 1.0f};
} // namespace button_colours

// The eased colour of a button: the target is chosen by an atomic word that
// the UI thread may set, the current colour moves on the render thread.
class ButtonLook {
public:
    enum Target : int { kIdle, kHover, kOn };
    static constexpr float kEase = 0.15f;     // per frame
    static constexpr float kHalfStep = 0.5f;  // the parameter button's easing

    void SetTarget(Target target) { this->target.store(target, std::memory_order_relaxed); }
    Target GetTarget() const { return static_cast<Target>(target.load(std::memory_order_relaxed)); }
    static Colour ColourOf(Target target);
    // render thread: current += rate x (target - current), then the quad.
    void Draw(const Box& rect, float rate);
    const Colour& Current() const { return current; }

private:
    std::atomic<int> target{kIdle};
    Colour current = button_colours::kIdle;
};

// The look and hover of the push and stateful buttons: the hover colour
// while the pointer is over them, the idle colour otherwise, and the label
// placed when GL starts.
template <class Base>
class HoverButton : public Base {
public:
    using Base::Base;

    void Draw() override { look.Draw(this->rect, ButtonLook::kEase); }
    void MouseEnter() override
    {
        look.SetTarget(ButtonLook::kHover);
        Base::MouseEnter();
    }
    void MouseLeave() override
    {
        look.SetTarget(ButtonLook::kIdle);
        Base::MouseLeave();
    }
    void InitGL() override { this->PlaceLabel(&button_colours::kLabel); }

    const ButtonLook& Look() const { return look; }

protected:
    ButtonLook look;
};

class BrelButton : public HoverButton<Button> {
public:
    BrelButton(Manager* manager, const std::string& label, Action action, void* context, float x, float y, float w,
               float h, int32_t commandId);
};

class MIDIBrowseButton : public BrelButton {
public:
    // action runs with this button as its context.
    MIDIBrowseButton(Manager* manager, const std::string& label, Action action, uint32_t propertyId, float x, float y,
                     float w, float h, int32_t commandId);
    uint32_t PropertyId() const { return propertyId; }

private:
    uint32_t propertyId;
};

class BrelStatefulButton : public HoverButton<StatefulButton> {
public:
    BrelStatefulButton(Manager* manager, const std::string& label, Action action, void* context, float x, float y,
                       float w, float h, int32_t commandId, bool toggle);
};

class BrelPropertyButton : public PropertyButton {
public:
    BrelPropertyButton(Manager* manager, const std::string& label, uint32_t propertyId, float x, float y, float w,
                       float h, int32_t commandId);

    // Reads the property; the target is the on colour while it is nonzero.
    void Update() override;
    void Draw() override;
    void InitGL() override;

    const ButtonLook& Look() const { return look; }

private:
    ButtonLook look;
};

class CorvButton : public Control {
public:
    CorvButton(Manager* manager, const std::string& label, float x, float y, float w, float h,
               int32_t parameterIndex);

    // Reads the value; the target is the on colour unless it is exactly 0.
    void Update() override;
    // Moves half way to the target each frame.
    void Draw() override;
    // Begins the edit gesture, then sets 1 when the value is 0, else 0.
    void MouseDown(const Point& point, uint32_t modifiers, int clicks) override;
    void InitGL() override;
    void SetVisible(bool visible) override;

    const std::string& Label() const { return label; }
    int32_t LabelEntry() const { return labelEntry.load(std::memory_order_acquire); }
    const ButtonLook& Look() const { return look; }

private:
    std::string label;
    std::atomic<int32_t> labelEntry{-1};
    ButtonLook look;
};

} // namespace QZ
