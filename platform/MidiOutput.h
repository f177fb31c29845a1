// The computer's MIDI output ports (not the host's MIDI): list them by name,
// open one by its exact name, send three-byte messages to it, close it.
//
// The real ports are the ALSA sequencer's, reached through RtMidi
// (MidiOutputRtMidi.cpp). A machine without a sequencer (no /dev/snd/seq)
// simply has no ports: listing gives an empty list and opening gives null;
// nothing here throws. Tests install a system of their own (an in-process
// fake, MidiOutputFake.h) in place of the real one.
//
// Threads: ListMidiOutputDevices, OpenMidiOutput and InstallMidiOutputSystem
// may be called from any thread but the audio thread (they may block while
// the sequencer answers). An open port is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane::platform {

// A channel message of three bytes: status, data 1, data 2.
struct MidiShortMessage {
    // Nanoseconds from the start of the processing call that produced the
    // message. Ports send at once; the time is there for ports that record.
    uint64_t time = 0;
    uint8_t bytes[3] = {0, 0, 0};
};

// One open output port. Destroying it closes it.
class MidiOutput {
public:
    virtual ~MidiOutput() = default;
    // Sends one message now. Failures are logged, never thrown.
    virtual void Send(const MidiShortMessage& message) = 0;
};

// A set of output ports: the machine's, or a test's fake.
class MidiOutputSystem {
public:
    virtual ~MidiOutputSystem() = default;
    // The ports' names in the system's order; empty when there are none.
    virtual std::vector<std::string> ListDevices() = 0;
    // The first port whose name equals `name` exactly (same length, same
    // bytes), opened; null when none matches or it cannot be opened.
    virtual std::unique_ptr<MidiOutput> Open(const std::string& name) = 0;
};

// The ports of the installed system (the machine's unless a test installed
// its own).
std::vector<std::string> ListMidiOutputDevices();
std::unique_ptr<MidiOutput> OpenMidiOutput(const std::string& name);

// Routes the two calls above to `system`; null goes back to the machine's
// ports. Ports already open stay with the system that opened them.
void InstallMidiOutputSystem(std::shared_ptr<MidiOutputSystem> system);

// The machine's ports (RtMidi over the ALSA sequencer).
std::shared_ptr<MidiOutputSystem> MakeRtMidiOutputSystem();

} // namespace corvane::platform
