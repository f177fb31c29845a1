// Helpers of the Lua tests: user MIDI scripts, waiting for what another
// thread does, and the lines of captured output.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

// Polls `condition`; false when it still fails after 30 s (a failure, never a
// measured time: the bound only keeps a broken build from hanging, and must
// hold on a loaded two-core machine under the sanitizers).
inline bool WaitFor(const std::function<bool()>& condition)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// The lines of `text` that start with `prefix` (all of them for ""), without it.
inline std::vector<std::string> Lines(const std::string& text, const std::string& prefix = "")
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        if (line.rfind(prefix, 0) == 0)
            lines.push_back(line.substr(prefix.size()));
    return lines;
}

} // namespace corvane::test
