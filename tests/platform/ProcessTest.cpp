// The clock and program start-up stand-ins.
#include "platform/Clock.h"
#include "platform/Spawn.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using corvane::test::TempDir;

namespace {

// Waits (up to a generous limit) for a file the spawned program writes.
bool WaitForFile(const std::string& path)
{
    for (int i = 0; i < 1000; ++i) {
        if (fs::exists(path))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool NoChildLeft()
{
    int status;
    return waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

} // namespace

TEST(Clock, CountsElapsedTimeNotProcessorTime)
{
    double before = corvane::platform::SecondsSinceModuleLoad();
    std::clock_t cpuBefore = std::clock();
    EXPECT_GE(before, 0.0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    double after = corvane::platform::SecondsSinceModuleLoad();
    // A sleep takes at least its time on the monotonic clock; clock() would
    // hardly have moved.
    EXPECT_GE(after - before, 0.030);
    EXPECT_LT(static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC, after - before);
    EXPECT_GE(corvane::platform::MillisecondsSinceModuleLoad(), static_cast<int64_t>(after * 1000.0));
}

TEST(Spawn, StartsProgramsWithTheirArgumentsVerbatimAndLeavesNoChild)
{
    TempDir dir;
    // Shell syntax in an argument is just text.
    std::string path = dir.Path() + "/a b; touch injected $(x)";
    ASSERT_TRUE(corvane::platform::SpawnDetached({"touch", path}));
    EXPECT_TRUE(WaitForFile(path));
    EXPECT_FALSE(fs::exists("injected"));
    EXPECT_TRUE(NoChildLeft());

    EXPECT_FALSE(corvane::platform::SpawnDetached({"corvane-no-such-program"}));
    EXPECT_FALSE(corvane::platform::SpawnDetached({}));
    EXPECT_TRUE(NoChildLeft());
}

TEST(Spawn, OurDescriptorsDoNotLiveOnInTheProgram)
{
    TempDir dir;
    // A descriptor without close-on-exec, as a host or library may leave one.
    int fd = open(dir.Path().c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(dup2(fd, 200), 200);
    close(fd);
    std::string out = dir.Path() + "/fds";
    std::string script = "import os, sys\nfds = sorted(int(f) for f in os.listdir('/proc/self/fd'))\n"
                         "open(sys.argv[1] + '.tmp', 'w').write(' '.join(map(str, fds)))\n"
                         "os.rename(sys.argv[1] + '.tmp', sys.argv[1])\n";
    ASSERT_TRUE(corvane::platform::SpawnDetached({"python3", "-c", script, out}));
    close(200);
    ASSERT_TRUE(WaitForFile(out));
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    std::istringstream numbers(text.str());
    int number;
    while (numbers >> number)
        EXPECT_NE(number, 200) << text.str();
}
