#include "platform/Clock.h"

#include <chrono>

namespace corvane::platform {

namespace {

using Clock = std::chrono::steady_clock;

// A function-local static, so that a static initialiser elsewhere that asks
// for the time before this file's initialisers ran still gets a sound origin.
Clock::time_point LoadTime()
{
    static const Clock::time_point loadTime = Clock::now();
    return loadTime;
}

// Fixes the origin while the module loads, not at the first call.
[[maybe_unused]] const Clock::time_point fixOriginAtLoad = LoadTime();

} // namespace

double SecondsSinceModuleLoad()
{
    return std::chrono::duration<double>(Clock::now() - LoadTime()).count();
}

int64_t MillisecondsSinceModuleLoad()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - LoadTime()).count();
}

} // namespace corvane::platform
