// What the built module asks of and offers to the process it is loaded into:
// no symbol of a library it carries inside (a host's copy would get those
// calls), only its two entry points offered, and the shared libraries it
// needs are the expected set.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

using corvane::test::ModulePath;
using corvane::test::RunCommand;

namespace {

// The libraries built into the module, by the names their symbols have
// (demangled).
struct PrivateLibrary {
    const char* name;
    const char* symbols; // regular expression
};
const PrivateLibrary kPrivateLibraries[] = {
    {"Lua", "^(lua|luaL|luaopen)_"},
    {"oscpack", "(^|[^A-Za-z0-9_])osc::"},
    {"RtMidi", "RtMidi|Midi(In|Out)?Api|Midi(In|Out)Alsa"},
    {"libepoxy", "^epoxy_"},
    {"FTGL", "(^|[^A-Za-z0-9_])FT[A-Z][A-Za-z]*::"},
};

// One symbol name per line of `nm -D` with the given options, versions cut.
std::vector<std::string> DynamicSymbols(const std::string& file, const std::string& options)
{
    std::string output;
    EXPECT_EQ(RunCommand("nm -D --demangle " + options + " '" + file + "'", &output), 0) << output;
    std::vector<std::string> names;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        // 16 columns of address (blank when undefined), the type letter, the
        // name (with spaces once demangled).
        constexpr size_t kNameColumn = 19;
        if (line.size() <= kNameColumn)
            continue;
        std::string name = line.substr(kNameColumn);
        if (const size_t at = name.find('@'); at != std::string::npos)
            name.erase(at);
        names.push_back(name);
    }
    return names;
}

std::vector<std::string> Matching(const std::vector<std::string>& names, const PrivateLibrary& library)
{
    const std::regex pattern(library.symbols);
    std::vector<std::string> matches;
    for (const std::string& name : names)
        if (std::regex_search(name, pattern))
            matches.push_back(name);
    return matches;
}

std::string Joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += "\n  " + name;
    return text;
}

} // namespace

TEST(ModuleSymbols, NoSymbolOfAPrivateLibraryIsImportedOrOffered)
{
    const std::vector<std::string> imported = DynamicSymbols(ModulePath(), "--undefined-only");
    const std::vector<std::string> offered = DynamicSymbols(ModulePath(), "--defined-only");
    ASSERT_GT(imported.size(), 50u); // the C library and the rest are still there
    for (const PrivateLibrary& library : kPrivateLibraries) {
        EXPECT_TRUE(Matching(imported, library).empty())
            << library.name << " symbols the module imports:" << Joined(Matching(imported, library));
        EXPECT_TRUE(Matching(offered, library).empty())
            << library.name << " symbols the module offers:" << Joined(Matching(offered, library));
    }
    EXPECT_EQ(std::set<std::string>(offered.begin(), offered.end()),
              (std::set<std::string>{"VSTPluginMain", "main"}));
}

// The check sees what it looks for: the foreign-Lua host offers Lua's
// functions to everything it loads.
TEST(ModuleSymbols, TheCheckFindsTheForeignHostsLua)
{
    const std::vector<std::string> offered = DynamicSymbols(CORVANE_FOREIGN_HOST_PATH, "--defined-only");
    const std::vector<std::string> lua = Matching(offered, kPrivateLibraries[0]);
    EXPECT_NE(std::find(lua.begin(), lua.end(), "lua_newstate"), lua.end()) << Joined(lua);
    EXPECT_NE(std::find(lua.begin(), lua.end(), "luaL_openlibs"), lua.end()) << Joined(lua);
}

TEST(ModuleSymbols, TheModuleNeedsOnlyTheExpectedSharedLibraries)
{
    // What every machine that runs a Linux DAW has; a process holds each once.
    // Not libGL: a machine without it still runs the plug-ins (libepoxy loads
    // it for an editor).
    std::set<std::string> expected = {"libasound.so.2",     "libpng16.so.16",   "libX11.so.6",
                                      "libfontconfig.so.1", "libfreetype.so.6", "libstdc++.so.6",
                                      "libm.so.6",          "libgcc_s.so.1",    "libc.so.6"};
    // Present when the code uses thread-local storage the way the build lays
    // it out, absent otherwise.
    const std::set<std::string> optional = {"ld-linux-x86-64.so.2"};
    // The sanitizer runtimes, by name without their version.
    std::vector<std::string> runtimes;
    if (std::string(CORVANE_SANITIZER) == "address")
        runtimes = {"libasan.so.", "libubsan.so."};
    else if (std::string(CORVANE_SANITIZER) == "thread")
        runtimes = {"libtsan.so."};

    std::string output;
    ASSERT_EQ(RunCommand(std::string("readelf -d '") + ModulePath() + "'", &output), 0) << output;
    const std::regex neededLine(R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
    std::set<std::string> needed;
    for (std::sregex_iterator it(output.begin(), output.end(), neededLine), end; it != end; ++it)
        needed.insert((*it)[1]);
    for (const std::string& prefix : runtimes) {
        const auto found = std::find_if(needed.begin(), needed.end(),
                                        [&](const std::string& name) { return name.rfind(prefix, 0) == 0; });
        EXPECT_NE(found, needed.end()) << prefix;
        if (found != needed.end())
            expected.insert(*found);
    }
    for (const std::string& name : optional)
        if (needed.count(name))
            expected.insert(name);
    EXPECT_EQ(needed, expected);
}
