// Every shell entry's editor as a musician uses it: the module loaded by our
// host, the editor opened in a host window under Xvfb, X events sent to it,
// and what the host hears and what the window shows read back. Where the
// controls sit comes from the same scripts laid out in-process.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/ParameterInfo.h"
#include "gui/controls/Buttons.h"
#include "gui/controls/DropDowns.h"
#include "gui/controls/Knobs.h"
#include "gui/controls/TextFields.h"
#include "host/VstHost.h"
#include "tests/gui/HostWindow.h"
#include "tests/gui/Screenshot.h"
#include "tests/luagui/EditorLayout.h"
#include "tests/support/TestSupport.h"

namespace {

using corvane::host::HostCall;
using corvane::host::Module;
using corvane::host::Plugin;
using corvane::test::Editor;
using corvane::test::Entry;
using corvane::test::HostWindow;
using corvane::test::Image;
using corvane::test::WaitFor;
using QZ::UIElement;

constexpr float kSensitivity = 0.005f; // of the range per pixel, as the knobs drag

// A control of the in-process layout: its parameter and its centre in X's
// window coordinates (from the top-left).
struct Target {
    QZ::ParameterLabelRecord record;
    bool stepped = false;
    int x = 0, y = 0;
};

// The first element of class T in a visible group (or in the window), in
// tree order, that `wanted` accepts.
template <class T, class Wanted>
T* FirstOf(Editor& editor, Wanted wanted)
{
    std::vector<UIElement*> pending(editor.Root().Children().rbegin(), editor.Root().Children().rend());
    while (!pending.empty()) {
        UIElement* element = pending.back();
        pending.pop_back();
        if (!element->IsVisible())
            continue;
        if (auto* group = dynamic_cast<QZ::Group*>(element))
            pending.insert(pending.end(), group->Children().rbegin(), group->Children().rend());
        else if (auto* found = dynamic_cast<T*>(element); found && wanted(*found))
            return found;
    }
    return nullptr;
}

template <class T>
T* FirstOf(Editor& editor)
{
    return FirstOf<T>(editor, [](T&) { return true; });
}

Target TargetOf(Editor& editor, QZ::Control& control)
{
    const QZ::Box box = UIElement::AbsoluteBox(&control);
    Target target;
    target.record = control.Record();
    target.stepped = control.IsStepped();
    target.x = static_cast<int>((box.x0 + box.x1) / 2);
    target.y = editor.manager->WindowHeight() - static_cast<int>((box.y0 + box.y1) / 2);
    return target;
}

// The host's normalised value of a real value of parameter `index`, as the
// plug-in of the in-process layout computes it.
float Normalised(Editor& editor, int32_t index, float real)
{
    editor.plugin->SetParameterValue(index, real, false);
    return editor.plugin->getParameter(index);
}

// The normalised value a drag of dy pixels upwards from `start` leaves, as
// the knob computes it (a plain press on a 0..1 stepped knob flips it first).
float AfterDrag(const Target& t, float start, int dy)
{
    const QZ::ParameterLabelRecord& r = t.record;
    float press = start;
    if (t.stepped && r.minimum == 0 && r.maximum == 1)
        press = 1 - start;
    float n = std::clamp(press + static_cast<float>(dy) * kSensitivity, 0.0f, 1.0f);
    if (!t.stepped)
        return n;
    const float value = std::floor(r.minimum + (r.maximum - r.minimum) * n + 0.5f);
    return (std::clamp(value, r.minimum, r.maximum) - r.minimum) / (r.maximum - r.minimum);
}

// Lower case, runs of blanks as one.
std::string Plain(const std::string& text)
{
    std::string out;
    for (char c : text) {
        const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (std::isspace(static_cast<unsigned char>(lower))) {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += lower;
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// The fewest edits that turn `wanted` into some stretch of `text`.
size_t EditsToFind(const std::string& wanted, const std::string& text)
{
    std::vector<size_t> previous(text.size() + 1, 0), current(text.size() + 1);
    for (size_t i = 1; i <= wanted.size(); ++i) {
        current[0] = i;
        for (size_t j = 1; j <= text.size(); ++j)
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1,
                                   previous[j - 1] + (wanted[i - 1] == text[j - 1] ? 0 : 1)});
        std::swap(previous, current);
    }
    return *std::min_element(previous.begin(), previous.end());
}

// The entry's id as a test or file name.
std::string Name(const Entry& entry)
{
    std::string name = entry.id;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

class EveryEditorInput : public ::testing::TestWithParam<Entry> {
protected:
    void SetUp() override
    {
        if (!corvane::test::HaveDisplay())
            GTEST_SKIP() << "no X server (DISPLAY unset)";
        std::string error;
        module = Module::Load(corvane::test::ModulePath(), &error);
        ASSERT_TRUE(module) << error;
    }
    // Sends what was queued and lets the editor read it (it does so in
    // effEditIdle, on this thread).
    void Deliver()
    {
        XSync(host->Connection(), False);
        plugin->Dispatch(effEditIdle);
    }
    Time NextTime()
    {
        time += 1000; // far apart: no two presses make a double click
        return time;
    }
    void Drag(int x, int y, int dy)
    {
        host->SendMotion(child, x, y, 0);
        host->SendButton(child, true, 1, x, y, 0, NextTime());
        Deliver();
        for (int i = 1; i <= 4; ++i) {
            host->SendMotion(child, x, y - dy * i / 4, Button1Mask);
            Deliver();
        }
        host->SendButton(child, false, 1, x, y - dy, 0, NextTime());
        Deliver();
    }
    // Idles the editor until what was sent has had its effect: the server
    // may hand events to the editor's connection a little after XSync
    // returns here, and the editor reads them only when idled.
    template <class Done>
    bool Settle(Done done)
    {
        return WaitFor([&] {
            Deliver();
            return done();
        });
    }
    void Click(int x, int y)
    {
        host->SendMotion(child, x, y, 0);
        host->SendButton(child, true, 1, x, y, 0, NextTime());
        host->SendButton(child, false, 1, x, y, 0, NextTime());
        Deliver();
    }
    int Count(int32_t opcode, int32_t index)
    {
        int n = 0;
        for (const HostCall& call : plugin->CallsOf(opcode))
            n += call.index == index;
        return n;
    }

    corvane::test::ScopedUserFolders folders;
    // Destroyed in reverse: the window, the plug-in, then the module.
    std::unique_ptr<Module> module;
    std::unique_ptr<Plugin> plugin;
    std::unique_ptr<HostWindow> host;
    Window child = 0;
    Time time = 1000;
};

TEST_P(EveryEditorInput, ControlsReachTheHostTheReadoutShowsAndPrefsOpens)
{
    const Entry& entry = GetParam();
    Editor layout(entry.id);
    ASSERT_TRUE(layout.plugin);
    QZ::Knob* firstKnob = FirstOf<QZ::Knob>(layout);
    ASSERT_TRUE(firstKnob) << entry.id << " has no knob";
    const Target knob = TargetOf(layout, *firstKnob);

    plugin = Plugin::Create(*module, corvane::test::Code(entry.id));
    ASSERT_TRUE(plugin);
    plugin->Start(48000, 256);
    host = std::make_unique<HostWindow>(entry.width, entry.height, 0x00FF00);
    ASSERT_EQ(plugin->Dispatch(effEditOpen, 0, 0, host->Handle()), 1);
    child = host->Child();
    ASSERT_NE(child, 0u);
    Image image;
    const auto capture = [&] { return corvane::test::Capture(host->Connection(), child, image); };
    // Drawn: the host's green is gone from the corner.
    ASSERT_TRUE(WaitFor([&] {
        plugin->Dispatch(effEditIdle);
        return capture() && image.At(2, 2)[1] < 200;
    }));

    // Upwards unless that would end at the top already.
    const int32_t index = knob.record.index;
    const float before = plugin->GetParameter(index);
    const int dy = before < 0.75f ? 40 : -40;
    const float expected = AfterDrag(knob, before, dy);
    plugin->ClearCalls();
    Drag(knob.x, knob.y, dy);
    EXPECT_TRUE(Settle([&] { return Count(audioMasterEndEdit, index) > 0; })) << knob.record.name;
    EXPECT_EQ(Count(audioMasterBeginEdit, index), 1) << knob.record.name;
    EXPECT_EQ(Count(audioMasterEndEdit, index), 1) << knob.record.name;
    EXPECT_GE(Count(audioMasterAutomate, index), 1) << knob.record.name;
    EXPECT_NEAR(plugin->GetParameter(index), expected, 1e-3f) << knob.record.name << " from " << before;

    // Hovering it shows "name value unit" in the banner's readout.
    if (!corvane::test::HaveTextReader())
        GTEST_SKIP() << "tesseract is not installed (scripts/setup.sh installs it)";
    // Away to the panel's empty corner first, so that the knob is entered
    // afresh.
    host->SendMotion(child, 2, entry.height - 2, 0);
    host->SendMotion(child, knob.x, knob.y, 0);
    Deliver();
    const std::string wanted = Plain(std::string(knob.record.name) + " " + plugin->ParameterDisplay(index) + " " +
                                     plugin->ParameterLabel(index));
    std::string read;
    const int bannerRight = entry.width - 34 - 20 - 5 - 10; // left of the Prefs button
    EXPECT_TRUE(WaitFor([&] {
        plugin->Dispatch(effEditIdle);
        if (!capture())
            return false;
        read = Plain(corvane::test::ReadText(image, 10, 4, bannerRight, 32));
        return EditsToFind(wanted, read) <= std::max<size_t>(2, wanted.size() / 8);
    })) << "wanted \"" << wanted << "\", read \"" << read << "\"";
    corvane::test::WritePng(image, corvane::test::ScreenshotDir() + "/hover_" + Name(entry) + ".png");

    // The first parameter button flips its parameter.
    if (QZ::CorvButton* button = FirstOf<QZ::CorvButton>(layout)) {
        const Target t = TargetOf(layout, *button);
        const float was = plugin->GetParameter(t.record.index);
        plugin->ClearCalls();
        Click(t.x, t.y);
        const float flipped = was == 0 ? 1.0f : 0.0f;
        EXPECT_TRUE(Settle([&] { return plugin->GetParameter(t.record.index) == flipped; }))
            << t.record.name << " stays " << plugin->GetParameter(t.record.index);
        EXPECT_EQ(Count(audioMasterBeginEdit, t.record.index), 1) << t.record.name;
    }

    // The first parameter's text field takes typed digits and Enter: the
    // middle of the range (a whole number where the range is wider than 2).
    if (QZ::TextField* field = FirstOf<QZ::TextField>(layout)) {
        const Target t = TargetOf(layout, *field);
        const float low = t.record.minimum, high = t.record.maximum;
        float middle = high - low > 2 ? std::round((low + high) / 2) : (low + high) / 2;
        // A value it does not hold already, so that typing must change it.
        if (std::fabs(plugin->GetParameter(t.record.index) - Normalised(layout, t.record.index, middle)) < 1e-3f)
            middle = high - low > 2 ? std::round(low + (high - low) / 4) : low + (high - low) / 4;
        char typed[32];
        snprintf(typed, sizeof typed, high - low > 2 ? "%.0f" : "%.2f", middle);
        Click(t.x, t.y);
        for (const char* c = typed; *c; ++c)
            host->SendKey(child, *c == '.' ? XK_period : *c == '-' ? XK_minus : XK_0 + (*c - '0'), 0);
        host->SendKey(child, XK_Return, 0);
        const float wanted = Normalised(layout, t.record.index, middle);
        EXPECT_TRUE(Settle([&] { return std::fabs(plugin->GetParameter(t.record.index) - wanted) < 1e-3f; }))
            << t.record.name << " typed " << typed << ": " << plugin->GetParameter(t.record.index) << ", not "
            << wanted;
    }

    // The first drop-down with a choice opens over its field with the
    // current item under the pointer, tracks the pointer to the next item
    // (or the one before the last) and selects it on release.
    if (QZ::DropDown* drop = FirstOf<QZ::DropDown>(layout, [](QZ::DropDown& d) { return d.Items().size() > 1; })) {
        const Target t = TargetOf(layout, *drop);
        const QZ::Box box = UIElement::AbsoluteBox(drop);
        const int count = static_cast<int>(drop->Items().size());
        const int current = drop->CurrentItem();
        const int chosen = current + 1 < count ? current + 1 : current - 1;
        const QZ::DropDownList list =
            QZ::PlaceDropDownList(box.x0, box.y0, box.x1, box.y1, count, current, static_cast<float>(entry.height));
        const float chosenY = list.bottom + list.height - (static_cast<float>(chosen) + 0.5f) * list.itemHeight;
        const int y = entry.height - static_cast<int>(chosenY);
        ASSERT_TRUE(capture());
        const Image closed = image;
        host->SendMotion(child, t.x, t.y, 0);
        host->SendButton(child, true, 1, t.x, t.y, 0, NextTime());
        Deliver();
        const int top = entry.height - static_cast<int>(list.bottom + list.height);
        const int bottom = entry.height - static_cast<int>(list.bottom);
        EXPECT_TRUE(WaitFor([&] {
            plugin->Dispatch(effEditIdle);
            return capture() && corvane::test::DifferingPixels(closed, image, static_cast<int>(box.x0), top,
                                                               static_cast<int>(box.x1), bottom) > 20;
        })) << "no list for " << t.record.name;
        host->SendMotion(child, t.x, y, Button1Mask);
        Deliver();
        host->SendButton(child, false, 1, t.x, y, 0, NextTime());
        Deliver();
        const float wanted = Normalised(layout, t.record.index, t.record.minimum + static_cast<float>(chosen));
        EXPECT_TRUE(Settle([&] { return std::fabs(plugin->GetParameter(t.record.index) - wanted) < 1e-4f; }))
            << t.record.name << ": item " << chosen << " of " << count << " gives "
            << plugin->GetParameter(t.record.index) << ", not " << wanted;
        host->SendMotion(child, 2, entry.height - 2, 0);
        Deliver();
    }

    // "Prefs" (at the top right) opens the About and Preferences panel over
    // the controls.
    ASSERT_TRUE(capture());
    const Image hovered = image;
    const int prefsX = entry.width - 5 - (34 + 20) / 2, prefsY = 17;
    host->SendMotion(child, prefsX, prefsY, 0);
    host->SendButton(child, true, 1, prefsX, prefsY, 0, NextTime());
    host->SendButton(child, false, 1, prefsX, prefsY, 0, NextTime());
    Deliver();
    const int w = entry.width, h = entry.height;
    EXPECT_TRUE(WaitFor([&] {
        plugin->Dispatch(effEditIdle);
        return capture() && corvane::test::DifferingPixels(hovered, image, w / 4, h / 4, w * 3 / 4, h * 3 / 4) >
                                w * h / 8;
    })) << "no panel over the controls";
    corvane::test::WritePng(image, corvane::test::ScreenshotDir() + "/prefs_" + Name(entry) + ".png");

    plugin->Dispatch(effEditClose);
    EXPECT_TRUE(host->Children().empty());
    EXPECT_EQ(plugin->Close(), 1);
}

INSTANTIATE_TEST_SUITE_P(Entries, EveryEditorInput, ::testing::ValuesIn(corvane::test::Entries()),
                         [](const ::testing::TestParamInfo<Entry>& info) { return Name(info.param); });

} // namespace
