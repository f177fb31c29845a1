// Drop-downs and labels.
//
//   DropDown    picks one of the value names of an indexed parameter: the
//               closed control shows the current name; a press opens the
//               list with the current name under the pointer (kept inside
//               the window), a drag highlights an item and the release
//               over the list selects it; a release outside the list
//               changes nothing. The list draws in the pop-up pass, on top
//               of everything else.
//   QJDropDown  the look of every plug-in editor: a light field with dark
//               text, and a translucent grey list.
//   Label       a static text on a coloured box, drawn into the panel.
//
// Threads: presses and drags arrive on the UI thread; Draw and DrawPopup
// run on the render thread and read the highlighted index (atomic) and the
// list geometry, which is written and copied under a small lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "gui/toolkit/Fonts.h"
#include "gui/toolkit/UIElement.h"

namespace QZ {

// Where an open list lies: item `current` over the control's box
// (y0 .. y0 + itemHeight, layout pixels), kept inside a window
// windowHeight high.
struct DropDownList {
    float x = 0, bottom = 0, width = 0, height = 0, itemHeight = 0;
};
DropDownList PlaceDropDownList(float x0, float y0, float x1, float y1, int count, int current, float windowHeight);

class DropDown : public Control {
public:
    // Value names longer than this are cut (at a character boundary of
    // UTF-8 text).
    static constexpr size_t kMaxItemLength = 127;

    // The items are the parameter's value names; a parameter without any
    // gives an empty field that opens no list.
    DropDown(Manager* manager, int32_t parameterIndex, float x, float y, float w, float h);

    void Draw() override;
    void DrawPopup() override;
    void MouseDown(const Point& point, uint32_t modifiers, int clicks) override;
    void MouseDrag(const Point& point, uint32_t modifiers) override;
    void MouseUp(const Point& point, uint32_t modifiers) override;

    const std::vector<std::string>& Items() const { return items; }
    // The parameter's value as an item index (clamped), or -1 without items.
    int32_t CurrentItem() const;
    // -1 while the list is closed.
    int32_t Highlighted() const { return highlighted.load(std::memory_order_acquire); }
    bool IsOpen() const { return Highlighted() >= 0; }
    // The open list in layout coordinates.
    DropDownList List() const;

protected:
    // Room between a name too wide for its box and the box's left edge.
    static constexpr float kNameInset = 2;
    // Where a name nameWidth wide starts in a box from x, width wide:
    // centred, or at the left edge when it does not fit (it is cut at the
    // right one).
    static float NameX(float x, float width, float nameWidth);
    // render thread: the current name centred in the field, in `colour`.
    void DrawCurrentName(const Colour& colour);
    // render thread: the list box and its items.
    void DrawList(const Colour& box, const Colour& item, const Colour& highlight, bool blend);

    std::vector<std::string> items;
    std::atomic<int32_t> highlighted{-1};
    mutable std::mutex listLock;
    DropDownList list;             // layout coordinates
    float ownX = 0, ownBottom = 0; // the list in the element's own coordinates
    // render thread
    TextCache closedCache;
    std::vector<TextCache> itemCaches;
};

class QJDropDown : public DropDown {
public:
    using DropDown::DropDown;

    void Draw() override;
    void DrawPopup() override;
    // render thread, panel: the field's light box.
    void DrawLabels(FontRecord* font) override;
};

class Label : public ControlBase {
public:
    // Alignments: 'l' the text starts at x, 'r' it ends at x, else centred
    // on x; y is the label's top edge. font measures the box (the manager's
    // label font when null); without one the box stays empty.
    Label(Manager* manager, const std::string& text, float x, float y, char alignment, FontRecord* font = nullptr);

    // Any thread.
    void SetBackgroundColour(const Colour& colour);
    void SetForegroundColour(const Colour& colour);
    Colour BackgroundColour() const;
    Colour ForegroundColour() const;
    // render thread, panel: the box and the text.
    void DrawLabels(FontRecord* font) override;

    const std::string& Text() const { return text; }

private:
    std::string text;
    mutable std::mutex colourLock;
    Colour background{1, 1, 1, 1};
    Colour foreground{0, 0, 0, 1};
    float insetX = 3, insetY = 3;
    TextCache cache; // render thread
};

} // namespace QZ
