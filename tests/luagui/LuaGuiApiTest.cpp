// The editor scripts' API as a skin meets it: a skin folder's scripts run
// before the built-in ones, are held to the time and memory limits and the
// sandbox, and whatever they do wrong ends as an error text in an editor
// that still opens, never as a crashed host.
#include <gtest/gtest.h>

#include <lua.hpp>

#include <memory>
#include <string>
#include <unistd.h>

#include "framework/vst/VstAbi.h"
#include "gui/controls/Knobs.h"
#include "gui/editor/ObryCorvaneView.h"
#include "gui/luagui/PluginLuaGui.h"
#include "gui/controls/Buttons.h"
#include "gui/controls/DropDowns.h"
#include "gui/controls/Sliders.h"
#include "gui/controls/TextFields.h"
#include "gui/toolkit/QJmanager.h"
#include "platform/Preferences.h"
#include "platform/UserFolders.h"
#include "plugins/dc/ObryCorvaneDC.h"
#include "scripting/LuaSandbox.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

namespace {

using corvane::test::InProcessPlugin;

class Skin : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(corvane::WriteSkinPref("Test")); }

    // Writes a file into the skin's resource folder.
    void Write(const std::string& name, const std::string& text)
    {
        const std::string folder = corvane::GetSkinsFolder("Corvane") + "/Test.bundle/Contents/Resources";
        ASSERT_EQ(system(("mkdir -p '" + folder + "'").c_str()), 0);
        FILE* file = fopen((folder + "/" + name).c_str(), "wb");
        ASSERT_TRUE(file);
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }

    // Builds the DC's editor into a manager and keeps it.
    QZ::PluginLuaGui& Build()
    {
        manager = std::make_unique<QJmanager>(plugin.get());
        gui = std::make_unique<QZ::PluginLuaGui>(plugin.get(), nullptr);
        gui->setupGUI(*manager);
        return *gui;
    }

    std::string AllErrors() const
    {
        std::string all;
        for (const std::string& error : gui->Errors())
            all += error + "\n";
        return all;
    }

    // The elements of class T in the tree.
    template <class T>
    std::vector<T*> Elements()
    {
        std::vector<T*> found;
        std::vector<QZ::Group*> pending{dynamic_cast<QZ::Group*>(manager->Root())};
        while (!pending.empty()) {
            QZ::Group* group = pending.back();
            pending.pop_back();
            for (QZ::UIElement* child : group->Children()) {
                if (auto* inner = dynamic_cast<QZ::Group*>(child))
                    pending.push_back(inner);
                else if (auto* element = dynamic_cast<T*>(child))
                    found.push_back(element);
            }
        }
        return found;
    }

    corvane::test::ScopedUserFolders folders;
    InProcessPlugin<ObryCorvaneDC::ObryCorvane> plugin = corvane::test::MakeInProcess<ObryCorvaneDC::ObryCorvane>();
    std::unique_ptr<QJmanager> manager;
    std::unique_ptr<QZ::PluginLuaGui> gui;
};

TEST_F(Skin, AKnobSizeInItsGuiLuaChangesEveryKnobAndTheRestStaysBuiltIn)
{
    Write("gui.lua", "kKnobSize = 50\n");
    Build();
    EXPECT_EQ(AllErrors(), "");
    const auto knobs = Elements<QZ::Knob>();
    ASSERT_EQ(knobs.size(), 13u); // both channels' six and the hidden port
    for (QZ::Knob* knob : knobs)
        EXPECT_EQ(knob->Rectangle().x1 - knob->Rectangle().x0, 50.0f);
    EXPECT_EQ(manager->WindowWidth(), 510);
}

TEST_F(Skin, ItsWindowSizeMovesThePreferencesButton)
{
    Write("gui_dc.lua", "getWindowSize = function() return 600, 300 end\n");
    Build();
    EXPECT_EQ(manager->WindowWidth(), 600);
    const auto buttons = Elements<QZ::BrelButton>();
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(buttons[0]->HoverId(), -2);
    EXPECT_EQ(buttons[0]->Rectangle().x1, 600 - 5.0f);
    EXPECT_EQ(buttons[0]->Rectangle().y1, 300 - 5.0f);
}

