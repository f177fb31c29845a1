// The editor script's generic widgets (knobs, sliders, buttons, drop-downs,
// labels, text fields) as plain boxes of the right size and behaviour: they
// bound their groups, take the pointer, run their buttons' actions and keep
// a toggle's state, and draw a flat outline of their kind. The editors use
// them until the toolkit's own widgets replace them one kind at a time.
//
// Threads: made and clicked on the UI thread; Draw on the render thread
// (it reads only the rectangle, the kind and atomics).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "gui/luagui/LuaGui.h"
#include "gui/toolkit/Fonts.h"
#include "gui/toolkit/UIElement.h"

namespace QZ {

class StandInWidget : public ControlBase {
public:
    enum class Kind { Knob, Slider, Button, StatefulButton, PropertyButton, DropDown, Label, TextField, PropertyField };

    StandInWidget(Manager* manager, Kind kind, float x, float y, float w, float h);

    // render thread: uploads the font's glyphs once per editor.
    void InitGL() override;
    void Draw() override;
    void MouseDown(const Point& point, uint32_t modifiers, int clicks) override;

    // A button's action, run by a click (a toggle flips its state first).
    void SetAction(LuaGui::ButtonAction callback, void* callbackContext)
    {
        action = callback;
        context = callbackContext;
    }
    void SetToggle(bool isToggle) { toggle = isToggle; }
    void SetState(bool on) { state.store(on, std::memory_order_relaxed); }
    bool State() const { return state.load(std::memory_order_relaxed); }
    void Click() { MouseDown(Point{}, 0, 1); }

    Kind GetKind() const { return kind; }
    int32_t Parameter() const { return parameter; }
    void SetParameter(int32_t index) { parameter = index; }
    uint32_t Property() const { return property; }
    void SetProperty(uint32_t id) { property = id; }
    int32_t CommandId() const { return commandId; }
    void SetCommandId(int32_t id) { commandId = id; }
    const std::string& Text() const { return text; }
    void SetText(const std::string& newText) { text = newText; }
    void SetEditable(bool on) { editable = on; }
    // The font a label's or button's text is drawn in (null: no text).
    void SetFont(FontRecord* textFont) { font = textFont; }
    bool Editable() const { return editable; }
    // Label and text-field colours: 0 background, 1 foreground (text),
    // 2 active, 3 changed.
    void SetColour(int which, const Colour& colour);
    Colour GetColour(int which) const;

private:
    Kind kind;
    int32_t parameter = -1;
    uint32_t property = 0;
    int32_t commandId = 0;
    std::string text;
    bool toggle = false;
    bool editable = true;
    std::atomic<bool> state{false};
    LuaGui::ButtonAction action = nullptr;
    void* context = nullptr;
    std::atomic<float> colours[4][4] = {};
    FontRecord* font = nullptr;
    TextCache textCache;   // render thread
    float textWidth = -1; // render thread, measured once
};

} // namespace QZ
