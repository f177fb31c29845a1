#include "platform/MessageBox.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Debug.h"

extern char** environ;

namespace corvane::platform {

namespace {

struct Script {
    std::mutex lock;
    bool active = false;
    std::deque<MessageBoxAnswer> answers;
    std::vector<std::string> questions;
};

Script& Scripted()
{
    static Script script;
    return script;
}

// zenity's exit status: 0 Yes, 1 No; -1 when it could not be asked.
int AskZenity(const std::string& title, const std::string& text)
{
    const char* display = getenv("DISPLAY");
    if (!display || !*display)
        return -1;
    const std::string titleArg = "--title=" + title;
    const std::string textArg = "--text=" + text;
    char* argv[] = {const_cast<char*>("zenity"), const_cast<char*>("--question"), const_cast<char*>("--no-markup"),
                    const_cast<char*>(titleArg.c_str()), const_cast<char*>(textArg.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1; // a host that reaps our children: the answer is lost
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

MessageBoxAnswer AskYesNo(const std::string& title, const std::string& text)
{
    {
        Script& script = Scripted();
        std::lock_guard<std::mutex> guard(script.lock);
        if (script.active) {
            script.questions.push_back(title + ": " + text);
            if (script.answers.empty())
                return MessageBoxAnswer::kNo;
            const MessageBoxAnswer answer = script.answers.front();
            script.answers.pop_front();
            return answer;
        }
    }
    const int status = AskZenity(title, text);
    if (status == 0)
        return MessageBoxAnswer::kYes;
    if (status != 1)
        DebugPrintf("%s: %s\n(no one to ask: the answer is No)\n", title.c_str(), text.c_str());
    return MessageBoxAnswer::kNo;
}

ScopedScriptedAnswers::ScopedScriptedAnswers(std::vector<MessageBoxAnswer> answers)
{
    Script& script = Scripted();
    std::lock_guard<std::mutex> guard(script.lock);
    script.active = true;
    script.answers.assign(answers.begin(), answers.end());
    script.questions.clear();
}

ScopedScriptedAnswers::~ScopedScriptedAnswers()
{
    Script& script = Scripted();
    std::lock_guard<std::mutex> guard(script.lock);
    script.active = false;
    script.answers.clear();
}

std::vector<std::string> ScopedScriptedAnswers::Questions() const
{
    Script& script = Scripted();
    std::lock_guard<std::mutex> guard(script.lock);
    return script.questions;
}

} // namespace corvane::platform
