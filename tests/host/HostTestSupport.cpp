#include "tests/host/HostTestSupport.h"

#include <fstream>
#include <sstream>

#include "host/ParameterValue.h"
#include "tests/support/TestSupport.h"

namespace corvane::test {

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

CommandResult RunShell(const std::string& command)
{
    TempDir folder;
    const std::string out = folder.Path() + "/out", err = folder.Path() + "/err";
    CommandResult result;
    // RunCommand sends standard error to its pipe; the inner group keeps the
    // two streams apart.
    result.status = RunCommand("{ { " + command + " ; } >" + Quoted(out) + " 2>" + Quoted(err) + " ; }");
    result.out = ReadAll(out);
    result.err = ReadAll(err);
    return result;
}

std::unique_ptr<host::Plugin> CreateDC()
{
    auto dc = host::Plugin::Create(LoadedModule(), vst::FourCC("QZs0"));
    if (!dc || host::FindParameterByText(*dc, "Multiplier R") < 0)
        return nullptr;
    return dc;
}

} // namespace corvane::test
