#include "platform/ZenityDialog.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Debug.h"
#include "platform/FileText.h"
#include "platform/NumberText.h"

extern char** environ;

namespace corvane::platform {

namespace {

// zenity prints a path or one line of text; far more is not an answer.
constexpr size_t kMaxOutput = 64 * 1024;

// zenity's entry prompt is a label with mnemonics: '_' marks the next
// letter and vanishes unless doubled.
std::string EscapeMnemonics(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (c == '_')
            escaped += '_';
        escaped += c;
    }
    return escaped;
}

// zenity's list text is Pango markup.
std::string EscapeMarkup(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&apos;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

// zenity's filter syntax: "NAME | PATTERN PATTERN ...". A Windows "*.*"
// means every file, which here is "*".
std::string FilterArgument(const FileFilter& filter)
{
    const std::string pattern = filter.pattern == "*.*" ? "*" : filter.pattern;
    return "--file-filter=" + filter.name + " | " + pattern;
}

int ExitCode(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// An in-memory file holding text, positioned at its start; -1 on failure.
int MemoryFile(const std::string& text)
{
    int fd = memfd_create("corvane-dialog", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    if (!WriteAll(fd, text) || lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

class ZenityDialog : public PendingDialog {
public:
    ZenityDialog(pid_t pid, int outputFd, DialogKind kind, size_t rowCount, std::string defaultExtension)
        : pid(pid), outputFd(outputFd), kind(kind), rowCount(rowCount), defaultExtension(std::move(defaultExtension))
    {
        // A handle on this very process: should the host reap it behind our
        // back, its number may come to name another process, which a kill
        // by number would hit.
        processFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    }

    ~ZenityDialog() override
    {
        if (!reaped) {
            // SIGKILL cannot be caught or blocked: the process is gone once
            // the kernel has run the kill, and the wait only collects it.
            if (processFd >= 0)
                syscall(SYS_pidfd_send_signal, processFd, SIGKILL, nullptr, 0);
            else
                kill(pid, SIGKILL);
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        if (processFd >= 0)
            close(processFd);
        if (outputFd >= 0)
            close(outputFd);
    }

    bool Poll(DialogAnswer* answer) override
    {
        if (!reaped) {
            ReadAvailable();
            int status = 0;
            const pid_t result = waitpid(pid, &status, WNOHANG);
            if (result == 0 || (result < 0 && errno == EINTR))
                return false;
            // ECHILD: a host that reaps every child (or ignores SIGCHLD) has
            // taken the status; what zenity printed still tells OK from
            // Cancel for every dialog that prints on OK.
            reaped = true;
            const int exitCode = result == pid ? ExitCode(status) : (output.empty() ? -1 : 0);
            // Everything zenity wrote is in the pipe now. Its end may stay
            // open in a helper zenity started, so read what is there rather
            // than wait for the end.
            ReadAvailable();
            final = ParseZenityAnswer(kind, exitCode, output, rowCount);
            if (kind == DialogKind::SaveFile && final.accepted)
                final.text = WithDefaultExtension(final.text, defaultExtension);
        }
        if (answer)
            *answer = final;
        return true;
    }

    // The process handle is readable once the process has ended; without
    // one, the end of its output (unless a helper it started holds it).
    int EndHandle() const override { return reaped ? -1 : processFd >= 0 ? processFd : outputFd; }

private:
    void ReadAvailable()
    {
        if (outputFd < 0)
            return;
        char buffer[4096];
        for (;;) {
            ssize_t n = read(outputFd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n == 0) { // the end: every writer has closed it
                    close(outputFd);
                    outputFd = -1;
                }
                return;
            }
            if (output.size() < kMaxOutput)
                output.append(buffer, std::min(static_cast<size_t>(n), kMaxOutput - output.size()));
        }
    }

    pid_t pid;
    int processFd = -1;
    int outputFd;
    DialogKind kind;
    size_t rowCount;
    std::string defaultExtension;
    std::string output;
    bool reaped = false;
    DialogAnswer final;
};

} // namespace

std::vector<std::string> ZenityArguments(const DialogRequest& request)
{
    std::vector<std::string> args{"zenity"};
    switch (request.kind) {
    case DialogKind::OpenFile:
    case DialogKind::SaveFile:
        args.push_back("--file-selection");
        if (request.kind == DialogKind::SaveFile) {
            args.push_back("--save");
            args.push_back("--confirm-overwrite");
        }
        for (const FileFilter& filter : request.filters)
            args.push_back(FilterArgument(filter));
        // A name ending in '/' opens that folder and chooses nothing in it.
        if (!request.folder.empty())
            args.push_back("--filename=" + request.folder + (request.folder.back() == '/' ? "" : "/"));
        break;
    case DialogKind::Message:
        args.push_back(request.icon == DialogIcon::Error ? "--error" : "--info");
        args.push_back("--no-markup");
        if (request.icon == DialogIcon::Plain)
            args.push_back("--icon-name=");
        args.push_back("--text=" + request.text);
        args.push_back("--width=320");
        break;
    case DialogKind::Entry:
        args.push_back("--entry");
        args.push_back("--text=" + EscapeMnemonics(request.text));
        args.push_back("--entry-text=" + request.initialText);
        // Room for an OSC target or a path.
        args.push_back("--width=420");
        break;
    case DialogKind::List:
        // A hidden first column carries the row number, so that rows with
        // equal texts stay apart.
        args.insert(args.end(), {"--list", "--text=" + EscapeMarkup(request.text), "--column=Row", "--column=Name",
                                 "--hide-column=1", "--print-column=1", "--hide-header", "--width=380",
                                 "--height=420"});
        break;
    }
    args.push_back("--title=" + request.title);
    args.push_back("--modal");
    if (request.ownerWindow != 0) {
        char owner[32];
        snprintf(owner, sizeof owner, "--attach=0x%lx", request.ownerWindow);
        args.push_back(owner);
    }
    return args;
}

std::string ZenityInput(const DialogRequest& request)
{
    if (request.kind != DialogKind::List)
        return std::string();
    std::string input;
    for (size_t i = 0; i < request.rows.size(); ++i) {
        std::string row = request.rows[i];
        for (char& c : row)
            if (c == '\n' || c == '\r')
                c = ' ';
        input += std::to_string(i) + "\n" + row + "\n";
    }
    return input;
}

DialogAnswer ParseZenityAnswer(DialogKind kind, int exitCode, const std::string& output, size_t rowCount)
{
    DialogAnswer answer;
    if (exitCode != 0)
        return answer;
    answer.accepted = true;
    std::string text = output;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (kind == DialogKind::List) {
        int32_t row = -1;
        if (ParseInt(text, row) && row >= 0 && static_cast<size_t>(row) < rowCount)
            answer.row = row;
        return answer;
    }
    if (kind != DialogKind::Message)
        answer.text = std::move(text);
    // A file chooser that says OK without a path has chosen nothing.
    if ((kind == DialogKind::OpenFile || kind == DialogKind::SaveFile) && answer.text.empty())
        answer.accepted = false;
    return answer;
}

std::unique_ptr<PendingDialog> StartZenityDialog(const DialogRequest& request)
{
    const std::vector<std::string> args = ZenityArguments(request);
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    int input = MemoryFile(ZenityInput(request));
    int output[2];
    if (input < 0 || pipe2(output, O_CLOEXEC) != 0) {
        DebugPrintf("dialog: %s\n", strerror(errno));
        if (input >= 0)
            close(input);
        return nullptr;
    }
    fcntl(output[0], F_SETFL, fcntl(output[0], F_GETFL) | O_NONBLOCK);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    // GTK's and dconf's warnings are not ours to show in the host's log.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // A host's blocked or ignored signals are inherited through exec; the
    // dialog gets the defaults.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(input);
    close(output[1]);
    if (error != 0) {
        close(output[0]);
        DebugPrintf("dialog: cannot start zenity: %s\n", strerror(error));
        return nullptr;
    }
    return std::make_unique<ZenityDialog>(pid, output[0], request.kind, request.rows.size(),
                                          request.defaultExtension);
}

} // namespace corvane::platform
