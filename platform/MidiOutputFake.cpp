#include "platform/MidiOutputFake.h"

#include <algorithm>

namespace corvane::platform {

// A port keeps the fake's records alive, so it may outlive the fake.
class FakeMidiOutputSystem::Port final : public MidiOutput {
public:
    Port(std::shared_ptr<Shared> shared, std::string name) : shared(std::move(shared)), name(std::move(name)) {}
    ~Port() override
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        --shared->open;
        shared->changed.notify_all();
    }

    void Send(const MidiShortMessage& message) override
    {
        std::unique_lock<std::mutex> guard(shared->lock);
        if (shared->holding) {
            ++shared->heldSends;
            shared->changed.notify_all();
            shared->changed.wait(guard, [this] { return !shared->holding; });
            --shared->heldSends;
        }
        ++shared->sentCount;
        if (shared->recording)
            shared->sent.push_back({name, message});
        shared->changed.notify_all();
    }

private:
    std::shared_ptr<Shared> shared;
    std::string name;
};

FakeMidiOutputSystem::FakeMidiOutputSystem() : shared(std::make_shared<Shared>()) {}

void FakeMidiOutputSystem::AddDevice(const std::string& name)
{
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->devices.push_back(name);
}

std::vector<std::string> FakeMidiOutputSystem::ListDevices()
{
    std::lock_guard<std::mutex> guard(shared->lock);
    return shared->devices;
}

std::unique_ptr<MidiOutput> FakeMidiOutputSystem::Open(const std::string& name)
{
    std::lock_guard<std::mutex> guard(shared->lock);
    if (std::find(shared->devices.begin(), shared->devices.end(), name) == shared->devices.end())
        return nullptr;
    ++shared->opened;
    ++shared->open;
    shared->changed.notify_all();
    return std::make_unique<Port>(shared, name);
}

std::vector<FakeMidiOutputSystem::SentMessage> FakeMidiOutputSystem::Sent() const
{
    std::lock_guard<std::mutex> guard(shared->lock);
    return shared->sent;
}

size_t FakeMidiOutputSystem::SentCount() const
{
    std::lock_guard<std::mutex> guard(shared->lock);
    return shared->sentCount;
}

void FakeMidiOutputSystem::SetRecording(bool on)
{
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->recording = on;
}

void FakeMidiOutputSystem::ClearSent()
{
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->sent.clear();
    shared->sentCount = 0;
}

int FakeMidiOutputSystem::OpenedCount() const
{
    std::lock_guard<std::mutex> guard(shared->lock);
    return shared->opened;
}

int FakeMidiOutputSystem::OpenCount() const
{
    std::lock_guard<std::mutex> guard(shared->lock);
    return shared->open;
}

void FakeMidiOutputSystem::HoldSends()
{
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->holding = true;
}

void FakeMidiOutputSystem::ReleaseSends()
{
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->holding = false;
    shared->changed.notify_all();
}

bool FakeMidiOutputSystem::WaitForSentCount(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> guard(shared->lock);
    return shared->changed.wait_for(guard, timeout, [&] { return shared->sentCount >= count; });
}

bool FakeMidiOutputSystem::WaitForHeldSend(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> guard(shared->lock);
    return shared->changed.wait_for(guard, timeout, [&] { return shared->heldSends > 0; });
}

bool FakeMidiOutputSystem::WaitForOpenCount(int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> guard(shared->lock);
    return shared->changed.wait_for(guard, timeout, [&] { return shared->open == count; });
}

ScopedFakeMidiOutput::ScopedFakeMidiOutput() : fake(std::make_shared<FakeMidiOutputSystem>())
{
    InstallMidiOutputSystem(fake);
}

ScopedFakeMidiOutput::~ScopedFakeMidiOutput()
{
    InstallMidiOutputSystem(nullptr);
}

} // namespace corvane::platform
