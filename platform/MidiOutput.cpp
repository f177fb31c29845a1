#include "platform/MidiOutput.h"

#include <mutex>

namespace corvane::platform {

namespace {

std::mutex gSystemLock;
std::shared_ptr<MidiOutputSystem> gInstalled; // guarded by gSystemLock; null: the machine's

std::shared_ptr<MidiOutputSystem> CurrentSystem()
{
    std::lock_guard<std::mutex> guard(gSystemLock);
    if (!gInstalled)
        gInstalled = MakeRtMidiOutputSystem();
    return gInstalled;
}

} // namespace

std::vector<std::string> ListMidiOutputDevices()
{
    return CurrentSystem()->ListDevices();
}

std::unique_ptr<MidiOutput> OpenMidiOutput(const std::string& name)
{
    return CurrentSystem()->Open(name);
}

void InstallMidiOutputSystem(std::shared_ptr<MidiOutputSystem> system)
{
    std::lock_guard<std::mutex> guard(gSystemLock);
    gInstalled = std::move(system);
}

} // namespace corvane::platform