// A skin split into files loads them as the sandbox opens files, and may
// build a chunk from pieces.
TEST_F(Skin, LoadsItsOtherFiles)
{
    const std::string folder = corvane::GetSkinsFolder("Corvane") + "/Test.bundle/Contents/Resources";
    Write("size.lua", "getWindowSize = function() return 600, 300 end\n");
    Write("knob.lua", "return 'kKnobSize = 50'\n");
    Write("gui_dc.lua", "local folder = '" + folder + "'\n"
                        "dofile(folder .. '/size.lua')\n"
                        "local piece = assert(loadfile(folder .. '/knob.lua'))()\n"
                        "assert(load(function() local p = piece piece = nil return p end))()\n");
    Build();
    EXPECT_EQ(AllErrors(), "");
    EXPECT_EQ(manager->WindowWidth(), 600);
    const auto knobs = Elements<QZ::Knob>();
    ASSERT_FALSE(knobs.empty());
    EXPECT_EQ(knobs[0]->Rectangle().x1 - knobs[0]->Rectangle().x0, 50.0f);
}

// The host's standard output and error are its own: a skin's writes reach
// neither, its print only the debug output (standard error).
TEST_F(Skin, WritesNothingToTheHostsOutput)
{
    Write("gui_dc.lua", "pcall(io.write, 'written')\n"
                        "pcall(function() io.stdout:write('written') end)\n"
                        "pcall(function() io.stderr:write('written') end)\n"
                        "print('printed')\n");
    corvane::test::FdCapture output(1);
    corvane::test::StderrCapture error;
    Build();
    const std::string outputText = output.Text(), errorText = error.Text();
    EXPECT_EQ(outputText.find("written"), std::string::npos) << outputText;
    EXPECT_EQ(errorText.find("written"), std::string::npos) << errorText;
    EXPECT_EQ(outputText.find("printed"), std::string::npos) << outputText;
    EXPECT_NE(errorText.find("printed"), std::string::npos) << errorText;
}

// A skin's plug-in script that fails in any way leaves the built-in editor
// (its script runs after the skin's) and an error text.
struct Failure {
    const char* name;
    std::string script;
    const char* error;
};

class FailingSkin : public Skin, public ::testing::WithParamInterface<Failure> {};

TEST_P(FailingSkin, LeavesAnErrorAndTheBuiltInEditor)
{
    Write("gui_dc.lua", GetParam().script);
    Build();
    EXPECT_NE(AllErrors().find(GetParam().error), std::string::npos) << AllErrors();
    EXPECT_EQ(Elements<QZ::Knob>().size(), 13u);
    EXPECT_EQ(manager->WindowWidth(), 510);
    EXPECT_NE(access((folders.DataHome() + "/written").c_str(), F_OK), 0) << "a skin wrote a file";
}

const Failure kFailures[] = {
    {"SyntaxError", "getWindowSize = function( return 1 end", "failed to run buffer: [string \"gui_dc.lua\"]:1"},
    {"EndlessLoop", "while true do end", "ran past its time limit"},
    {"LoopThatCatchesItsStop", "while true do pcall(function() while true do end end) end", "time limit"},
    {"HugeAllocation", "local s = string.rep('x', 1024 * 1024 * 1024)", "resulting string too large"},
    {"RunsAProgram", "os.execute('true')", "attempt to call field 'execute'"},
    {"OpensAPipe", "io.popen('true')", "attempt to call field 'popen'"},
    {"EndsTheProcess", "os.exit(1)", "os.exit is not available to scripts"},
    {"LoadsNativeCode", "require('socket.core')", "module 'socket.core' not found"},
    {"LoadsBytecode", "assert(loadstring(string.dump(function() end)))", "precompiled chunks are not loaded"},
    {"UnhooksTheLimit", "debug.sethook()", "debug.sethook is not available to scripts"},
    {"PrecompiledFile", "\x1bLua\x51\x00garbage", "precompiled chunks are not loaded"},
    // A skin reads its files and writes none.
    {"WritesAFile", "assert(io.open(os.getenv('XDG_DATA_HOME') .. '/written', 'w'))", "files are opened for reading only"},
    {"AppendsToAFile", "assert(io.open(os.getenv('XDG_DATA_HOME') .. '/written', 'a+'))",
     "files are opened for reading only"},
    {"UpdatesAFile", "assert(io.open(os.getenv('XDG_DATA_HOME') .. '/written', 'r+'))",
     "files are opened for reading only"},
    {"RedirectsOutput", "io.output(os.getenv('XDG_DATA_HOME') .. '/written')", "io.output is not available"},
    {"RemovesAFile", "os.remove(os.getenv('XDG_DATA_HOME') .. '/written')", "attempt to call field 'remove'"},
    {"ReadsADevice", "assert(io.open('/dev/zero'))", "/dev/zero: not a regular file"},
    {"RunsAFileDevice", "dofile('/dev/zero')", "/dev/zero: not a readable regular file"},
    {"SearchesAHugePath", "package.path = string.rep('?;', 2^20) require('x')",
     "package.path is longer than a search may walk"},
    {"LargerThanAScriptMayBe", std::string(QZ::kScriptFileLimit + 1, ' '), "larger than a script may be"},
    // What a failing skin defined is gone with it.
    {"FailsAfterDefining", "getWindowSize = function() return 600, 300 end error('failed late')", "failed late"},
    // No finalizer of a script's: Lua runs them with hooks off while the
    // state closes, where no time limit could stop a loop.
    {"FinalizerOnFiles", "getmetatable(io.input()).__gc = function() while true do end end",
     "attempt to index a boolean value"},
    {"FinalizerThroughIndex", "io.input().__index.__gc = function() while true do end end",
     "attempt to index field '__index' (a nil value)"},
    {"FinalizerOnAProxy", "newproxy(true)", "attempt to call global 'newproxy'"},
    {"RepeatPastTheIntRange", "string.rep('x', 2^31)", "resulting string too large"},
};

