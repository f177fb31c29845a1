// The manager's input routing (UI thread): pointer, wheel, keyboard focus
// and parameter edit gestures. The press goes to the element under the
// pointer, which holds the mouse until the release.
#include "gui/toolkit/Manager.h"

#include <algorithm>
#include <cmath>

#include "framework/InstanceRegistry.h"
#include "framework/LearnTargetAddress.h"
#include "gui/editor/ManagerPlatformBridge.h"
#include "gui/toolkit/UIElement.h"

namespace QZ {

// Without a layout size yet, layout and window coincide.
Box Manager::WindowBox(const Box& layout) const
{
    const int pw = PanelWidth(), ph = PanelHeight();
    if (pw <= 0 || ph <= 0)
        return layout;
    const float sx = static_cast<float>(WindowWidth()) / static_cast<float>(pw);
    const float sy = static_cast<float>(WindowHeight()) / static_cast<float>(ph);
    return Box{layout.x0 * sx, layout.y0 * sy, layout.z0, layout.x1 * sx, layout.y1 * sy, layout.z1};
}

Point Manager::LayoutPoint(const Point& point) const
{
    const int w = WindowWidth(), h = WindowHeight(), pw = PanelWidth(), ph = PanelHeight();
    if ((w == pw && h == ph) || w <= 0 || h <= 0 || pw <= 0 || ph <= 0)
        return point;
    return Point{point.x * static_cast<float>(pw) / static_cast<float>(w),
                 point.y * static_cast<float>(ph) / static_cast<float>(h)};
}

std::vector<UIElement*> Manager::HoveredElements() const
{
    std::vector<UIElement*> hovered;
    for (const auto& [element, box] : hoverSet)
        hovered.push_back(element);
    return hovered;
}

void Manager::MouseMove(const Point& windowPoint)
{
    RequestRedraw();
    Group::SetGroupsCountAsHits(true);
    const Point point = LayoutPoint(windowPoint);
    UIElement* hit = root ? root->HitTest(point) : nullptr;
    if (hit == root)
        hit = nullptr;
    const bool alreadyHovered = hit && hoverSet.count(hit) != 0;
    for (auto it = hoverSet.begin(); it != hoverSet.end();) {
        if (it->second.Contains(point)) {
            ++it;
            continue;
        }
        UIElement* left = it->first;
        it = hoverSet.erase(it);
        left->MouseLeave();
    }
    if (!alreadyHovered) {
        if (hit) {
            hoverSet[hit] = UIElement::AbsoluteBox(hit);
            hit->MouseEnter();
        }
        lastEntered.store(hit, std::memory_order_relaxed);
    }
    Group::SetGroupsCountAsHits(false);
}

void Manager::MouseDown(const Point& point, uint32_t modifiers, int clicks)
{
    RequestRedraw();
    {
        std::lock_guard<std::mutex> hold(tooltipTextLock);
        notice.clear(); // read, or passed over
    }
    if (keyFocus) {
        keyFocus->LoseFocus();
        keyFocus = nullptr;
    }
    const float w = static_cast<float>(WindowWidth());
    if (point.x - point.y > w - kResizeCorner) {
        resizing = true;
        resizePressX = point.x;
        resizePressFromTop = static_cast<float>(WindowHeight()) - point.y;
        resizePressWidth = WindowWidth();
        resizePressHeight = WindowHeight();
    } else {
        const Point layout = LayoutPoint(point);
        UIElement* hit = root ? root->HitTest(layout) : nullptr;
        capturedModifiers = modifiers;
        capturedElement = hit;
        if (!hit)
            return;
        hit->MouseDown(layout, modifiers, clicks);
    }
    if (captureCallback)
        captureCallback(captureContext);
}

void Manager::ResizeDrag(const Point& point)
{
    const float dx = point.x - resizePressX;
    const int currentHeight = bridge ? bridge->GetWindowRect() : WindowHeight();
    const float dy = static_cast<float>(currentHeight) - point.y - resizePressFromTop;
    const float a = aspect > 0 && std::isfinite(aspect) ? aspect : 1.0f;
    float width, height;
    if (std::fabs(dx) > std::fabs(dy)) {
        width = std::min(static_cast<float>(resizePressWidth) + dx, static_cast<float>(kMaxResizeWidth));
        height = width / a;
        if (height > kMaxResizeHeight) {
            height = kMaxResizeHeight;
            width = a * kMaxResizeHeight;
        }
    } else {
        height = std::min(static_cast<float>(resizePressHeight) + dy, static_cast<float>(kMaxResizeHeight));
        width = a * height;
        if (width > kMaxResizeWidth) {
            width = kMaxResizeWidth;
            height = kMaxResizeWidth / a;
        }
    }
    // The lower limit keeps the aspect too, unless the upper one forbids it.
    if (width < kMinResizeWidth) {
        width = kMinResizeWidth;
        height = width / a;
    }
    if (height < kMinResizeHeight) {
        height = kMinResizeHeight;
        width = std::min(a * height, static_cast<float>(kMaxResizeWidth));
    }
    if (!std::isfinite(width) || !std::isfinite(height))
        return;
    const int newWidth = static_cast<int>(width), newHeight = static_cast<int>(height);
    if (bridge)
        bridge->SetWindowSize(newWidth, newHeight);
    SetWindowSize(newWidth, newHeight);
    SignalRenderEvent(kEventSizeChanged);
}

void Manager::MouseDrag(const Point& point, uint32_t modifiers)
{
    RequestRedraw();
    if (resizing) {
        ResizeDrag(point);
        return;
    }
    if (!capturedElement)
        return;
    const Point layout = LayoutPoint(point);
    // Pressing or releasing Shift, Ctrl or Alt mid-drag restarts the
    // gesture with the new mask, whatever the element.
    if (modifiers != capturedModifiers) {
        const uint32_t old = capturedModifiers;
        capturedModifiers = modifiers;
        capturedElement->MouseUp(layout, old);
        capturedElement->MouseDown(layout, modifiers, 1);
    }
    capturedElement->MouseDrag(layout, modifiers);
}

void Manager::MouseUp(const Point& point, uint32_t modifiers)
{
    RequestRedraw();
    if (resizing) {
        resizing = false;
        if (releaseCallback)
            releaseCallback(captureContext);
        return;
    }
    if (capturedElement) {
        if (releaseCallback)
            releaseCallback(captureContext);
        capturedElement->MouseUp(LayoutPoint(point), modifiers);
        const int32_t edited = editedParameter.exchange(-1, std::memory_order_relaxed);
        if (edited >= 0 && endEditCallback)
            endEditCallback(edited, editContext);
    }
    capturedElement = nullptr;
}

void Manager::MouseWheel(const Point& point, uint32_t modifiers, int notches)
{
    if (notches == 0 || resizing || capturedElement)
        return;
    UIElement* hit = root ? root->HitTest(LayoutPoint(point)) : nullptr;
    if (!hit)
        return;
    MouseDown(point, modifiers, 1);
    if (capturedElement != hit) {
        // The press went elsewhere (the resize corner): end what it began.
        MouseUp(point, modifiers);
        return;
    }
    Point moved = point;
    moved.y += static_cast<float>(notches) * 10.0f;
    MouseDrag(moved, modifiers);
    MouseUp(moved, modifiers);
}

void Manager::SetKeyFocus(UIElement* element)
{
    RequestRedraw();
    if (keyFocus && keyFocus != element)
        keyFocus->LoseFocus();
    keyFocus = element;
}

void Manager::BeginParameterEdit(int32_t index)
{
    const int32_t edited = editedParameter.load(std::memory_order_relaxed);
    if (index == edited)
        return;
    if (edited >= 0 && endEditCallback)
        endEditCallback(edited, editContext);
    editedParameter.store(index, std::memory_order_relaxed);
    if (beginEditCallback)
        beginEditCallback(index, editContext);
    InstanceRegistry::SetLearnTarget(plugin, index);
}

void Manager::EndParameterEdit(int32_t index)
{
    int32_t edited = index;
    if (index >= 0 && editedParameter.compare_exchange_strong(edited, -1, std::memory_order_relaxed) &&
        endEditCallback)
        endEditCallback(index, editContext);
}

Manager::OSCAddressTexts Manager::OSCAddressText()
{
    return BuildLearnTargetAddressTexts();
}

} // namespace QZ
