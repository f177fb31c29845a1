// Every shell entry's editor as its built-in scripts lay it out: the plug-in
// made by the module's factory, its scripts run into a real manager (the
// element tree needs no window), and the result checked for script errors,
// its size, parameters no control reaches, and groups or widgets that
// overlap or leave the window, also after every panel button.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "framework/vst/VstAbi.h"
#include "gui/displays/StepEditor.h"
#include "gui/luagui/PluginLuaGui.h"
#include "gui/controls/Buttons.h"
#include "gui/controls/DropDowns.h"
#include "gui/controls/TextFields.h"
#include "gui/toolkit/Fonts.h"
#include "gui/toolkit/QJmanager.h"
#include "module/PluginFactory.h"
#include "platform/Preferences.h"
#include "platform/UserFolders.h"
#include "plugins/base/ObryCorvaneBase.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/luagui/EditorLayout.h"
#include "tests/support/TestSupport.h"

namespace {

using QZ::Box;
using QZ::Group;
using QZ::NamedGroup;
using QZ::UIElement;
using corvane::test::Editor;
using corvane::test::Entries;
using corvane::test::Entry;

// The panel button (a Lua button) labelled `text`.
QZ::BrelStatefulButton* ButtonWithText(Editor& editor, const std::string& text)
{
    std::vector<UIElement*> leaves;
    Editor::Leaves(editor.Root(), leaves);
    for (UIElement* element : leaves)
        if (auto* button = dynamic_cast<QZ::BrelStatefulButton*>(element))
            if (button->Label() == text)
                return button;
    return nullptr;
}

bool Overlap(const Box& a, const Box& b)
{
    return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

std::string Describe(const Box& box)
{
    char text[96];
    snprintf(text, sizeof text, "(%.0f,%.0f)-(%.0f,%.0f)", box.x0, box.y0, box.x1, box.y1);
    return text;
}

std::string NameOf(UIElement* element)
{
    if (auto* group = dynamic_cast<NamedGroup*>(element))
        return "group \"" + group->Name() + "\"";
    if (auto* button = dynamic_cast<QZ::Button*>(element))
        return "button \"" + button->Label() + "\"";
    if (auto* control = dynamic_cast<QZ::Control*>(element))
        return std::string("control of \"") + control->Record().name + "\"";
    return "display";
}

// The widest text a value field shows: at both ends of its range, at its
// current value and, for a parameter with named values, every name.
float WidestValue(Editor& editor, QZ::TextField& field)
{
    const int32_t index = field.Record().index;
    const ParameterInfo* info = editor.plugin->GetParameterInfo(index);
    const float saved = editor.plugin->getParameter(index), steps = info->max - info->min;
    std::vector<float> values{0, 1, saved};
    for (float i = 1; info->unit == kAudioUnitParameterUnit_Indexed && i < steps && steps <= 256; ++i)
        values.push_back(i / steps);
    float widest = 0;
    for (float value : values) {
        editor.plugin->setParameter(index, value);
        char text[64] = {};
        editor.plugin->getParameterDisplay(index, text);
        if (!field.Format().empty() && !isalpha(static_cast<unsigned char>(text[0])))
            snprintf(text, sizeof text, field.Format().c_str(), static_cast<double>(editor.plugin->GetParameterReal(index)));
        widest = std::max(widest, QZ::MeasureText(*editor.manager->TextFieldFont(), text));
    }
    editor.plugin->setParameter(index, saved);
    return widest;
}

// What a person reads must be whole: no two labels or captions of a group
// alike (a button "Pitch" beside a knob labelled "Pitch" says nothing of
// which is which), every button's caption inside the button, every value
// inside its field. Loose buttons may share a caption (the Learner's three
// "Copy" buttons each have their tooltip).
void ExpectWholeTexts(Editor& editor, const std::vector<UIElement*>& elements, const std::string& context,
                      bool inGroup)
{
    std::set<std::string> texts;
    for (UIElement* element : elements) {
        const float width = UIElement::AbsoluteBox(element).x1 - UIElement::AbsoluteBox(element).x0;
        std::string caption;
        if (auto* label = dynamic_cast<QZ::Label*>(element))
            EXPECT_TRUE(texts.insert(label->Text()).second) << context << ": \"" << label->Text() << "\" twice";
        else if (auto* button = dynamic_cast<QZ::Button*>(element))
            caption = button->Label();
        else if (auto* button = dynamic_cast<QZ::CorvButton*>(element))
            caption = button->Label();
        else if (auto* field = dynamic_cast<QZ::TextField*>(element))
            EXPECT_LE(WidestValue(editor, *field) + 1, width) << context << ": a value of " << NameOf(element);
        else if (auto* list = dynamic_cast<QZ::DropDown*>(element))
            for (const std::string& item : list->Items())
                EXPECT_LE(QZ::MeasureText(*editor.manager->TextFieldFont(), item), width) << context << ": " << item;
        EXPECT_LE(QZ::MeasureText(*editor.manager->MainFont(), caption), width) << context << ": \"" << caption << "\"";
        if (inGroup && !caption.empty())
            EXPECT_TRUE(texts.insert(caption).second) << context << ": \"" << caption << "\" twice";
    }
}

// What the person looking at the editor sees must not collide: the visible
// groups and the loose widgets stay inside the window below the banner and
// apart from each other, and inside each visible group no two widgets
// overlap (a label under a field touches it at most).
void ExpectTidyLayout(Editor& editor, const std::string& context)
{
    const float width = static_cast<float>(editor.manager->WindowWidth());
    const float height = static_cast<float>(editor.manager->WindowHeight());
    std::vector<std::pair<UIElement*, Box>> top;
    for (UIElement* child : editor.Root().Children())
        if (child->IsVisible())
            top.emplace_back(child, UIElement::AbsoluteBox(child));
    std::vector<UIElement*> loose;
    for (const auto& [element, box] : top)
        if (!dynamic_cast<NamedGroup*>(element))
            loose.push_back(element);
    ExpectWholeTexts(editor, loose, context, false);
    for (size_t i = 0; i < top.size(); ++i) {
        const Box& box = top[i].second;
        const auto* button = dynamic_cast<QZ::Button*>(top[i].first);
        const bool isPrefs = button && button->HoverId() == -2;
        EXPECT_TRUE(box.x0 >= 0 && box.y0 >= 0 && box.x1 <= width && box.y1 <= (isPrefs ? height : height - 30))
            << context << ": " << NameOf(top[i].first) << " " << Describe(box) << " leaves the window";
        for (size_t j = i + 1; j < top.size(); ++j)
            EXPECT_FALSE(Overlap(box, top[j].second))
                << context << ": " << NameOf(top[i].first) << " " << Describe(box) << " overlaps "
                << NameOf(top[j].first) << " " << Describe(top[j].second);
    }
    for (NamedGroup* group : editor.Groups()) {
        if (!group->IsVisible())
            continue;
        std::vector<UIElement*> leaves;
        Editor::Leaves(*group, leaves);
        ExpectWholeTexts(editor, leaves, context + " in \"" + group->Name() + "\"", true);
        for (size_t i = 0; i < leaves.size(); ++i)
            for (size_t j = i + 1; j < leaves.size(); ++j) {
                const Box a = UIElement::AbsoluteBox(leaves[i]);
                const Box b = UIElement::AbsoluteBox(leaves[j]);
                EXPECT_FALSE(Overlap(a, b)) << context << " in \"" << group->Name() << "\": " << NameOf(leaves[i])
                                            << " " << Describe(a) << " overlaps " << NameOf(leaves[j]) << " "
                                            << Describe(b);
            }
    }
}

class EveryEditor : public ::testing::TestWithParam<Entry> {
protected:
    corvane::test::ScopedUserFolders folders;
};

TEST_P(EveryEditor, BuildsWithoutErrorsReachesItsParametersAndFitsItsWindow)
{
    const Entry& entry = GetParam();
    Editor editor(entry.id);
    ASSERT_TRUE(editor.plugin);
    EXPECT_TRUE(editor.gui->Errors().empty()) << editor.gui->LastError();
    EXPECT_EQ(editor.manager->WindowWidth(), entry.width);
    EXPECT_EQ(editor.manager->WindowHeight(), entry.height);

    // Every parameter has a control (the step editor's steps count through
    // it), or is a deliberate exception; the OSC group holds the port.
    std::set<int32_t> reached;
    std::vector<UIElement*> leaves;
    Editor::Leaves(editor.Root(), leaves);
    for (UIElement* element : leaves) {
        if (auto* control = dynamic_cast<QZ::Control*>(element))
            reached.insert(control->Record().index);
        if (auto* steps = dynamic_cast<QZ::StepEditor*>(element))
            for (int32_t s = 0; s < 96; ++s)
                reached.insert(steps->StepParameter(s));
    }
    for (int32_t i = 0; i < editor.plugin->getNumParams(); ++i) {
        const std::string name = editor.plugin->GetParameterInfo(i)->name;
        EXPECT_TRUE(reached.count(i) || entry.unreached.count(name)) << entry.id << ": no control for \"" << name << "\"";
    }
    ASSERT_TRUE(editor.GroupNamed("OSC"));
    EXPECT_EQ(editor.GroupNamed("OSC")->IsVisible(), std::string(entry.id) == "QZsk");

    ExpectTidyLayout(editor, entry.id);
}

INSTANTIATE_TEST_SUITE_P(Entries, EveryEditor, ::testing::ValuesIn(Entries()),
                         [](const ::testing::TestParamInfo<Entry>& info) {
                             std::string name = info.param.id;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

// Labels and widths of single controls: the label under a parameter's
// field or drop-down (or, without a parameter, a label anywhere in the
// editor: the output matrix's column titles), and the control's width.
struct LabelCase {
    const char* id;
    const char* parameter;
    const char* label;
    float width;
};

void PrintTo(const LabelCase& c, std::ostream* out)
{
    *out << c.id << " " << c.parameter << " " << c.label;
}

class Labels : public ::testing::TestWithParam<LabelCase> {
protected:
    corvane::test::ScopedUserFolders folders;
};

TEST_P(Labels, NameTheirControls)
{
    const LabelCase& c = GetParam();
    Editor editor(c.id);
    ASSERT_TRUE(editor.plugin);
    std::vector<UIElement*> leaves;
    Editor::Leaves(editor.Root(), leaves);
    Box control{};
    for (UIElement* element : leaves)
        if (auto* field = dynamic_cast<QZ::Control*>(element); field && field->Record().name == std::string(c.parameter) &&
                                                                (dynamic_cast<QZ::TextField*>(element) ||
                                                                 dynamic_cast<QZ::DropDown*>(element)))
            control = UIElement::AbsoluteBox(element);
    if (*c.parameter)
        EXPECT_EQ(control.x1 - control.x0, c.width) << c.parameter;
    int found = 0;
    for (UIElement* element : leaves) {
        auto* label = dynamic_cast<QZ::Label*>(element);
        const Box box = label ? UIElement::AbsoluteBox(label) : Box{};
        const bool under = std::abs(box.y1 - (control.y0 - 3)) < 1 &&
                           std::abs((box.x0 + box.x1) / 2 - (control.x0 + control.x1) / 2) <= 1;
        found += label && label->Text() == c.label && (!*c.parameter || under) ? 1 : 0;
    }
    EXPECT_GE(found, 1) << "no label \"" << c.label << "\" for " << c.parameter;
}

const LabelCase kLabels[] = {
    {"QZse", "Run High", "Run High", 57},         {"QZse", "Clock Output", "Clock Out", 57},
    {"QZs6", "Length Mode L", "Length Mode", 72}, {"QZs2", "Triangle R", "Triangle", 37},
    {"QZs8", "Smoothing R", "Smoothing", 37},     {"QZsi", "Offset 2", "Offset 2", 40},
    {"QZsc", "Ch 2 Gate Output", "Gate", 57},     {"QZs1", "", "Offset", 0},
    {"QZs1", "", "Pitch", 0},                     {"QZs2", "Smoothing L", "Smoothing", 37},
    {"QZsn", "Output Offset R", "Output Offset", 37}, {"QZs1", "", "Env 3 Time R1", 0},
};

INSTANTIATE_TEST_SUITE_P(Controls, Labels, ::testing::ValuesIn(kLabels));

// The panel buttons show their groups and hide the others; each state is
// laid out tidily too.
struct PanelCase {
    const char* id;
    const char* button;
    std::vector<std::string> shown;
    std::vector<std::string> hidden;
};

void PrintTo(const PanelCase& c, std::ostream* out)
{
    *out << c.id << " " << c.button;
}

class PanelButtons : public ::testing::TestWithParam<PanelCase> {
protected:
    corvane::test::ScopedUserFolders folders;
};

TEST_P(PanelButtons, ShowTheirGroupsAndHideTheOthers)
{
    const PanelCase& c = GetParam();
    Editor editor(c.id);
    ASSERT_TRUE(editor.plugin);
    QZ::BrelStatefulButton* button = ButtonWithText(editor, c.button);
    ASSERT_TRUE(button) << c.button;
    const auto expect = [&](const std::vector<std::string>& names, bool visible, const char* when) {
        for (const std::string& name : names) {
            NamedGroup* group = editor.GroupNamed(name);
            ASSERT_TRUE(group) << name;
            EXPECT_EQ(group->IsVisible(), visible) << c.button << " " << when << ": " << name;
        }
    };
    button->MouseDown(QZ::Point{}, 0, 1); // the Lua button acts on press
    expect(c.shown, true, "pressed");
    expect(c.hidden, false, "pressed");
    ExpectTidyLayout(editor, std::string(c.id) + " after " + c.button);
    EXPECT_TRUE(editor.gui->Errors().empty()) << editor.gui->LastError();
    // A toggle pressed again brings the first state back (push buttons
    // keep no state).
    if (!button->State())
        return;
    button->MouseDown(QZ::Point{}, 0, 1); // the Lua button acts on press
    expect(c.shown, false, "released");
    expect(c.hidden, true, "released");
}

const PanelCase kPanels[] = {
    {"QZs4", "", {"Tessel"}, {"Left Channel", "Right Channel"}},
    {"QZsd", "Triggers", {"Triggers", "Accents"}, {"MIDI/CV 1", "MIDI/CV 2", "Outputs", "Gates", "MIDI Out"}},
    {"QZsh", "Triggers", {"Triggers", "Accents"}, {"Outputs", "Gates", "MIDI Out", "Inputs", "Input To Gates"}},
    {"QZs1", "Outputs", {"Output Matrix", "Modes", "Detune"}, {"Simple Env Controls", "Env Misc", "Portamento"}},
    {"QZs1", "H/W", {"Brink", "Calibration"}, {"Output Matrix", "Env 1", "Trigger"}},
    {"QZs1", "Env 2", {"Env 2", "Env Misc", "Trigger", "Portamento"}, {"Env 1", "Simple Env Controls", "Brink"}},
    {"QZs1", "Simple", {"Simple Env Controls", "Env Misc", "Voltages"}, {"Env 3", "Output Matrix", "Calibration"}},
};

INSTANTIATE_TEST_SUITE_P(Panels, PanelButtons, ::testing::ValuesIn(kPanels));

} // namespace
