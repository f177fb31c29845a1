#include "platform/Spawn.h"

#include "platform/Debug.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace corvane::platform {

namespace {

// The program as execvp would find it, or empty.
std::string FindProgram(const std::string& name)
{
    if (name.empty())
        return std::string();
    if (name.find('/') != std::string::npos)
        return access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char* path = getenv("PATH");
    std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t end = folders.find(':', start);
        std::string folder = folders.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            return std::string();
        start = end + 1;
    }
}

// Starts argv and waits for that process to end. Returns its exit status, or
// -1 when it could not be started.
int SpawnAndWait(const std::vector<std::string>& argv)
{
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (const std::string& arg : argv)
        pointers.push_back(const_cast<char*>(arg.c_str()));
    pointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    pid_t pid = -1;
    int error = posix_spawnp(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        DebugPrintf("failed to start %s: %s\n", argv[0].c_str(), strerror(error));
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        // A host that ignores SIGCHLD, or reaps every child in its handler,
        // has already collected it; it started, and that is all we know.
        if (errno == ECHILD)
            return 0;
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

bool SpawnDetached(const std::vector<std::string>& argv)
{
    if (argv.empty() || argv[0].empty())
        return false;
    // setsid would only find out in its grandchild, where nobody hears of it.
    if (FindProgram(argv[0]).empty()) {
        DebugPrintf("failed to start %s: program not found\n", argv[0].c_str());
        return false;
    }
    // "setsid -f" forks, lets the child start the program and exits at once;
    // we reap setsid here and the program belongs to init from then on.
    std::vector<std::string> command{"setsid", "-f", "--"};
    command.insert(command.end(), argv.begin(), argv.end());
    return SpawnAndWait(command) == 0;
}

bool OpenUrl(const std::string& url)
{
    if (url.empty())
        return false;
    return SpawnDetached({"xdg-open", url});
}

bool OpenFolder(const std::string& path)
{
    if (path.empty())
        return false;
    return SpawnDetached({"xdg-open", path});
}

} // namespace corvane::platform
