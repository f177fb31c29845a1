// The dialog service and an editor's dialog session: answers arrive only
// when the session is polled, one dialog at a time, error messages queue
// behind, a closed session drops what is open; zenity's answers and
// process; the fallback when no one can be asked.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "gui/dialogs/DialogSession.h"
#include "gui/toolkit/Manager.h"
#include "platform/Dialogs.h"
#include "platform/ZenityDialog.h"
#include "tests/gui/HostWindow.h"
#include "tests/support/TestSupport.h"

using corvane::platform::DialogAnswer;
using corvane::platform::DialogIcon;
using corvane::platform::DialogKind;
using corvane::platform::DialogRequest;
using corvane::platform::ScopedScriptedDialogs;
using QZ::DialogSession;

namespace {

DialogRequest Entry(const std::string& title)
{
    DialogRequest request;
    request.kind = DialogKind::Entry;
    request.title = title;
    return request;
}

TEST(DialogSessionTest, AnswersArriveWhenPolledOneDialogAtATime)
{
    ScopedScriptedDialogs script({{true, "first", -1}, {false, "", -1}});
    QZ::Manager manager(nullptr);
    DialogSession session(&manager, 0x1234);
    EXPECT_EQ(DialogSession::For(&manager), &session);

    std::vector<std::string> heard;
    auto record = [&heard](const DialogAnswer& answer) {
        heard.push_back(answer.accepted ? "ok " + answer.text : "cancel");
    };
    ASSERT_TRUE(session.Start(Entry("one"), record));
    EXPECT_TRUE(heard.empty()) << "never from inside Start";
    EXPECT_TRUE(session.Busy());
    EXPECT_FALSE(session.Start(Entry("two"), record)) << "modal: refused while one is open";

    session.Poll();
    EXPECT_EQ(heard, (std::vector<std::string>{"ok first"}));
    EXPECT_FALSE(session.Busy());
    ASSERT_TRUE(session.Start(Entry("three"), record));
    session.Poll();
    EXPECT_EQ(heard, (std::vector<std::string>{"ok first", "cancel"}));

    const std::vector<DialogRequest> requests = script.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].title, "one");
    EXPECT_EQ(requests[1].title, "three");
    EXPECT_EQ(requests[1].ownerWindow, 0x1234u) << "attached to the editor's window";
}

TEST(DialogSessionTest, ErrorFromACompletionFollowsIt)
{
    ScopedScriptedDialogs script({{true, "x", -1}, {true, "", -1}});
    QZ::Manager manager(nullptr);
    DialogSession session(&manager, 0);
    ASSERT_TRUE(session.Start(Entry("load"), [&session](const DialogAnswer&) {
        session.ShowError("Could not load file", DialogIcon::Error);
    }));
    session.Poll(); // answers "load", whose completion queues the message
    EXPECT_TRUE(session.Busy()) << "the message is open";
    session.Poll();
    EXPECT_FALSE(session.Busy());
    const std::vector<DialogRequest> requests = script.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].kind, DialogKind::Message);
    EXPECT_EQ(requests[1].title, "Error");
    EXPECT_EQ(requests[1].text, "Could not load file");
    EXPECT_EQ(requests[1].icon, DialogIcon::Error);
}

TEST(DialogSessionTest, ClosingTheSessionDropsTheOpenDialog)
{
    ScopedScriptedDialogs script({{true, "late", -1}});
    QZ::Manager manager(nullptr);
    bool ran = false;
    {
        DialogSession session(&manager, 0);
        ASSERT_TRUE(session.Start(Entry("open"), [&ran](const DialogAnswer&) { ran = true; }));
    }
    EXPECT_FALSE(ran);
    EXPECT_EQ(script.ClosedUnanswered(), 1);
    EXPECT_EQ(DialogSession::For(&manager), nullptr);
}

TEST(DialogServiceTest, ZenityAnswers)
{
    const struct {
        DialogKind kind;
        int exitCode;
        const char* output;
        size_t rows;
        bool accepted;
        const char* text;
        int row;
    } cases[] = {
        {DialogKind::OpenFile, 0, "/home/a/cal.txt\n", 0, true, "/home/a/cal.txt", -1},
        {DialogKind::OpenFile, 0, "", 0, false, "", -1}, // OK without a path
        {DialogKind::SaveFile, 1, "", 0, false, "", -1},
        {DialogKind::Entry, 0, "osc.udp://host:9000\n", 0, true, "osc.udp://host:9000", -1},
        {DialogKind::Entry, 0, "\n", 0, true, "", -1}, // an emptied line is an answer
        {DialogKind::Entry, -1, "half", 0, false, "", -1},
        {DialogKind::List, 0, "2\n", 3, true, "", 2},
        {DialogKind::List, 0, "", 3, true, "", -1}, // OK with nothing chosen
        {DialogKind::List, 0, "3\n", 3, true, "", -1},
        {DialogKind::List, 0, "-1\n", 3, true, "", -1},
        {DialogKind::List, 5, "", 3, false, "", -1}, // timeout
        {DialogKind::Message, 0, "", 0, true, "", -1},
    };
    for (const auto& c : cases) {
        const DialogAnswer answer = corvane::platform::ParseZenityAnswer(c.kind, c.exitCode, c.output, c.rows);
        EXPECT_EQ(answer.accepted, c.accepted) << c.output;
        EXPECT_EQ(answer.text, c.text) << c.output;
        EXPECT_EQ(answer.row, c.row) << c.output;
    }
}

