#include "platform/FileText.h"
#include "platform/Preferences.h"
#include "tests/platform/ScopedEnv.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using corvane::test::ScopedUserFolders;
using corvane::test::TempDir;
using corvane::test::FolderEntries;
using corvane::test::ReadText;

TEST(Preferences, DefaultsWithoutFileAndReadsCreateNothing)
{
    ScopedUserFolders folders;
    const struct {
        const char* name;
        int32_t defaultValue;
    } cases[] = {
        {"OSC Base Port", 7000},         {"Enable eye candy", 1},     {"Enable constant redraw", 1},
        {"Enable floating tooltip", 0}, {"VC output arrangement", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(corvane::ReadPrefInt(c.name, c.defaultValue), c.defaultValue) << c.name;
    std::string skin = "unchanged";
    EXPECT_FALSE(corvane::ReadSkinPref(skin));
    EXPECT_EQ(skin, "unchanged");
    EXPECT_TRUE(FolderEntries(folders.ConfigHome()).empty());

    // Also when the config home itself does not exist yet.
    std::string missing = folders.ConfigHome() + "/not-yet";
    setenv("XDG_CONFIG_HOME", missing.c_str(), 1);
    EXPECT_EQ(corvane::ReadPrefInt("OSC Base Port", 7000), 7000);
    EXPECT_FALSE(fs::exists(missing));
}

TEST(Preferences, IntegerValuesParseStrictly)
{
    ScopedUserFolders folders;
    const struct {
        const char* text;
        int32_t expected;
    } cases[] = {
        {"7100", 7100},         {" 42 ", 42},           {"42\r", 42},          {"-5", -5},
        {"+8", 8},              {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
        {"2147483648", -1},     {"99999999999", -1},    {"", -1},              {"abc", -1},
        {"12abc", -1},          {"1.5", -1},            {"0x10", -1},          {"1 2", -1},
        {"1,0", -1},            {"--1", -1},
    };
    for (const auto& c : cases) {
        folders.WritePreference("VC output arrangement", c.text);
        EXPECT_EQ(corvane::ReadPrefInt("VC output arrangement", -1), c.expected) << "'" << c.text << "'";
    }
}

TEST(Preferences, WrittenValueReadsBackAndOtherLinesAreKept)
{
    ScopedUserFolders folders;
    std::string path = corvane::GetPreferencesPath();
    ASSERT_EQ(path, folders.ConfigHome() + "/Ormbury/com.ormbury.Corvane2.conf");
    fs::create_directories(fs::path(path).parent_path());
    {
        std::ofstream out(path);
        out << "# my notes\nSkin=Dark\nOSC Base Port=1\nsomething odd\nOSC Base Port=2\nUnknown=x";
    }
    ASSERT_TRUE(corvane::WritePrefInt("OSC Base Port", 9000));
    EXPECT_EQ(corvane::ReadPrefInt("OSC Base Port", 7000), 9000);
    // In place of the first line of that name; later duplicates go; the
    // other lines stay as they were.
    EXPECT_EQ(ReadText(path), "# my notes\nSkin=Dark\nOSC Base Port=9000\nsomething odd\nUnknown=x\n");

    ASSERT_TRUE(corvane::WritePrefInt("Enable eye candy", 0));
    EXPECT_EQ(corvane::ReadPrefInt("Enable eye candy", 1), 0);
    EXPECT_EQ(corvane::ReadPrefInt("OSC Base Port", 7000), 9000);
    std::string skin;
    EXPECT_TRUE(corvane::ReadSkinPref(skin));
    EXPECT_EQ(skin, "Dark");

    // Names that cannot be stored as a line are refused.
    EXPECT_FALSE(corvane::WritePrefInt("a=b", 1));
    EXPECT_FALSE(corvane::WritePrefInt("a\nb", 1));
    EXPECT_FALSE(corvane::WritePrefInt("", 1));
}

TEST(Preferences, AnotherProcessReadsTheWrittenValue)
{
    ScopedUserFolders folders;
    ASSERT_TRUE(corvane::WritePrefInt("OSC Base Port", 8123));
    ASSERT_TRUE(corvane::WriteSkinPref("Night Sky"));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string skin;
        bool ok = corvane::ReadPrefInt("OSC Base Port", 7000) == 8123 && corvane::ReadSkinPref(skin) &&
                  skin == "Night Sky";
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // And the other way round: a value another process wrote is read afresh.
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(corvane::WritePrefInt("OSC Base Port", 7400) ? 0 : 1);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(corvane::ReadPrefInt("OSC Base Port", 7000), 7400);
}

TEST(Preferences, SkinValue)
{
    ScopedUserFolders folders;
    std::string longName(300, 's');
    ASSERT_TRUE(corvane::WriteSkinPref(longName));
    std::string skin;
    ASSERT_TRUE(corvane::ReadSkinPref(skin));
    EXPECT_EQ(skin, std::string(255, 's'));

    // The cut keeps whole UTF-8 characters.
    ASSERT_TRUE(corvane::WriteSkinPref(std::string(254, 'a') + "\xC3\xA9" + "zz"));
    ASSERT_TRUE(corvane::ReadSkinPref(skin));
    EXPECT_EQ(skin, std::string(254, 'a'));

    // An empty value is a value.
    ASSERT_TRUE(corvane::WriteSkinPref(""));
    skin = "before";
    EXPECT_TRUE(corvane::ReadSkinPref(skin));
    EXPECT_EQ(skin, "");

    // A line break would make a second line: refused, the old value stays.
    ASSERT_TRUE(corvane::WriteSkinPref("Dark"));
    EXPECT_FALSE(corvane::WriteSkinPref("Dark\nOSC Base Port=1"));
    EXPECT_TRUE(corvane::ReadSkinPref(skin));
    EXPECT_EQ(skin, "Dark");
    EXPECT_EQ(corvane::ReadPrefInt("OSC Base Port", 7000), 7000);

    // Files written by hand: line ends of another system, blanks around the
    // value, and a name given twice (the last line counts).
    const std::pair<const char*, const char*> files[] = {
        {"Skin=Night\r\nOSC Base Port=1\r\n", "Night"},
        {"Skin = \tNight Sky \r\n", "Night Sky"},
        {"Skin=Day\nSkin=Night\n", "Night"},
    };
    const std::string path = corvane::GetPreferencesPath();
    for (const auto& [text, expected] : files) {
        std::ofstream(path) << text;
        EXPECT_TRUE(corvane::ReadSkinPref(skin)) << text;
        EXPECT_EQ(skin, expected) << text;
    }
}

TEST(Preferences, WritesReplaceTheFileWhole)
{
    ScopedUserFolders folders;
    // A long file, so that a write in place would be seen half done.
    std::string filler;
    for (int i = 0; i < 3000; ++i)
        filler += "Filler " + std::to_string(i) + "=" + std::to_string(i) + "\n";
    std::string path = corvane::GetPreferencesPath();
    fs::create_directories(fs::path(path).parent_path());
    {
        std::ofstream out(path);
        out << filler;
    }
    std::atomic<bool> writing{true};
    std::atomic<int> badReads{0};
    std::thread reader([&] {
        while (writing.load()) {
            if (corvane::ReadPrefInt("Filler 2999", -1) != 2999)
                badReads.fetch_add(1);
        }
    });
    std::thread secondWriter([&] {
        for (int i = 0; i < 40; ++i)
            corvane::WritePrefInt("Enable eye candy", i);
    });
    for (int i = 0; i < 40; ++i)
        EXPECT_TRUE(corvane::WritePrefInt("OSC Base Port", 7000 + i));
    secondWriter.join();
    writing.store(false);
    reader.join();
    EXPECT_EQ(badReads.load(), 0);
    // Both writers' last values survived (no lost update) and no temporary
    // file was left behind.
    EXPECT_EQ(corvane::ReadPrefInt("OSC Base Port", 0), 7039);
    EXPECT_EQ(corvane::ReadPrefInt("Enable eye candy", 0), 39);
    EXPECT_EQ(FolderEntries(fs::path(path).parent_path().string()),
              std::vector<std::string>{"com.ormbury.Corvane2.conf"});
}

TEST(Preferences, UnusableFilesGiveDefaults)
{
    ScopedUserFolders folders;
    std::string path = corvane::GetPreferencesPath();
    fs::create_directories(fs::path(path).parent_path());

    // A FIFO in place of the file must not block a read.
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(corvane::ReadPrefInt("OSC Base Port", 7000), 7000);
    fs::remove(path);

    // A folder in its place.
    fs::create_directories(path);
    EXPECT_EQ(corvane::ReadPrefInt("OSC Base Port", 7000), 7000);
    EXPECT_FALSE(corvane::WritePrefInt("OSC Base Port", 1));
    fs::remove(path);

    // A file we may not read is not replaced by one holding a single value.
    if (geteuid() != 0) {
        {
            std::ofstream out(path);
            out << "Skin=Mine\n";
        }
        chmod(path.c_str(), 0200);
        EXPECT_EQ(corvane::ReadPrefInt("OSC Base Port", 7000), 7000);
        EXPECT_FALSE(corvane::WritePrefInt("OSC Base Port", 1));
        chmod(path.c_str(), 0600);
        EXPECT_EQ(ReadText(path), "Skin=Mine\n");
    }
}

TEST(Preferences, NoConfigFolderMeansNoFileWork)
{
    ScopedUserFolders folders;
    ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", nullptr);
    TempDir cwd;
    std::string oldCwd = fs::current_path().string();
    fs::current_path(cwd.Path());
    EXPECT_EQ(corvane::GetPreferencesPath(), "");
    EXPECT_FALSE(corvane::WritePrefInt("OSC Base Port", 1));
    EXPECT_FALSE(corvane::WriteSkinPref("Dark"));
    EXPECT_EQ(corvane::ReadPrefInt("OSC Base Port", 7000), 7000);
    EXPECT_TRUE(FolderEntries(cwd.Path()).empty());
    fs::current_path(oldCwd);

    // A relative XDG_CONFIG_HOME is ignored in favour of HOME.
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    setenv("HOME", cwd.Path().c_str(), 1);
    EXPECT_EQ(corvane::GetPreferencesPath(), cwd.Path() + "/.config/Ormbury/com.ormbury.Corvane2.conf");
}

// A file of exactly the limit is read whole (the growth check counts what
// was read so far, not the last chunk); one byte more is refused.
TEST(FileText, AFileOfExactlyTheLimitIsRead)
{
    ScopedUserFolders folders;
    const std::string path = folders.ConfigHome() + "/limit.txt";
    std::ofstream(path) << std::string(5000, 'x');
    std::string text;
    EXPECT_EQ(corvane::ReadWholeFile(path, 5000, text), corvane::FileRead::Ok);
    EXPECT_EQ(text.size(), 5000u);
    EXPECT_EQ(corvane::ReadWholeFile(path, 4999, text), corvane::FileRead::TooLarge);
}