INSTANTIATE_TEST_SUITE_P(Scripts, FailingSkin, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<Failure>& info) { return info.param.name; });

// A skin's createUI that calls the API wrongly: the Lua error names the
// fault, the editor keeps what was built before it.
struct Misuse {
    const char* name;
    const char* statement;
    const char* error;
};

class MisusingSkin : public Skin, public ::testing::WithParamInterface<Misuse> {};

TEST_P(MisusingSkin, RaisesALuaErrorNamingTheFault)
{
    Write("gui_dc.lua", std::string("createUI = function() createUICommon() ") + GetParam().statement + " end\n");
    Build();
    EXPECT_NE(AllErrors().find(GetParam().error), std::string::npos) << AllErrors();
}

const Misuse kMisuses[] = {
    {"UnknownParameter", "knob('Nope', 0, 0, 10)", "parameter not found: 'Nope'"},
    {"UnknownAction", "button('Nope', 'x', 0, 0, 1, 1)", "button not found: Nope"},
    {"SliderOrientation", "slider('Multiplier L', 0, 0, 1, 1, 'x', 0, 0, 0, 0)", "unknown slider orientation: x"},
    {"LuaButtonWithoutFunction", "luaButton(1, 'a', 'b', 'push', 0, 0, 1, 1)",
     "first argument to luaButton() is not a function"},
    {"UnknownTexture", "texture('nope.png')", "failed to find texture in resouce id lookup"},
    {"EnvelopeId", "envelopeDisplay(3, 0, 0, 1, 1)", "envelopeDisplay id out of range"},
    {"StepEditorInAnotherPlugin", "stepEditor(0, 0, 0, 10, 10)", "stepEditor"},
    {"WaveformInAnotherPlugin", "waveformDisplay(0, 0, 0, 10, 10)", "waveformDisplay"},
    {"FunctionInAnotherPlugin", "functionDisplay(1, 0, 0, 10, 10)", "functionDisplay"},
    {"EnvelopeInAnotherPlugin", "envelopeDisplay(0, 0, 0, 10, 10)", "envelopeDisplay"},
    {"QuantizerIndex", "quantizerInfoDisplay(0, 0, 1, 1, 2)", "infoDisplay index out of range: 2"},
    {"GroupMethodOnAWidget",
     "theKnobRenderer = smallKnobRenderer local k = knob('Multiplier L', 0, 0, 10) group('g').width(k)",
     "QZgui.Group expected"},
    {"AddAGroupToAGroup", "group('a'):add(group('b'))", "element expected, got userdata"},
    {"AddANumber", "add(3)", "element expected"},
    {"KnobRendererMissing", "theKnobRenderer = nil knob('Multiplier L', 0, 0, 10)", "QZgui.KnobRenderer expected"},
    {"ParameterIndexTooLarge", "setParameter(9999, 1)", "parameter index out of range"},
    {"FinalizerOnAGroup", "getmetatable(group('g')).__gc = print", "attempt to index a boolean value"},
};

INSTANTIATE_TEST_SUITE_P(Statements, MisusingSkin, ::testing::ValuesIn(kMisuses),
                         [](const ::testing::TestParamInfo<Misuse>& info) { return info.param.name; });

