#include "gui/displays/StepEditor.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>

#include "framework/IndicatorBlock.h"
#include "framework/ObryAuBase.h"
#include "gui/editor/CarbonVSTEditor.h"

namespace QZ {

namespace se = stepeditor;

namespace {

const char* const kSettingNames[se::kSettingCount] = {"Offset",      "Multiplier",      "Asymmetry",
                                                      "Range Mode",  "Length Mode",     "Start Step",
                                                      "Length In Steps", "End Step",    "Interpolation"};

// Every step parameter is named "Step <n> <channel>".
struct StepNames {
    StepNames() { std::fill(std::begin(names), std::end(names), "Step "); }
    const char* names[se::kStepCount];
};

} // namespace

// Creation

StepEditor* StepEditor::Create(Manager& manager, int32_t id, float x, float y, float w, float h, std::string& error)
{
    if (id < 0 || id > 1) {
        error = "stepEditor id out of range";
        return nullptr;
    }
    static const StepNames stepNames;
    BoundParameters settings, steps;
    if (!settings.Bind(manager, kFirstSetting + kSettingStride * id, se::kSettingCount, kSettingNames) ||
        !steps.Bind(manager, kFirstStep + se::kStepCount * id, se::kStepCount, stepNames.names)) {
        error = "stepEditor: the plug-in has no step sequence";
        return nullptr;
    }
    return new StepEditor(&manager, id, std::move(settings), std::move(steps), x, y, w, h);
}

StepEditor::StepEditor(Manager* manager, int32_t channel, BoundParameters settingsIn, BoundParameters stepsIn, float x,
                       float y, float w, float h)
    : ControlBase(manager), channel(channel), settings(std::move(settingsIn)), steps(std::move(stepsIn))
{
    rect = Box{x, y, 0, x + w, y + h, 0};
    // Made before the render thread starts: the first reads happen here.
    settings.Read();
    steps.Read();
    for (int32_t i = 0; i < se::kSettingCount; ++i)
        kept[static_cast<size_t>(i)].store(settings.Values()[i], std::memory_order_relaxed);
    for (int32_t i = 0; i < se::kStepCount; ++i)
        kept[static_cast<size_t>(se::kSettingCount + i)].store(steps.Values()[i], std::memory_order_relaxed);
    packedView.store(Pack(se::ViewOf(settings.Values())), std::memory_order_relaxed);
    for (int32_t k = 0; k < se::kStepCount; ++k)
        receivers[static_cast<size_t>(k)] = new RegionReceiver(manager, this, k);
}

uint32_t StepEditor::Pack(const se::StepView& view)
{
    return static_cast<uint32_t>(view.first) | static_cast<uint32_t>(view.count) << 8 |
           (view.bipolar ? 1u << 16 : 0u) | (view.interpolate ? 1u << 17 : 0u);
}

se::StepView StepEditor::Unpack(uint32_t packed)
{
    se::StepView view;
    view.first = static_cast<int32_t>(packed & 0xFF);
    view.count = static_cast<int32_t>(packed >> 8 & 0xFF);
    view.bipolar = (packed >> 16 & 1) != 0;
    view.interpolate = (packed >> 17 & 1) != 0;
    return view;
}

se::StepView StepEditor::View() const
{
    return Unpack(packedView.load(std::memory_order_acquire));
}

// Render thread

void StepEditor::Update()
{
    const bool settingsChanged = settings.Read();
    const bool stepsChanged = steps.Read();
    if (!settingsChanged && !stepsChanged)
        return;
    for (int32_t i = 0; i < se::kSettingCount; ++i)
        kept[static_cast<size_t>(i)].store(settings.Values()[i], std::memory_order_relaxed);
    for (int32_t i = 0; i < se::kStepCount; ++i)
        kept[static_cast<size_t>(se::kSettingCount + i)].store(steps.Values()[i], std::memory_order_relaxed);
    packedView.store(Pack(se::ViewOf(settings.Values())), std::memory_order_release);
    dirty.store(true, std::memory_order_release);
}

void StepEditor::Rebuild()
{
    float settingValues[se::kSettingCount], stepValues[se::kStepCount];
    for (int32_t i = 0; i < se::kSettingCount; ++i)
        settingValues[i] = kept[static_cast<size_t>(i)].load(std::memory_order_relaxed);
    for (int32_t i = 0; i < se::kStepCount; ++i)
        stepValues[i] = kept[static_cast<size_t>(se::kSettingCount + i)].load(std::memory_order_relaxed);
    se::BuildStepGeometry(stepValues, settingValues, rect.x1 - rect.x0, geometry);
    drawnView = se::ViewOf(settingValues);
}

void StepEditor::Draw()
{
    if (!IsVisible())
        return;
    if (dirty.exchange(false, std::memory_order_acquire))
        Rebuild();
    const float width = rect.x1 - rect.x0;
    const float top = rect.y1 - kMarkerHeight; // the values end below the marker strip

    Colour back = background.Get();
    back.a = 1.0f;
    draw::SetColour(back);
    draw::FillBox(rect.x0, rect.y0, rect.x1, rect.y1);

    const uint8_t* block = manager ? manager->IndicatorBlock() : nullptr;
    float left = 0, right = 0;
    if (block &&
        se::MarkerSpan(ReadIndicator<float>(block, kStepPositionElement + channel), drawnView, width, left, right)) {
        draw::SetColour(line.Get());
        draw::FillBox(rect.x0 + left, top, rect.x0 + right, rect.y1);
    }

    const bool bipolar = drawnView.bipolar;
    draw::ValueSpace space(rect.x0, bipolar ? (rect.y0 + top) * 0.5f : rect.y0, 1.0f,
                           bipolar ? (top - rect.y0) * 0.5f : top - rect.y0);
    glEnableClientState(GL_VERTEX_ARRAY);
    draw::SetColour(fill.Get());
    glVertexPointer(2, GL_FLOAT, sizeof(Point), geometry.bars.data());
    glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(geometry.bars.size()));
    glDisableClientState(GL_VERTEX_ARRAY);
    glInterleavedArrays(GL_C4UB_V2F, 0, geometry.grid.data());
    glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(geometry.grid.size()));
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);

    draw::SetColour(line.Get());
    if (drawnView.interpolate) {
        draw::SmoothLines smooth;
        draw::LineStrip(geometry.curve);
    } else {
        draw::LineStrip(geometry.curve);
    }
}

