// Text fields.
//
//   TextField          shows one plug-in parameter as a number; the user
//                      types a new value (digits, '.', a leading '-', Enter)
//                      or steps it with the arrow keys. The only element
//                      that takes key focus.
//   PropertyTextField  shows a plug-in string property centred in a dark
//                      box; a click runs its action (the editor opens the
//                      Enter Property dialog), and a property listener keeps
//                      the text current whichever thread sets the property.
//
// Threads: presses and keys arrive on the UI thread, Draw runs on the render
// thread; the text field's buffer and edit position are shared under a small
// lock. The property field's listener runs on whatever thread sets the
// property; it only reads the property and hands the text to the static
// text effect. The field removes its listener first thing in its
// destructor, and the removal waits for a call in progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "gui/toolkit/Fonts.h"
#include "gui/toolkit/UIElement.h"

class ObryAuBase;

namespace QZ {

// Whether a format from a script may be given to the C formatter with one
// float: exactly one floating-point conversion (f, F, e, E, g, G; flags,
// a width and a precision of at most two digits each, an optional 'l'),
// plain text around it and "%%" only. Anything else (%n, %s, '*', two
// conversions, a huge width) is refused.
bool IsSafeFloatFormat(const std::string& format);

// The step of the arrow keys for the text in a field: 1 when it begins with
// a letter or holds no '.', else 10 to the minus the digits after the '.'.
float KeyStepForText(const char* text);

class TextField : public Control {
public:
    static constexpr size_t kBufferSize = 32; // 31 characters and the NUL
    static constexpr float kNoValue = 1e30f;

    // Colours a script may set; only red, green and blue are used.
    enum ColourRole : int { kBackground = 0, kText = 1, kActive = 2, kChanged = 3 };

    // format: from the script, e.g. "%.2f"; empty or not a safe float
    // format (IsSafeFloatFormat) shows the plug-in's own display text.
    TextField(Manager* manager, int32_t parameterIndex, float x, float y, float w, float h, const std::string& format);

    // render thread: formats the value (when not editing), then DrawField.
    void Draw() override;
    // Takes key focus and begins the edit gesture.
    void MouseDown(const Point& point, uint32_t modifiers, int clicks) override;
    bool KeyDown(uint8_t key) override;
    // Drops typed text that was not confirmed; the value shows again.
    void LoseFocus() override;
    // Any thread.
    void SetColour(int role, const Colour& colour);
    Colour GetColour(int role) const;

    // Sets the value inside one edit gesture (clamped to the range) and
    // ends editing.
    void ApplyValue(float value);
    // The step of the arrow keys for the buffer as it stands.
    float KeyStep() const;
    // The text as it stands (for tests and the readout).
    std::string Text() const;
    bool Editing() const;
    bool HasFocus() const { return focused.load(std::memory_order_relaxed); }
    const std::string& Format() const { return format; }

protected:
    // render thread: box, focus frame and the text right-aligned.
    virtual void DrawField(const std::string& text, bool editing);

private:
    float CurrentValue() const;

    std::string format; // empty: the plug-in's display text
    mutable std::mutex lock; // buffer, edit position, last values, colours
    char buffer[kBufferSize] = {};
    int32_t editPosition = -1;
    float lastValue = kNoValue;
    int32_t lastEditDrawn = -1;
    Colour colours[4] = {{0.8f, 0.8f, 0.85f, 1}, {0.1f, 0.1f, 0.1f, 1}, {0.8f, 1.0f, 0.8f, 1}, {1.0f, 0.8f, 0.8f, 1}};
    std::atomic<bool> focused{false};
    // render thread
    float textWidth = 0;
    TextCache cache;
};

class PropertyTextField : public ControlBase {
public:
    // UI thread: what a click on an editable field does.
    using Action = void (*)(PropertyTextField* field, void* context);

    PropertyTextField(Manager* manager, uint32_t propertyId, const std::string& prompt, float x, float y, float w,
                      float h);
    // Removes the property listener (waiting for a call in progress).
    ~PropertyTextField() override;

    void SetAction(Action action, void* context)
    {
        this->action = action;
        actionContext = context;
    }
    void SetEditable(bool editable) { this->editable.store(editable, std::memory_order_relaxed); }
    bool Editable() const { return editable.load(std::memory_order_relaxed); }

    // render thread: the value text entry and the property listener.
    void InitGL() override;
    // render thread: the hover glow.
    void Draw() override;
    // render thread, panel: the dark box behind the text.
    void DrawLabels(FontRecord* font) override;
    void MouseDown(const Point& point, uint32_t modifiers, int clicks) override;
    void MouseEnter() override;
    void MouseLeave() override;

    // Any thread: reads the property and hands its text to the drawing.
    // Only acts for this field's property id.
    void UpdateFromProperty(ObryAuBase* plugin, uint32_t id);
    // Any thread: the property's text as the plug-in has it now.
    std::string ReadPropertyText() const;

    uint32_t PropertyId() const { return propertyId; }
    const std::string& Prompt() const { return prompt; }
    std::string ValueText() const;
    int32_t TextEntry() const { return textEntry.load(std::memory_order_acquire); }

private:
    static void PropertyChanged(void* field, ObryAuBase* plugin, uint32_t id, uint32_t scope, uint32_t element);

    uint32_t propertyId;
    std::string prompt;
    mutable std::mutex valueLock;
    std::string valueText;
    std::atomic<int32_t> textEntry{-1};
    std::atomic<bool> editable{true};
    std::atomic<bool> glowing{false};
    std::atomic<bool> listening{false};
    Action action = nullptr;
    void* actionContext = nullptr;
    Colour current{1, 1, 1, 0}; // render thread
};

} // namespace QZ
