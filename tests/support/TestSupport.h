// Helpers shared by the test binaries.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace corvane::test {

// Path of the built module and of the command-line host.
const char* ModulePath();
const char* HostPath();
const char* SourceDir();

// A fresh temporary folder, removed (with everything in it) on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path; }
    // Writes a file below the folder, creating parent folders.
    void WriteFile(const std::string& relativePath, const std::string& content) const;

private:
    std::string path;
};

// Points XDG_CONFIG_HOME and XDG_DATA_HOME at fresh temporary folders for the
// lifetime of the object and restores the old values afterwards. Writes an
// "OSC Base Port" preference when basePort is non-zero.
class ScopedUserFolders {
public:
    explicit ScopedUserFolders(int basePort = 0);
    ~ScopedUserFolders();
    const std::string& ConfigHome() const { return config.Path(); }
    const std::string& DataHome() const { return data.Path(); }
    void WritePreference(const std::string& name, const std::string& value) const;

private:
    TempDir config;
    TempDir data;
    std::string oldConfig, oldData;
    bool hadConfig = false, hadData = false;
};

// Sets an environment variable while alive and puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name, old;
    bool had = false;
};

// Captures what is written to file descriptor `fd` while alive (standard
// output's or standard error's stdio buffer is flushed at both ends).
class FdCapture {
public:
    explicit FdCapture(int fd);
    ~FdCapture();
    FdCapture(const FdCapture&) = delete;
    FdCapture& operator=(const FdCapture&) = delete;
    // Everything captured so far; ends the capture on first call.
    std::string Text();
    // Everything captured so far; the capture goes on.
    std::string SoFar();

private:
    void Flush();

    int fd;
    int savedFd = -1;
    std::string path;
    bool done = false;
    std::string text;
};

// Captures what is written to standard error (file descriptor 2) while alive.
class StderrCapture : public FdCapture {
public:
    StderrCapture() : FdCapture(2) {}
};

// A FIFO a script reads a line from, to hold it inside a call until the test
// lets it go: made by the constructor, let go at the latest by the destructor
// (a failing test leaves no reader behind).
class FifoGate {
public:
    explicit FifoGate(std::string path);
    ~FifoGate() { Release(); }
    FifoGate(const FifoGate&) = delete;
    // The Lua statement that holds the script.
    std::string Hold() const { return "os.execute(\"head -n 1 '" + path + "' > /dev/null\")"; }
    // Whether a reader came (within 30 s).
    bool WaitUntilHeld();
    void Release();

private:
    std::string path;
    int writer = -1;
};

// A whole file's bytes ("" when it cannot be read).
std::string ReadText(const std::string& path);
// The names in a folder, sorted (none when it cannot be read).
std::vector<std::string> FolderEntries(const std::string& folder);
// This process's threads and open file descriptors when made.
struct ProcessResources {
    size_t threads = FolderEntries("/proc/self/task").size();
    size_t descriptors = FolderEntries("/proc/self/fd").size();
    bool operator==(const ProcessResources&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const ProcessResources& r)
    {
        return out << r.threads << " threads, " << r.descriptors << " descriptors";
    }
};

// A range of 40 UDP ports (base .. base + 39, within 10000..29999) that no
// other test process holds, the same for the whole process: reserved by a
// lock file per range that lives as long as the process, and free of bound
// sockets when taken.
int UniquePortBase();
// Whether a UDP socket could bind `port` on every address now.
bool UdpPortFree(int port);
// Reserves a further range, trying range `firstBlock` (0..499) first and
// walking on; -1 when every range is held or in use.
int ReservePortBlock(int firstBlock);

// Runs a command through /bin/sh, returns its exit status and output.
int RunCommand(const std::string& command, std::string* output = nullptr);

} // namespace corvane::test