// The named actions exist only while createUI runs: a button made later,
// from a Lua button's function, is an error of that function.
TEST_F(Skin, ButtonAfterCreateUIFindsNoActions)
{
    Write("gui_dc.lua", R"(
createUI = function()
    createUICommon()
    add(luaButton(function() add(button("Prefs", "late", 0, 0, 10, 10)) end, "B", "tip", "push", 0, 0, 20, 20))
end
)");
    Build();
    ASSERT_EQ(AllErrors(), "");
    QZ::BrelStatefulButton* late = nullptr;
    for (QZ::BrelStatefulButton* button : Elements<QZ::BrelStatefulButton>())
        if (button->Label() == "B")
            late = button;
    ASSERT_TRUE(late);
    late->MouseDown(QZ::Point{}, 0, 1); // a push button acts on press
    EXPECT_NE(AllErrors().find("no button lookup table"), std::string::npos) << AllErrors();
}

// Once createUI has returned the render thread walks the tree and reads the
// banner without a lock: a Lua button's function that would add or move
// anything gets a Lua error and the tree stays as it was.
struct LateCall {
    const char* name;
    const char* statement;
};

class LateBuilder : public Skin, public ::testing::WithParamInterface<LateCall> {};

TEST_P(LateBuilder, IsRefusedAfterCreateUI)
{
    // late() runs as a Lua button's function would: after createUI, in a
    // protected call whose error is recorded.
    Write("gui_dc.lua", std::string(R"(
createUI = function()
    createUICommon()
    theKnobRenderer = smallKnobRenderer
    g = group("early")
end
late = function() )") + GetParam().statement + " end\n");
    Build();
    ASSERT_EQ(AllErrors(), "");
    const size_t elements = manager->ElementCount();
    const size_t textures = manager->Textures().size();
    const size_t rootChildren = dynamic_cast<QZ::Group*>(manager->Root())->Children().size();
    gui->RunProtected(
        "late: ",
        [](lua_State* state, void*) {
            lua_getglobal(state, "late");
            lua_call(state, 0, 0);
        },
        nullptr, 1000);
    EXPECT_NE(AllErrors().find("the editor is built only in createUI"), std::string::npos) << AllErrors();
    EXPECT_EQ(manager->ElementCount(), elements);
    EXPECT_EQ(manager->Textures().size(), textures);
    EXPECT_EQ(dynamic_cast<QZ::Group*>(manager->Root())->Children().size(), rootChildren);
}

const LateCall kLateCalls[] = {
    {"Group", "group('late')"},
    {"Knob", "knob('Multiplier L', 0, 0, 10)"},
    {"Label", "label('late', 0, 0)"},
    {"AddToTheWindow", "add(nil)"},
    {"AddToAGroup", "g:add(nil)"},
    {"MoveAGroup", "g:setPosition(100, 100)"},
    {"Texture", "texture('buttons.png')"},
    {"KnobRenderer", "arcKnobRenderer(nil, 0, 0, 1, 0, 0)"},
    {"InfoDisplay", "infoDisplay(0, 0, 10, 10, 2)"},
    {"BannerBounds", "setBannerBounds(0, 0, 10, 10)"},
};

INSTANTIATE_TEST_SUITE_P(Calls, LateBuilder, ::testing::ValuesIn(kLateCalls),
                         [](const ::testing::TestParamInfo<LateCall>& info) { return info.param.name; });

// What a skin's gui.lua sets reaches the editor: the banner's colours, the
// knob renderer kind (a turning image instead of an arc), the background
// image, buttons.png among the manager's textures and a font of font().
TEST_F(Skin, ItsColoursRenderersAndTexturesReachTheEditor)
{
    Write("gui.lua", R"(
setUIColours = function()
    setBackgroundColour(0.2, 0.3, 0.4)
    setBannerColour(1, 0, 0, 0.5)
    setBannerTextColour(0, 1, 0, 1)
end
createKnobRenderers = function()
    local t = texture("buttons.png")
    smallKnobRenderer = spinKnobRenderer(t, 2, 58, 34)
    bigKnobRenderer = smallKnobRenderer
    tinyKnobRenderer = smallKnobRenderer
    setBackgroundTexture(t, "bottomLeft")
    extraFont = font(function() return { { name = "DejaVuSans.ttf", size = 9 } } end)
end
)");
    Build();
    ASSERT_EQ(AllErrors(), "");
    const QZ::Colour strip = manager->BannerColour(), text = manager->BannerTextColour();
    EXPECT_EQ((std::vector<float>{strip.r, strip.g, strip.b, strip.a}), (std::vector<float>{1, 0, 0, 0.5f}));
    EXPECT_EQ((std::vector<float>{text.r, text.g, text.b, text.a}), (std::vector<float>{0, 1, 0, 1}));
    EXPECT_EQ(Elements<QZ::BrelKnob>().size(), 13u);
    EXPECT_TRUE(Elements<QZ::ArcKnob>().empty());
    ASSERT_EQ(manager->Textures().size(), 1u);
    EXPECT_EQ(manager->Textures()[0]->resourceId, 120);
    EXPECT_EQ(manager->BackgroundTexture(), manager->Textures()[0].get());
    EXPECT_EQ(manager->BackgroundMode(), QJmanager::kBackgroundOnce);
    // The fonts the scripts chose belong to the manager, font()'s too.
    ASSERT_EQ(manager->Fonts().size(), 1u);
    EXPECT_EQ(manager->Fonts()[0]->size, 9u);
    EXPECT_TRUE(manager->MainFont());
    EXPECT_EQ(gui->MainFont(), manager->MainFont());
    EXPECT_EQ(gui->LabelFont(), manager->LabelFont());
    QZ::Manager::SetBannerTextColour(QZ::Colour{0.5f, 0.5f, 0.5f, 1});
}

TEST_F(Skin, GroupMarginsTakeAtMostFourNumbers)
{
    Write("gui_dc.lua", R"(
createUI = function()
    createUICommon()
    for i, margins in ipairs({ false, 3, { 4, 6 }, { 1, 2, 3, 4, 99, 99, 99 } }) do
        local g = margins and group("g" .. i, margins) or group("g" .. i)
        g:add(label("x", 100, 100, "left"))
    end
end
)");
    Build();
    ASSERT_EQ(AllErrors(), "");
    // Margins in the table's order: top, bottom, left, right.
    const float expected[4][4] = {{10, 10, 10, 10}, {3, 3, 3, 3}, {4, 6, 0, 0}, {1, 2, 3, 4}};
    int checked = 0;
    for (QZ::UIElement* child : dynamic_cast<QZ::Group*>(manager->Root())->Children()) {
        auto* group = dynamic_cast<QZ::NamedGroup*>(child);
        if (!group || group->Name().size() != 2 || group->Name()[0] != 'g')
            continue;
        const int i = group->Name()[1] - '1';
        const QZ::Box outer = QZ::UIElement::AbsoluteBox(group);
        const QZ::Box inner = QZ::UIElement::AbsoluteBox(group->Children().at(0));
        EXPECT_EQ(outer.y1 - inner.y1, expected[i][0]) << group->Name();
        EXPECT_EQ(inner.y0 - outer.y0, expected[i][1]) << group->Name();
        EXPECT_EQ(inner.x0 - outer.x0, expected[i][2]) << group->Name();
        EXPECT_EQ(outer.x1 - inner.x1, expected[i][3]) << group->Name();
        ++checked;
    }
    EXPECT_EQ(checked, 4);
}

// The window size a script asks for, through the editor object as the host
// reads it before any window exists; what is not a sane size gives the
// default.
struct SizeCase {
    const char* name;
    const char* body;
    int16_t width, height;
};

class ScriptSize : public Skin, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(ScriptSize, GivesTheRectangleBeforeOpening)
{
    Write("gui_dc.lua", std::string("getWindowSize = function() ") + GetParam().body + " end\n");
    ObryCorvaneView view(plugin.get());
    view.InitWindowSize();
    ERect* rect = nullptr;
    ASSERT_TRUE(view.getRect(&rect));
    EXPECT_EQ(rect->right, GetParam().width);
    EXPECT_EQ(rect->bottom, GetParam().height);
}

const SizeCase kSizes[] = {
    {"NumericStringAndFraction", "return '400', 300.7", 400, 300},
    {"Fails", "error('no')", 510, 220},
    {"NotNumbers", "return {}, 'wide'", 510, 220},
    {"NaN", "return 0/0, 200", 510, 220},
    {"Negative", "return -5, 200", 510, 220},
    {"Infinite", "return 1/0, 200", 510, 220},
    {"Huge", "return 100000, 300", 1024, 300},
    {"Tiny", "return 10, 10", 240, 80},
    {"Endless", "while true do end", 510, 220},
};

INSTANTIATE_TEST_SUITE_P(Answers, ScriptSize, ::testing::ValuesIn(kSizes),
                         [](const ::testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

// setParameter by name and by index reaches the same parameter; unless the
// third argument is false the host hears of it.
TEST_F(Skin, SetParameterByNameOrIndexWithAndWithoutTheHost)
{
    Write("gui_dc.lua", R"(
createUI = function()
    createUICommon()
    setParameter("Multiplier L", 1.5)
    first = getParameter(2)
    setParameter(2, -1, false)
    second = getParameter("Multiplier L")
    setParameter("2", 0.5, nil)
    assert(getParameterID("Multiplier L") == 2)
end
)");
    corvane::test::TakeAutomateLog();
    Build();
    ASSERT_EQ(AllErrors(), "");
    EXPECT_FLOAT_EQ(plugin->GetParameterReal(2), 0.5f);
    const auto log = corvane::test::TakeAutomateLog();
    ASSERT_EQ(log.size(), 1u); // the first set only
    EXPECT_EQ(log[0].index, 2);
    EXPECT_FLOAT_EQ(log[0].value, (1.5f + 2) / 4);
}

} // namespace

namespace {

// The widget calls of a skin's createUI make the toolkit's widgets, with what
// the script asked for; a text field's format that is not one plain float
// conversion is dropped, never handed to the C formatter.
TEST_F(Skin, WidgetCallsMakeTheToolkitsWidgets)
{
    Write("gui_dc.lua", R"(
createUI = function()
    local t = texture("buttons.png")
    theSliderRenderer = sliderRenderer(t, t)
    made = {
        slider = slider("Multiplier L", 10, 10, 100, 16, "horizontal", 16, 16, 8, 8),
        unsafe = textField("Multiplier L", 10, 40, 50, 16, "%s%n"),
        safe = textField("Multiplier L", 70, 40, 50, 16, "%.1f x"),
        drop = dropDown("Multiplier R", 10, 70, 80, 16),
        right = label("Target:", 100, 120, "r"),
        toggle = luaButton(function() end, "T", "tip", "toggle", 10, 130, 40, 20),
        param = paramButton("Multiplier L", "P", 60, 130, 40, 20),
        field = propertyTextField(64003, "Name", 10, 160, 100, 16),
    }
    for _, k in ipairs({'slider', 'unsafe', 'safe', 'drop', 'right', 'toggle', 'param', 'field'}) do add(made[k]) end
    made.toggle:setState(true)
    toggleState = made.toggle:getState()
    paramState = made.param:getState()
    made.field:setEditable(false)
    made.safe:setTextColour(1, 0, 0)
    made.right:setBackgroundColour(0, 0, 1, 0.5)
end
)");
    Build();
    ASSERT_EQ(AllErrors(), "");
    const auto sliders = Elements<QZ::TexturedSlider>();
    ASSERT_EQ(sliders.size(), 1u);
    EXPECT_TRUE(sliders[0]->IsHorizontal());
    const auto fields = Elements<QZ::TextField>();
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[0]->Format(), "");
    EXPECT_EQ(fields[1]->Format(), "%.1f x");
    EXPECT_EQ(fields[1]->GetColour(QZ::TextField::kText).r, 1.0f);
    const auto drops = Elements<QZ::QJDropDown>();
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_TRUE(drops[0]->Items().empty()); // the DC names no values: an empty field
    const auto labels = Elements<QZ::Label>();
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_EQ(labels[0]->Rectangle().x1, 100.0f); // right-aligned: ends at x
    EXPECT_EQ(labels[0]->Rectangle().y1, 120.0f); // y is the top edge
    EXPECT_EQ(labels[0]->BackgroundColour().b, 1.0f);
    ASSERT_EQ(Elements<QZ::CorvButton>().size(), 1u);
    const auto properties = Elements<QZ::PropertyTextField>();
    ASSERT_EQ(properties.size(), 1u);
    EXPECT_FALSE(properties[0]->Editable());
    EXPECT_EQ(properties[0]->Prompt(), "Name");
    lua_State* state = gui->State();
    lua_getglobal(state, "toggleState");
    lua_getglobal(state, "paramState");
    EXPECT_TRUE(lua_toboolean(state, -2)); // a toggle's state is the script's to set
    EXPECT_FALSE(lua_toboolean(state, -1)); // other widgets have none
    lua_pop(state, 2);
}

} // namespace
