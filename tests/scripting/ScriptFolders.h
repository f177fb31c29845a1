// Writing user MIDI scripts for the Lua tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace corvane::test {

// Writes a script into the user's Scripts folder of `pluginName` below the
// data folder `dataHome` (see ScopedUserFolders).
inline void WriteUserScript(const std::string& dataHome, const std::string& pluginName, const std::string& fileName,
                            const std::string& text)
{
    const std::filesystem::path folder = std::filesystem::path(dataHome) / "Ormbury" / pluginName / "Scripts";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / fileName) << text;
}

} // namespace corvane::test
