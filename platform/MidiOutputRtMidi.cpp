// The machine's MIDI outputs: the ALSA sequencer's writable ports, through
// RtMidi. RtMidi reports failures by throwing until an error callback is set,
// and through the callback afterwards; neither may reach our callers.
#include "platform/MidiOutput.h"

#include <exception>
#include <unistd.h>

#include <rtmidi/RtMidi.h>

#include "platform/Debug.h"

namespace corvane::platform {

namespace {

constexpr const char* kSequencerDevice = "/dev/snd/seq";
constexpr const char* kClientName = "Corvane";
constexpr const char* kPortName = "Corvane CV To MIDI";

// Without the sequencer device there is nothing to list, and asking RtMidi
// anyway only gets ALSA's own complaint printed and an exception.
bool SequencerPresent()
{
    return access(kSequencerDevice, R_OK | W_OK) == 0;
}

// Collects RtMidi's reports once the callback is set. A critical report
// leaves the RtMidi object unusable (RtMidi's own rule), so it is dropped.
struct ErrorState {
    bool failed = false;
};

void OnRtMidiError(RtMidiError::Type type, const std::string& text, void* user)
{
    if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING)
        static_cast<ErrorState*>(user)->failed = true;
    if (type != RtMidiError::DEBUG_WARNING)
        DebugPrintf("MIDI output: %s\n", text.c_str());
}

// A sequencer client of our own, or null when the sequencer cannot be opened.
std::unique_ptr<RtMidiOut> MakeClient(ErrorState* errors)
{
    if (!SequencerPresent())
        return nullptr;
    try {
        auto client = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, kClientName);
        client->setErrorCallback(OnRtMidiError, errors);
        return client;
    } catch (const std::exception& e) {
        DebugPrintf("MIDI output: %s\n", e.what());
    } catch (...) {
        DebugPrintf("MIDI output: the sequencer cannot be opened\n");
    }
    return nullptr;
}

class RtMidiPort final : public MidiOutput {
public:
    RtMidiPort(std::unique_ptr<RtMidiOut> client, std::unique_ptr<ErrorState> errors)
        : client(std::move(client)), errors(std::move(errors))
    {
    }
    ~RtMidiPort() override
    {
        try {
            client->closePort();
        } catch (...) {
        }
    }

    void Send(const MidiShortMessage& message) override
    {
        if (errors->failed)
            return;
        try {
            client->sendMessage(message.bytes, sizeof message.bytes);
        } catch (const std::exception& e) {
            DebugPrintf("MIDI output: %s\n", e.what());
        } catch (...) {
        }
    }

private:
    std::unique_ptr<RtMidiOut> client;
    std::unique_ptr<ErrorState> errors; // the client's callback points here
};

class RtMidiOutputSystem final : public MidiOutputSystem {
public:
    std::vector<std::string> ListDevices() override
    {
        std::vector<std::string> names;
        ErrorState errors;
        std::unique_ptr<RtMidiOut> client = MakeClient(&errors);
        if (!client)
            return names;
        try {
            const unsigned count = client->getPortCount();
            for (unsigned i = 0; i < count && !errors.failed; ++i)
                names.push_back(client->getPortName(i));
        } catch (const std::exception& e) {
            DebugPrintf("MIDI output: %s\n", e.what());
            names.clear();
        } catch (...) {
            names.clear();
        }
        return names;
    }

    std::unique_ptr<MidiOutput> Open(const std::string& name) override
    {
        if (name.empty())
            return nullptr;
        auto errors = std::make_unique<ErrorState>();
        std::unique_ptr<RtMidiOut> client = MakeClient(errors.get());
        if (!client)
            return nullptr;
        try {
            const unsigned count = client->getPortCount();
            for (unsigned i = 0; i < count && !errors->failed; ++i) {
                if (client->getPortName(i) != name)
                    continue;
                client->openPort(i, kPortName);
                if (errors->failed || !client->isPortOpen())
                    return nullptr;
                return std::make_unique<RtMidiPort>(std::move(client), std::move(errors));
            }
        } catch (const std::exception& e) {
            DebugPrintf("MIDI output: %s\n", e.what());
        } catch (...) {
        }
        return nullptr;
    }
};

} // namespace

std::shared_ptr<MidiOutputSystem> MakeRtMidiOutputSystem()
{
    return std::make_shared<RtMidiOutputSystem>();
}

} // namespace corvane::platform
