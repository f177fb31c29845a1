#include "platform/UserFolders.h"
#include "tests/platform/ScopedEnv.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using corvane::test::ScopedUserFolders;
using corvane::test::TempDir;

namespace {

void Touch(const std::string& path)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path);
    out << "-- script\n";
}

std::vector<std::string> FileNames(const std::vector<std::string>& paths)
{
    std::vector<std::string> names;
    for (const std::string& path : paths)
        names.push_back(fs::path(path).filename().string());
    return names;
}

} // namespace

TEST(UserFolders, FolderLayoutFollowsXdg)
{
    TempDir home;
    ScopedEnv homeVar("HOME", home.Path().c_str());
    const struct {
        const char* xdgData; // null: unset
        std::string expected;
    } cases[] = {
        {nullptr, home.Path() + "/.local/share"},
        {"", home.Path() + "/.local/share"},
        {"relative/data", home.Path() + "/.local/share"},
        {"/srv/data", "/srv/data"},
        {"/srv/data//", "/srv/data"},
    };
    for (const auto& c : cases) {
        ScopedEnv data("XDG_DATA_HOME", c.xdgData);
        EXPECT_EQ(corvane::GetUserDataFolder(), c.expected) << (c.xdgData ? c.xdgData : "(unset)");
    }
    ScopedEnv data("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(corvane::GetProductFolder("Corvane"), "/srv/data/Ormbury/Corvane");
    EXPECT_EQ(corvane::GetSkinsFolder("Corvane"), "/srv/data/Ormbury/Corvane/Skins");
    EXPECT_EQ(corvane::GetScriptsFolder("Corvane LFO"), "/srv/data/Ormbury/Corvane LFO/Scripts");
    // Names that would leave the maker folder name no folder.
    for (const char* bad : {"", ".", "..", "../etc", "a/b"})
        EXPECT_EQ(corvane::GetProductFolder(bad), "") << bad;
}

TEST(UserFolders, NoDataFolderMeansNoFolderWork)
{
    TempDir cwd;
    ScopedEnv data("XDG_DATA_HOME", nullptr);
    ScopedEnv home("HOME", nullptr);
    std::string oldCwd = fs::current_path().string();
    fs::current_path(cwd.Path());
    bool rootHadOrmbury = fs::exists("/Ormbury");

    EXPECT_EQ(corvane::GetUserDataFolder(), "");
    EXPECT_EQ(corvane::GetProductFolder("Corvane"), "");
    EXPECT_EQ(corvane::GetSkinsFolder("Corvane"), "");
    EXPECT_EQ(corvane::GetScriptsFolder("Corvane"), "");
    corvane::CreateUserFolders("Corvane");
    EXPECT_EQ(corvane::GetSkinBundlePath("Dark", "Corvane"), "");
    EXPECT_TRUE(corvane::EnumerateSkins("Corvane").empty());
    EXPECT_TRUE(corvane::EnumerateUserScripts("Corvane LFO").empty());

    EXPECT_TRUE(fs::is_empty(cwd.Path()));
    EXPECT_EQ(fs::exists("/Ormbury"), rootHadOrmbury);
    fs::current_path(oldCwd);
}

TEST(UserFolders, CreateUserFoldersMakesTheTree)
{
    TempDir base;
    std::string data = base.Path() + "/deep/share";
    ScopedEnv dataVar("XDG_DATA_HOME", data.c_str());
    corvane::CreateUserFolders("Corvane");
    EXPECT_TRUE(fs::is_directory(data + "/Ormbury/Corvane/Skins"));
    // Existing folders are kept with what they hold.
    Touch(data + "/Ormbury/Corvane/Skins/keep.txt");
    corvane::CreateUserFolders("Corvane");
    EXPECT_TRUE(fs::exists(data + "/Ormbury/Corvane/Skins/keep.txt"));
}

TEST(UserFolders, SkinsAreListedWithoutTheirEnding)
{
    ScopedUserFolders folders;
    std::string skins = corvane::GetSkinsFolder("Corvane");
    for (const char* entry : {"light.bundle", "Dark.bundle", ".bundle", "Mid.bundle", "Aqua.Bundle"})
        fs::create_directories(skins + "/" + entry);
    Touch(skins + "/notes.txt");
    Touch(skins + "/File.bundle");
    EXPECT_EQ(corvane::EnumerateSkins("Corvane"), (std::vector<std::string>{"Dark", "File", "light", "Mid"}));
    EXPECT_TRUE(corvane::EnumerateSkins("Other").empty());
}

TEST(UserFolders, SkinBundlePathPrefersThePlainName)
{
    ScopedUserFolders folders;
    std::string skins = corvane::GetSkinsFolder("Corvane");
    fs::create_directories(skins + "/Dark");
    fs::create_directories(skins + "/Dark.bundle");
    EXPECT_EQ(corvane::GetSkinBundlePath("Dark", "Corvane"), skins + "/Dark");
    fs::remove(skins + "/Dark");
    EXPECT_EQ(corvane::GetSkinBundlePath("Dark", "Corvane"), skins + "/Dark.bundle");
    fs::remove(skins + "/Dark.bundle");
    EXPECT_EQ(corvane::GetSkinBundlePath("Dark", "Corvane"), "");

    // A skin name from the preferences file cannot point outside the folder.
    fs::create_directories(folders.DataHome() + "/Ormbury/Corvane/Elsewhere.bundle");
    for (const char* bad : {"", ".", "..", "../Elsewhere", "../../Ormbury"})
        EXPECT_EQ(corvane::GetSkinBundlePath(bad, "Corvane"), "") << bad;
}

TEST(UserFolders, ScriptsAreSortedWhateverTheirCreationOrder)
{
    ScopedUserFolders folders;
    const std::vector<std::string> expected{"A.lua", "b.lua", "b.lua.lua", "B2.Lua", "c.LUA", "link.lua"};
    const std::vector<std::vector<std::string>> orders{
        {"c.LUA", "B2.Lua", "b.lua.lua", "b.lua", "A.lua"},
        {"A.lua", "b.lua", "b.lua.lua", "B2.Lua", "c.LUA"},
        {"b.lua.lua", "b.lua", "c.LUA", "A.lua", "B2.Lua"},
    };
    int plugin = 0;
    for (const auto& order : orders) {
        std::string name = "Corvane Test " + std::to_string(plugin++);
        std::string scripts = corvane::GetScriptsFolder(name);
        for (const std::string& file : order)
            Touch(scripts + "/" + file);
        fs::create_directories(scripts + "/folder.lua");         // a folder is no script
        Touch(scripts + "/notes.txt");                           // wrong ending
        Touch(scripts + "/lua");                                 // no ending
        ASSERT_EQ(mkfifo((scripts + "/pipe.lua").c_str(), 0600), 0); // not a regular file
        fs::create_symlink(scripts + "/A.lua", scripts + "/link.lua");
        fs::create_symlink(scripts + "/missing", scripts + "/dangling.lua");
        if (geteuid() != 0) {
            Touch(scripts + "/secret.lua");
            chmod((scripts + "/secret.lua").c_str(), 0200);
        }
        std::vector<std::string> found = corvane::EnumerateUserScripts(name);
        EXPECT_EQ(FileNames(found), expected);
        for (const std::string& path : found)
            EXPECT_EQ(fs::path(path).parent_path().string(), scripts);
    }
    EXPECT_TRUE(corvane::EnumerateUserScripts("Corvane Nothing").empty());
}
