// Helpers shared by the host tests.
#pragma once

#include <memory>
#include <string>

#include "host/VstHost.h"
#include "tests/support/PluginTestSupport.h"

namespace corvane::test {

// Runs a shell command with standard output and standard error kept apart.
struct CommandResult {
    int status = -1;
    std::string out, err;
};
CommandResult RunShell(const std::string& command);

// Single-quoted for /bin/sh.
std::string Quoted(const std::string& text);

// The DC plug-in (id 'QZs0'), or null while the module offers only a
// stand-in for it.
std::unique_ptr<host::Plugin> CreateDC();

} // namespace corvane::test
