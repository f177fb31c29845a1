#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>
#include <stdexcept>
#include <unistd.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace corvane::test {

const char* ModulePath() { return CORVANE_MODULE_PATH; }
const char* HostPath() { return CORVANE_HOST_PATH; }
const char* SourceDir() { return CORVANE_SOURCE_DIR; }

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "corvane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(path, ec);
}

void TempDir::WriteFile(const std::string& relativePath, const std::string& content) const
{
    fs::path full = fs::path(path) / relativePath;
    fs::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary);
    out << content;
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : name(name)
{
    if (const char* current = getenv(name)) {
        had = true;
        old = current;
    }
    setenv(name, value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment()
{
    if (had)
        setenv(name.c_str(), old.c_str(), 1);
    else
        unsetenv(name.c_str());
}

ScopedUserFolders::ScopedUserFolders(int basePort)
{
    if (const char* c = getenv("XDG_CONFIG_HOME")) {
        hadConfig = true;
        oldConfig = c;
    }
    if (const char* d = getenv("XDG_DATA_HOME")) {
        hadData = true;
        oldData = d;
    }
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    setenv("XDG_DATA_HOME", data.Path().c_str(), 1);
    if (basePort)
        WritePreference("OSC Base Port", std::to_string(basePort));
}

ScopedUserFolders::~ScopedUserFolders()
{
    if (hadConfig)
        setenv("XDG_CONFIG_HOME", oldConfig.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    if (hadData)
        setenv("XDG_DATA_HOME", oldData.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

void ScopedUserFolders::WritePreference(const std::string& name, const std::string& value) const
{
    fs::path file = fs::path(config.Path()) / "Ormbury" / "com.ormbury.Corvane2.conf";
    fs::create_directories(file.parent_path());
    // Replace an existing line of that name, keep the others.
    std::vector<std::string> lines;
    {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line))
            if (line.rfind(name + "=", 0) != 0)
                lines.push_back(line);
    }
    lines.push_back(name + "=" + value);
    std::ofstream out(file);
    for (const std::string& line : lines)
        out << line << "\n";
}

FdCapture::FdCapture(int fd) : fd(fd)
{
    char pattern[] = "/tmp/corvane-capture-XXXXXX";
    int file = mkstemp(pattern);
    if (file < 0)
        throw std::runtime_error("mkstemp failed");
    path = pattern;
    Flush();
    savedFd = dup(fd);
    dup2(file, fd);
    close(file);
}

FdCapture::~FdCapture()
{
    Text();
}

void FdCapture::Flush()
{
    fflush(fd == STDOUT_FILENO ? stdout : (fd == STDERR_FILENO ? stderr : nullptr));
}

std::string FdCapture::Text()
{
    if (!done) {
        Flush();
        dup2(savedFd, fd);
        close(savedFd);
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        text = ss.str();
        unlink(path.c_str());
        done = true;
    }
    return text;
}

std::string FdCapture::SoFar()
{
    if (done)
        return text;
    Flush();
    return ReadText(path);
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

FifoGate::FifoGate(std::string fifoPath) : path(std::move(fifoPath))
{
    if (mkfifo(path.c_str(), 0600) != 0)
        throw std::runtime_error("cannot make the FIFO " + path);
}

bool FifoGate::WaitUntilHeld()
{
    for (int tries = 0; tries < 30000 && (writer = open(path.c_str(), O_WRONLY | O_NONBLOCK)) < 0; ++tries)
        usleep(1000); // 30 s at least
    return writer >= 0;
}

void FifoGate::Release()
{
    if (writer < 0)
        writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer < 0)
        return;
    [[maybe_unused]] const ssize_t written = write(writer, "go\n", 3);
    close(writer);
    writer = -1;
}

std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

constexpr int kFirstPort = 10000;
constexpr int kBlockPorts = 40;
constexpr int kBlocks = 500;

} // namespace

bool UdpPortFree(int port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bound;
}

int ReservePortBlock(int firstBlock)
{
    // One lock file per block, shared by every test process on the machine
    // (whichever build or worktree it comes from). The lock is held by the
    // open descriptor, which is never closed: it ends with the process,
    // however the process ends.
    const char* folder = "/tmp/corvane-test-ports";
    mkdir(folder, 0777);
    for (int i = 0; i < kBlocks; ++i) {
        const int block = ((firstBlock % kBlocks) + kBlocks + i) % kBlocks;
        const int base = kFirstPort + block * kBlockPorts;
        const std::string path = std::string(folder) + "/" + std::to_string(base);
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            continue;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            continue;
        }
        // Held by no test process; something else may still use a port.
        bool free = true;
        for (int port = base; port < base + kBlockPorts && free; ++port)
            free = UdpPortFree(port);
        if (free)
            return base;
        close(fd);
    }
    return -1;
}

int UniquePortBase()
{
    static const int base = [] {
        const int reserved = ReservePortBlock(static_cast<int>(getpid() % kBlocks));
        return reserved > 0 ? reserved : kFirstPort + static_cast<int>(getpid() % kBlocks) * kBlockPorts;
    }();
    return base;
}

int RunCommand(const std::string& command, std::string* output)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, n);
    int status = pclose(pipe);
    if (output)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace corvane::test
