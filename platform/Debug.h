// Diagnostic output. DebugPrintf stands in for the debugger output: one write
// of the formatted text to standard error per call, safe from any thread.
#pragma once

namespace corvane {

void DebugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints once per call site; for checks at the host boundary that would
// otherwise flood the log on every block.
#define CORVANE_LOG_ONCE(...)                                  \
    do {                                                       \
        static std::atomic<bool> corvaneLogged_{false};        \
        if (!corvaneLogged_.exchange(true))                    \
            ::corvane::DebugPrintf(__VA_ARGS__);               \
    } while (0)

} // namespace corvane

#include <atomic>
