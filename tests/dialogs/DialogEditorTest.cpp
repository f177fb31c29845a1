// The property dialogs from an open editor under Xvfb: scripted answers
// applied when the host idles the editor (a 300-character entry cut to 255,
// the MIDI Browser with and without ports), and a real zenity dialog that a
// person (xdotool) answers while the editor keeps drawing and the host keeps
// calling, and one that closing the editor ends.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gui/dialogs/DialogSession.h"
#include "gui/dialogs/PropertyDialogs.h"
#include "gui/editor/CarbonVSTEditor.h"
#include "gui/toolkit/Manager.h"
#include "platform/Dialogs.h"
#include "platform/MidiOutputFake.h"
#include "plugins/common/OSCSenderBase.h"
#include "plugins/cvtomidi/ObryCorvaneCVToMIDI.h"
#include "plugins/cvtoosc/ObryCorvaneCVToOSC.h"
#include "tests/gui/HostWindow.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::platform::DialogAnswer;
using corvane::platform::DialogKind;
using corvane::platform::ScopedScriptedDialogs;
using corvane::test::HostWindow;
using corvane::test::MakeInProcess;
using corvane::test::WaitFor;

namespace {

std::string Text(ObryAuBase& plugin, uint32_t id)
{
    char text[1024] = {};
    plugin.GetProperty(id, 0, 0, text);
    return text;
}

// A plug-in's own editor, open in a host window.
class OpenEditor {
public:
    explicit OpenEditor(ObryCorvaneBase& plugin)
        : host(600, 400, 0x202020), editor(static_cast<QZ::CarbonVSTEditor*>(plugin.getEditor()))
    {
        opened = editor && editor->open(host.Handle());
    }
    ~OpenEditor()
    {
        if (editor)
            editor->close();
    }
    bool Opened() const { return opened; }
    QZ::CarbonVSTEditor& Editor() { return *editor; }
    QZ::Manager& Manager() { return *editor->GetManager(); }
    // Idles until nothing of the editor's dialogs is open or waiting.
    bool IdleUntilDialogsEnd()
    {
        return WaitFor([&] {
            editor->idle();
            return !editor->Dialogs()->Busy();
        });
    }

private:
    HostWindow host;
    QZ::CarbonVSTEditor* editor;
    bool opened = false;
};

class DialogEditorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!corvane::test::HaveDisplay())
            GTEST_SKIP() << "no X server (DISPLAY unset)";
    }
    corvane::test::ScopedUserFolders folders;
};

TEST_F(DialogEditorTest, EnteredPropertyIsCutAtACharacterBoundary)
{
    auto plugin = MakeInProcess<ObryCorvaneCVToOSC::ObryCorvane>();
    OpenEditor editor(*plugin);
    ASSERT_TRUE(editor.Opened());
    const std::string prefix = "osc.udp://127.0.0.1:9000/";
    const struct {
        std::string entered;
        std::string applied;
    } cases[] = {
        {prefix + std::string(300 - prefix.size(), 'x'), prefix + std::string(255 - prefix.size(), 'x')},
        {prefix + std::string(254 - prefix.size(), 'y') + "\xC3\xA9zz", prefix + std::string(254 - prefix.size(), 'y')},
        {"osc.udp://h:1\nsecond line", "osc.udp://h:1"},
    };
    for (const auto& c : cases) {
        ScopedScriptedDialogs script({{true, c.entered, -1}});
        ASSERT_TRUE(QZ::ShowEnterPropertyDialog(editor.Manager(), kObryProperty_OSCDestination, "OSC target:",
                                                Text(*plugin, kObryProperty_OSCDestination)));
        EXPECT_NE(Text(*plugin, kObryProperty_OSCDestination), c.applied) << "applied before the host idles";
        ASSERT_TRUE(editor.IdleUntilDialogsEnd());
        EXPECT_EQ(Text(*plugin, kObryProperty_OSCDestination), c.applied);
        ASSERT_EQ(script.Requests().size(), 1u);
        EXPECT_EQ(script.Requests()[0].title, "Enter Property");
        EXPECT_EQ(script.Requests()[0].text, "OSC target:");
    }
    // Cancel leaves the property.
    const std::string before = Text(*plugin, kObryProperty_OSCDestination);
    ScopedScriptedDialogs script({{false, "osc.udp://other:1", -1}});
    ASSERT_TRUE(QZ::ShowEnterPropertyDialog(editor.Manager(), kObryProperty_OSCDestination, "OSC target:", before));
    ASSERT_TRUE(editor.IdleUntilDialogsEnd());
    EXPECT_EQ(Text(*plugin, kObryProperty_OSCDestination), before);
}