TEST(DialogServiceTest, SavedNamesGetTheDefaultExtension)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/tmp/cal", "/tmp/cal.txt"},         {"/tmp/cal.txt", "/tmp/cal.txt"},
        {"/tmp/cal.old", "/tmp/cal.old"},     {"/tmp/.hidden", "/tmp/.hidden"},
        {"/tmp/a.dir/cal", "/tmp/a.dir/cal.txt"}, {"cal", "cal.txt"},
        {"/cal", "/cal.txt"},                 {"/tmp/a./cal", "/tmp/a./cal.txt"},
    };
    for (const auto& [chosen, saved] : cases)
        EXPECT_EQ(corvane::platform::WithDefaultExtension(chosen, "txt"), saved);
    EXPECT_EQ(corvane::platform::WithDefaultExtension("/tmp/cal", ""), "/tmp/cal");
}

TEST(DialogServiceTest, ListRowsNeverBecomeOptions)
{
    DialogRequest request;
    request.kind = DialogKind::List;
    request.rows = {"--help", "two\nlines"};
    for (const std::string& arg : corvane::platform::ZenityArguments(request))
        EXPECT_EQ(arg.find("--help"), std::string::npos) << arg;
    EXPECT_EQ(corvane::platform::ZenityInput(request), "0\n--help\n1\ntwo lines\n");
}

TEST(DialogServiceTest, WithoutADisplayMessagesGoToTheLog)
{
    const char* display = getenv("DISPLAY");
    const std::string saved = display ? display : "";
    unsetenv("DISPLAY");
    DialogRequest message;
    message.kind = DialogKind::Message;
    message.title = "Error";
    message.text = "Could not save file";
    DialogAnswer answer{true, "x", 3};
    corvane::test::StderrCapture log;
    auto dialog = corvane::platform::StartDialog(message);
    ASSERT_TRUE(dialog->Poll(&answer));
    auto entry = corvane::platform::StartDialog(Entry("Enter Property"));
    DialogAnswer entered{true, "x", 3};
    ASSERT_TRUE(entry->Poll(&entered));
    const std::string text = log.Text();
    if (!saved.empty())
        setenv("DISPLAY", saved.c_str(), 1);
    EXPECT_NE(text.find("Error: Could not save file"), std::string::npos) << text;
    EXPECT_FALSE(entered.accepted) << "no one to ask: Cancel";
}

// A real zenity that nobody answers: closing it ends and reaps the process.
TEST(DialogServiceTest, ClosingAZenityDialogReapsIt)
{
    const char* display = getenv("DISPLAY");
    if (!display || !*display || corvane::test::RunCommand("command -v zenity >/dev/null") != 0)
        GTEST_SKIP() << "needs an X server and zenity";
    DialogRequest request;
    request.kind = DialogKind::List;
    request.title = "MIDI Browser";
    request.text = "Select a MIDI target:";
    request.rows = {"Port A", "Port B"};
    auto dialog = corvane::platform::StartZenityDialog(request);
    ASSERT_TRUE(dialog);
    DialogAnswer answer;
    EXPECT_FALSE(dialog->Poll(&answer)) << "nobody has answered";
    dialog.reset();
    int status = 0;
    errno = 0;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1) << "a child is left";
    EXPECT_EQ(errno, ECHILD);
}

// A kept message whose program ends (the person closed it; here it is
// ended) is reaped by the service at once, with no editor polling: no
// zombie waits for the next editor.
TEST(DialogServiceTest, AClosedMessageIsReapedWithoutAnEditor)
{
    const char* display = getenv("DISPLAY");
    if (!display || !*display || corvane::test::RunCommand("command -v zenity >/dev/null") != 0)
        GTEST_SKIP() << "needs an X server and zenity";
    const auto children = [] {
        std::vector<pid_t> pids;
        for (const std::string& task : corvane::test::FolderEntries("/proc/self/task")) {
            std::istringstream listed(corvane::test::ReadText("/proc/self/task/" + task + "/children"));
            for (pid_t pid = 0; listed >> pid;)
                pids.push_back(pid);
        }
        return pids;
    };
    const std::vector<pid_t> before = children();
    DialogRequest message;
    message.title = "Error";
    message.text = "Unable to load font";
    corvane::platform::ShowMessage(message);
    pid_t zenity = 0;
    for (pid_t pid : children())
        if (std::find(before.begin(), before.end(), pid) == before.end())
            zenity = pid;
    ASSERT_GT(zenity, 0);
    ASSERT_EQ(kill(zenity, SIGTERM), 0);
    EXPECT_TRUE(corvane::test::WaitFor([&] { return access(("/proc/" + std::to_string(zenity)).c_str(), F_OK) != 0; }))
        << "left a zombie";
}

} // namespace
