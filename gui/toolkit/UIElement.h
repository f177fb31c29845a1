// The element tree: everything visible in an editor is an element of one
// tree rooted in its manager. Every element registers itself with its
// manager when it is made, and the manager owns and deletes it; groups hold
// their children without owning them.
//
// Threads: elements are made and receive input on the host's UI thread
// (MouseDown .. MouseLeave, HitTest, KeyDown, LoseFocus); Update, Draw,
// DrawPopup, InitGL, PostInitGL and DrawLabels run on the render thread.
// The two share an element without a lock; the UI thread changes only small
// scalar state, which is atomic where both sides touch it.
//
// Coordinates are window pixels, y growing upwards, relative to the offset
// of the element's parent group.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "gui/toolkit/Geometry.h"
#include "gui/toolkit/Manager.h"

namespace QZ {

class Group;
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
    // Whether the element shows what changes without the manager seeing it
    // (audio levels, a scope): the editor then draws every frame. Asked
    // once, after InitGL.
    virtual bool DrawsLiveData() const { return false; }

    bool IsVisible() const { return visible.load(std::memory_order_relaxed); }
    Manager* GetManager() const { return manager; }
    Group* Parent() const { return parent; }
    void SetParent(Group* group) { parent = group; }
    const Box& Rectangle() const { return rect; }
    void SetRectangle(const Box& box) { rect = box; }

    // Adds the offsets of the element's parent and each of its ancestors to
    // both corners of box.
    static void AddAncestorOffsets(const UIElement* element, Box& box);
    // The element's box in window pixels: its AddToBounds into an empty
    // box, moved by its ancestors' offsets.
    static Box AbsoluteBox(UIElement* element);

protected:
    Manager* manager;
    Group* parent = nullptr;
    std::atomic<bool> visible{true};
    Box rect;
};

// An element with a rectangle: it bounds and hit-tests by that rectangle.
class ControlBase : public UIElement {
public:
    explicit ControlBase(Manager* manager) : UIElement(manager) {}
    void AddToBounds(Box& box) override;
    // The visible flag is not consulted: hidden groups stop hits for their
    // children, a control hidden on its own still receives them.
    UIElement* HitTest(const Point& point) override;

protected:
    uint8_t flags = 0;
};

// A control bound to one plug-in parameter.
class Control : public ControlBase {
public:
    static constexpr uint8_t kFlagStepped = 1;

    // record: the manager's label record of the parameter (copied).
    Control(Manager* manager, const ParameterLabelRecord& record);

    // render thread: reads the parameter from the plug-in's current program.
    void Update() override;
    // Begins the host's edit gesture on the parameter.
    void MouseDown(const Point& point, uint32_t modifiers, int clicks) override;
    // Ends the gesture when this parameter is the one being edited.
    void MouseUp(const Point& point, uint32_t modifiers) override;
    // The readout and the floating tooltip show this control.
    void MouseEnter() override;
    void MouseLeave() override;

    // UI thread: sets the parameter from a normalised value (stepped
    // parameters snap to whole values), notifying the host.
    void SetValueFromNormalised(float normalised);

    bool IsStepped() const { return (flags & kFlagStepped) != 0; }
    float Normalised() const { return normalised.load(std::memory_order_relaxed); }
    const ParameterLabelRecord& Record() const { return record; }

protected:
    ParameterLabelRecord record;
    std::atomic<float> normalised{0.0f};
};

// A container: children are drawn, bounded and hit-tested relative to the
// group's offset.
class Group : public UIElement {
public:
    explicit Group(Manager* manager) : UIElement(manager) {}

    // UI thread, while the tree is built: appends the child (not owned) and
    // passes the group's visible flag on to it.
    void AddChild(UIElement* child);
    // As AddChild, but the child comes first: it is hit-tested before its
    // siblings (a modal panel over the group).
    void AddChildFirst(UIElement* child);
    const std::vector<UIElement*>& Children() const { return children; }
    void SetOffset(float x, float y, float z = 0)
    {
        offsetX = x;
        offsetY = y;
        offsetZ = z;
    }
    float OffsetX() const { return offsetX; }
    float OffsetY() const { return offsetY; }

    // Adds the offsets of group and each of its ancestors to both corners.
    static void AddAncestorOffsets(const Group* group, Box& box);

    // While set (during hover tracking only), a point in a group's own
    // rectangle that no child takes hits the group itself.
    static void SetGroupsCountAsHits(bool count) { groupsCountAsHits.store(count, std::memory_order_relaxed); }
    static bool GroupsCountAsHits() { return groupsCountAsHits.load(std::memory_order_relaxed); }

    void Update() override;
    void Draw() override;
    void DrawPopup() override;
    void AddToBounds(Box& box) override;
    UIElement* HitTest(const Point& point) override;
    void SetVisible(bool visible) override;

protected:
    // The children's union in the group's own coordinates (before offset).
    Box ChildrenBox();

    std::vector<UIElement*> children;
    float offsetX = 0, offsetY = 0, offsetZ = 0;

private:
    static std::atomic<bool> groupsCountAsHits;
};

// A group with a titled frame whose colour eases towards the active colour
// while the pointer is over it.
class NamedGroup : public Group {
public:
    NamedGroup(Manager* manager, const std::string& name, float top, float bottom, float left, float right);

    // Process-wide frame colours; UI thread, before editors open.
    static void SetActiveColour(const Colour& colour);
    static void SetInactiveColour(const Colour& colour);
    static Colour ActiveColour();
    static Colour InactiveColour();

    void Draw() override;
    void AddToBounds(Box& box) override;
    void MouseEnter() override;
    void MouseLeave() override;
    // Fixes the frame from the group's absolute box; width is the advance
    // of the name in the main font (0 without one).
    // With a main font the name becomes a static text in the frame's gap,
    // drawn in the frame's current colour.
    void InitGL() override;
    void LayOutFrame(float nameWidth);
    // The group's flag, its children's and its name text's.
    void SetVisible(bool visible) override;

    const std::string& Name() const { return name; }
    // render thread: the colour the frame is drawn in.
    Colour CurrentColour() const { return current; }
    // One frame of the colour animation (15 % towards the target).
    void StepColour();
    const Point* FramePoints() const { return frame; }
    int32_t NameEntry() const { return nameEntry.load(std::memory_order_acquire); }

protected:
    std::string name;
    float marginTop, marginBottom, marginLeft, marginRight;
    Colour current;
    // Written on the UI thread, read by the render thread: one atomic word
    // selects which of the two colours is the target.
    std::atomic<bool> targetActive{false};
    std::atomic<int32_t> nameEntry{-1};
    Point frame[6];
};

} // namespace QZ