TEST_F(DialogEditorTest, MidiBrowserListsThePorts)
{
    auto ports = std::make_shared<corvane::platform::FakeMidiOutputSystem>();
    corvane::platform::InstallMidiOutputSystem(ports);
    auto plugin = MakeInProcess<ObryCorvaneCVToMIDI::ObryCorvane>();
    OpenEditor editor(*plugin);
    ASSERT_TRUE(editor.Opened());
    const uint32_t id = kObryProperty_MIDIOutputDevice;
    const std::string before = Text(*plugin, id);
    {
        ScopedScriptedDialogs script({{true, "", -1}}); // OK on the empty list
        ASSERT_TRUE(QZ::ShowMIDIBrowser(editor.Manager(), id));
        ASSERT_TRUE(editor.IdleUntilDialogsEnd());
        ASSERT_EQ(script.Requests().size(), 1u);
        EXPECT_EQ(script.Requests()[0].title, "MIDI Browser");
        EXPECT_EQ(script.Requests()[0].text, "Select a MIDI target:");
        EXPECT_TRUE(script.Requests()[0].rows.empty());
        EXPECT_EQ(Text(*plugin, id), before);
    }
    ports->AddDevice("Port A");
    ports->AddDevice("Port B");
    ScopedScriptedDialogs script({{true, "", 1}});
    ASSERT_TRUE(QZ::ShowMIDIBrowser(editor.Manager(), id));
    ASSERT_TRUE(editor.IdleUntilDialogsEnd());
    EXPECT_EQ(script.Requests()[0].rows, (std::vector<std::string>{"Port A", "Port B"}));
    EXPECT_EQ(Text(*plugin, id), "Port B");
    corvane::platform::InstallMidiOutputSystem(nullptr);
}

// The real dialog program: the test stands in for the person at it.
class ZenityEditorTest : public DialogEditorTest {
protected:
    void SetUp() override
    {
        DialogEditorTest::SetUp();
        if (corvane::test::RunCommand("command -v zenity && command -v xdotool") != 0)
            GTEST_SKIP() << "needs zenity and xdotool";
    }

    // The X id of the dialog window titled "Enter Property", or "".
    static std::string DialogWindow()
    {
        std::string found;
        if (corvane::test::RunCommand("xdotool search --onlyvisible --name '^Enter Property$' | head -n 1", &found) !=
            0)
            return std::string();
        while (!found.empty() && (found.back() == '\n' || found.back() == ' '))
            found.pop_back();
        return found;
    }

    // What a host does while the dialog is open: idle the editor and run
    // audio blocks. Counts the blocks.
    void Serve(ObryCorvaneBase& plugin, QZ::CarbonVSTEditor& editor)
    {
        editor.idle();
        float in[2][64] = {}, out[2][64] = {};
        float* inputs[2] = {in[0], in[1]};
        float* outputs[2] = {out[0], out[1]};
        plugin.processReplacing(inputs, outputs, 64);
        ++blocks;
    }
    int blocks = 0;
};

TEST_F(ZenityEditorTest, AnsweredWhileTheEditorDrawsAndTheHostCalls)
{
    auto plugin = MakeInProcess<ObryCorvaneCVToOSC::ObryCorvane>();
    OpenEditor editor(*plugin);
    ASSERT_TRUE(editor.Opened());
    ASSERT_TRUE(QZ::ShowEnterPropertyDialog(editor.Manager(), kObryProperty_OSCDestination, "OSC target:",
                                            Text(*plugin, kObryProperty_OSCDestination)));
    std::string window;
    ASSERT_TRUE(WaitFor([&] {
        Serve(*plugin, editor.Editor());
        window = DialogWindow();
        return !window.empty();
    })) << "the dialog never showed";
    // The dialog is up; the editor goes on drawing and the host on calling.
    const uint64_t framesAtOpen = editor.Manager().FramesDrawn();
    const int blocksAtOpen = blocks;
    EXPECT_TRUE(WaitFor([&] {
        Serve(*plugin, editor.Editor());
        return editor.Manager().FramesDrawn() >= framesAtOpen + 5 && blocks >= blocksAtOpen + 5;
    }));
    EXPECT_TRUE(editor.Editor().Dialogs()->Busy()) << "nobody has answered yet";

    // A window that is visible may not take keys yet (its entry is realised
    // a little later on a busy machine): select all, type and press Return
    // again until the dialog has answered. Each try replaces the whole text.
    const std::string typed = "osc.udp://127.0.0.1:9123";
    bool answered = false;
    for (int attempt = 0; attempt < 10 && !answered; ++attempt) {
        corvane::test::RunCommand("xdotool windowfocus --sync " + window + " key --delay 5 ctrl+a type --delay 5 '" +
                                  typed + "'; xdotool key --delay 5 Return");
        answered = WaitFor(
            [&] {
                Serve(*plugin, editor.Editor());
                return !editor.Editor().Dialogs()->Busy();
            },
            3000);
    }
    ASSERT_TRUE(answered) << "the dialog never took the answer";
    EXPECT_TRUE(WaitFor([&] {
        Serve(*plugin, editor.Editor());
        return Text(*plugin, kObryProperty_OSCDestination) == typed;
    })) << Text(*plugin, kObryProperty_OSCDestination);
}

TEST_F(ZenityEditorTest, ClosingTheEditorEndsTheDialog)
{
    auto plugin = MakeInProcess<ObryCorvaneCVToOSC::ObryCorvane>();
    const std::string before = Text(*plugin, kObryProperty_OSCDestination);
    {
        OpenEditor editor(*plugin);
        ASSERT_TRUE(editor.Opened());
        ASSERT_TRUE(
            QZ::ShowEnterPropertyDialog(editor.Manager(), kObryProperty_OSCDestination, "OSC target:", before));
        ASSERT_TRUE(WaitFor([&] {
            Serve(*plugin, editor.Editor());
            return !DialogWindow().empty();
        }));
    } // the editor closes with the dialog open
    int status = 0;
    errno = 0;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1) << "the dialog's process was left behind";
    EXPECT_EQ(errno, ECHILD);
    EXPECT_TRUE(WaitFor([] { return DialogWindow().empty(); })) << "the dialog is still shown";
    EXPECT_EQ(Text(*plugin, kObryProperty_OSCDestination), before);
}

} // namespace
