// Loading and unloading the module within one host process, as hosts do
// when they rescan or close a project.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "host/VstHost.h"
#include "tests/scripting/ScriptFolders.h"
#include "tests/support/TestSupport.h"

using corvane::host::Module;
using corvane::host::Plugin;

namespace {

void UseEveryEntryOnce()
{
    std::string error;
    auto module = Module::Load(corvane::test::ModulePath(), &error);
    ASSERT_TRUE(module) << error;
    auto shell = Plugin::Create(*module, 0);
    ASSERT_TRUE(shell);
    const auto entries = shell->EnumerateShell();
    ASSERT_EQ(entries.size(), 25u);
    shell->Close();
    for (const auto& entry : entries) {
        auto plugin = Plugin::Create(*module, entry.id);
        ASSERT_TRUE(plugin) << entry.name;
        plugin->Start(48000, 256);
        std::vector<std::vector<float>> in(plugin->NumInputs(), std::vector<float>(256, 0.1f)), out;
        plugin->ProcessBlock(in, out, 256);
        plugin->SetParameter(0, 0.0f);
        auto chunk = plugin->GetChunk();
        plugin->SetChunk(chunk);
        EXPECT_EQ(plugin->Close(), 1);
    }
}

} // namespace

TEST(ModuleLifetime, LoadUseCloseUnloadTwice)
{
    corvane::test::ScopedUserFolders folders;
    UseEveryEntryOnce();
    UseEveryEntryOnce();
}

// How a child process ended: its exit code, or 128 + the signal that ended it.
int EndOf(pid_t child)
{
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(ModuleLifetime, UnloadWithAnInstanceStillOpenDoesNotCrash)
{
    // Hosts may exit or unload with instances alive; the process must carry
    // on. Done in a child so that what is deliberately left behind stays there.
    corvane::test::ScopedUserFolders folders;
    const pid_t child = fork();
    if (child == 0) {
        auto module = Module::Load(corvane::test::ModulePath());
        if (!module)
            _exit(2);
        Plugin* leaked = Plugin::Create(*module, vst::FourCC("QZs0")).release();
        if (!leaked)
            _exit(3);
        leaked->Start();
        module.reset(); // dlclose with the instance alive
        _exit(0);
    }
    EXPECT_EQ(EndOf(child), 0);
}

TEST(ModuleLifetime, UnloadWhileAClosedInstanceWaitsForItsScript)
{
    // A host may unload the module as soon as it has closed a plug-in kept
    // for a script blocked in a call: when the call returns, the plug-in is
    // freed by code that stays mapped until it has run, and the process then
    // has the threads it had before, and can load the module again.
    corvane::test::ScopedUserFolders folders;
    corvane::test::FifoGate gate(folders.DataHome() + "/hold");
    corvane::test::WriteUserScript(folders.DataHome(), "Corvane DC", "hold.lua",
                                   "requestTimedCallback(0, function() " + gate.Hold() + " end)\n");
    const pid_t child = fork();
    if (child == 0) {
        auto module = Module::Load(corvane::test::ModulePath());
        const corvane::test::ProcessResources before;
        auto plugin = Plugin::Create(*module, vst::FourCC("QZs0"));
        plugin->Start();
        if (!gate.WaitUntilHeld() || plugin->Close() != 1)
            _exit(2);
        plugin.reset();
        module.reset(); // dlclose while the kept instance waits
        gate.Release();
        if (!corvane::test::WaitFor([&] { return corvane::test::ProcessResources().threads == before.threads; }))
            _exit(3);
        module = Module::Load(corvane::test::ModulePath());
        if (!module || !Plugin::Create(*module, vst::FourCC("QZs0")))
            _exit(4);
        _exit(0);
    }
    EXPECT_EQ(EndOf(child), 0);
}