// UI thread

void StepEditor::SetStep(int32_t step, float value)
{
    const ParameterLabelRecord& record = steps.Record(step);
    if (!std::isfinite(value))
        value = record.defaultValue;
    value = std::clamp(value, std::min(record.minimum, record.maximum), std::max(record.minimum, record.maximum));
    kept[static_cast<size_t>(se::kSettingCount + step)].store(value, std::memory_order_relaxed);
    if (record.plugin)
        record.plugin->SetParameterValue(record.index, value, true);
}

void StepEditor::MouseDown(const Point& point, uint32_t modifiers, int)
{
    const se::StepPick pick = se::PickStep(point, AbsoluteBox(this), View());
    pressPoint = point;
    anchorStep = lastStep = pick.step;
    pressValue = kept[static_cast<size_t>(se::kSettingCount + pick.step)].load(std::memory_order_relaxed);
    MouseDrag(point, modifiers);
}

void StepEditor::MouseDrag(const Point& point, uint32_t modifiers)
{
    const se::StepView view = View();
    const se::StepPick pick = se::PickStep(point, AbsoluteBox(this), view);
    const int32_t step = (modifiers & CarbonVSTEditor::kModifierControl) ? anchorStep : pick.step;
    const float value = (modifiers & CarbonVSTEditor::kModifierShift)
                            ? se::FineValue(pressValue, pressPoint.y, point.y, view)
                            : pick.value;
    // The gesture is open before the host hears of the first value.
    if (manager)
        manager->BeginParameterEdit(StepParameter(step));
    const se::StepSpan span = se::DragSpan(lastStep, step);
    for (int32_t s = span.from; s <= span.to; ++s)
        SetStep(s, (modifiers & CarbonVSTEditor::kModifierAlt) ? steps.Record(s).defaultValue : value);
    lastStep = step;
    dirty.store(true, std::memory_order_release);
}

UIElement* StepEditor::HitTest(const Point& point)
{
    if (!rect.Contains(point))
        return nullptr;
    return Receiver(se::PickStep(point, rect, View()).step);
}

void StepEditor::SetVisible(bool visible)
{
    ControlBase::SetVisible(visible);
    // Group::AddChild gives the editor its parent and then calls this: the
    // receivers take the same parent so that its offsets apply to them. They
    // are written only while the tree is built, before the render thread
    // reads them.
    for (RegionReceiver* receiver : receivers)
        if (receiver->Parent() != Parent())
            receiver->SetParent(Parent());
}

// RegionReceiver

StepEditor::RegionReceiver::RegionReceiver(Manager* manager, StepEditor* editor, int32_t step)
    : UIElement(manager), editor(editor), step(step)
{
}

void StepEditor::RegionReceiver::AddToBounds(Box& box)
{
    const Box& area = editor->Rectangle();
    float left = 0, right = 0;
    if (!se::ColumnOf(step, editor->View(), area.x1 - area.x0, left, right))
        return;
    box.x0 = std::min(box.x0, area.x0 + left);
    box.x1 = std::max(box.x1, area.x0 + right);
    box.y0 = std::min(box.y0, area.y0);
    box.y1 = std::max(box.y1, area.y1);
    box.z0 = std::min(box.z0, area.z0);
    box.z1 = std::max(box.z1, area.z1);
}

void StepEditor::RegionReceiver::MouseDown(const Point& point, uint32_t modifiers, int clicks)
{
    editor->MouseDown(point, modifiers, clicks);
}

void StepEditor::RegionReceiver::MouseDrag(const Point& point, uint32_t modifiers)
{
    editor->MouseDrag(point, modifiers);
}

void StepEditor::RegionReceiver::MouseEnter()
{
    if (!manager)
        return;
    manager->SetHoveredParameter(editor->StepParameter(step));
    manager->SetTooltipElement(editor);
}

void StepEditor::RegionReceiver::MouseLeave()
{
    if (manager && manager->HoveredParameter() == editor->StepParameter(step))
        manager->SetHoveredParameter(-1);
}

} // namespace QZ
