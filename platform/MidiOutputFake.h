// An in-process stand-in for the machine's MIDI outputs, for tests: ports
// exist by name, and every message sent to them is recorded with the port's
// name. Sends can be held (each Send then waits until released) to stand for
// a port that is slow to take messages.
//
// Thread-safe: the test thread inspects while sender threads send.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MidiOutput.h"

namespace corvane::platform {

class FakeMidiOutputSystem final : public MidiOutputSystem {
public:
    struct SentMessage {
        std::string device;
        MidiShortMessage message;
    };

    FakeMidiOutputSystem();

    void AddDevice(const std::string& name);

    std::vector<std::string> ListDevices() override;
    std::unique_ptr<MidiOutput> Open(const std::string& name) override;

    std::vector<SentMessage> Sent() const;
    // Messages sent so far (also those not recorded).
    size_t SentCount() const;
    // Off: messages are only counted (for long runs such as benchmarks).
    void SetRecording(bool on);
    void ClearSent();
    // Ports opened so far, and ports open now.
    int OpenedCount() const;
    int OpenCount() const;

    // Until ReleaseSends, every Send waits before recording its message.
    void HoldSends();
    void ReleaseSends();

    // Wait up to `timeout` for a condition; true when it came about.
    bool WaitForSentCount(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForHeldSend(std::chrono::milliseconds timeout) const;
    bool WaitForOpenCount(int count, std::chrono::milliseconds timeout) const;

private:
    class Port;
    struct Shared {
        mutable std::mutex lock;
        mutable std::condition_variable changed;
        std::vector<std::string> devices;
        std::vector<SentMessage> sent;
        size_t sentCount = 0;
        bool recording = true;
        int opened = 0;
        int open = 0;
        bool holding = false;
        int heldSends = 0; // Sends waiting in the hold now
    };
    std::shared_ptr<Shared> shared;
};

// Installs a fresh fake for its lifetime; the machine's ports afterwards.
class ScopedFakeMidiOutput {
public:
    ScopedFakeMidiOutput();
    ~ScopedFakeMidiOutput();
    ScopedFakeMidiOutput(const ScopedFakeMidiOutput&) = delete;
    ScopedFakeMidiOutput& operator=(const ScopedFakeMidiOutput&) = delete;
    FakeMidiOutputSystem& Fake() { return *fake; }
    FakeMidiOutputSystem* operator->() { return fake.get(); }

private:
    std::shared_ptr<FakeMidiOutputSystem> fake;
};

} // namespace corvane::platform
