// What the two OSC senders (CV To OSC's and the Learner's) share: where the
// messages go, the rules for a destination text and an OSC address, and the
// sender thread's round.
//
// A destination is a host and a port, "host:port" with an optional leading
// "osc.udp://"; anything after the port is ignored. The host is resolved to
// IPv4 when the destination is set. A host that does not resolve, or a port
// outside 1..65535, leaves the sender with no destination: messages are
// then dropped unsent (an unresolved host must never become address 0,
// which reaches this machine).
//
// Each round (one per data event) connects a new UDP socket to the
// destination and sends one packet per pending item: an OSC bundle with the
// immediate time tag holding one message with one float argument. A socket
// that cannot be connected leaves the items queued for the next round; any
// other failure ends the round without a message.
//
// Threads: as SenderThread.h. SetURL: the host's or editor's thread (it may
// wait up to about a second for a name lookup). Destination reads: any
// thread, lock-free; a change is seen whole or not at all.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "plugins/common/SenderThread.h"

class IpEndpointName;

constexpr uint32_t kObryProperty_OSCDestination = 64110;

// The longest destination text and OSC address, without the NUL (the CV To
// OSC state keeps 256 bytes for each).
constexpr size_t kMaxOSCTextLength = 255;

// The text a property caller handed in: it ends at its NUL or at the end of
// the data, whichever comes first (never read past `size`). False when that
// text is longer than maxLength.
bool ReadPropertyText(const void* data, uint32_t size, size_t maxLength, std::string* text);

// Whether `text` may be sent as an OSC address: a '/' first, then printable
// ASCII without blanks and without the characters OSC reserves for patterns
// and bundles (# * , ? [ ] { }).
bool IsValidOSCAddress(const std::string& text);

class OSCDestination {
public:
    // 127.0.0.1, port 7000.
    OSCDestination();

    // Parses and resolves `text`; true when it names a usable destination.
    // Otherwise there is no destination and a line says why.
    bool SetURL(const char* text);
    // Any thread, lock-free. False when there is no usable destination.
    bool Get(uint32_t* address, int32_t* port) const;

private:
    static constexpr uint64_t kUsable = uint64_t{1} << 48;
    std::atomic<uint64_t> packed; // kUsable | port << 32 | IPv4 address (host order)
};

class OSCSenderBase {
public:
    static constexpr const char* kOverflowText = "OSCSender::SetParamQueue::Write() overflow\n";
    static constexpr size_t kAddressSize = kMaxOSCTextLength + 1;

    // Starts the sender thread. When one runs already, prints "Warning:
    // Attempt to recreate OSC task" and does nothing; when it cannot be
    // made, prints "failed to create OSC notify thread: <code>" (both to
    // standard output).
    void Start();
    // As SenderThread::Stop: the thread ends between two messages.
    bool Stop(std::chrono::milliseconds limit = corvane::platform::WorkerThread::kDefaultStopTimeout);
    bool IsRunning() const { return thread.IsRunning(); }
    bool StopRequested() const { return state->StopRequested(); }

    // The host's or editor's thread. True when the text names a usable
    // destination (see OSCDestination).
    bool SetURL(const char* text) { return state->destination.SetURL(text); }
    bool HasDestination() const;

    // For tests: runs on the sender thread before each packet is sent, so a
    // test can hold the thread in the middle of a round. Empty: none.
    void SetBeforeSendHook(std::function<void()> hook);

protected:
    // The part the sender thread shares.
    class State : public SenderState {
    public:
        State() : SenderState(kOverflowText) {}
        OSCDestination destination;
        std::mutex hookLock;
        std::function<void()> beforeSend; // guarded by hookLock

    protected:
        // Sender thread. The next pending item: its address (copied into
        // `address`, kAddressSize bytes, NUL-terminated) and value. False
        // when none is pending.
        virtual bool TakeNext(char* address, float* value) = 0;
        // Sender thread, at the start of each round that will send.
        virtual void BeginRound() {}
        // Sender thread: takes every pending item without sending it.
        virtual void DiscardPending() = 0;

    private:
        void Drain() final;
    };

    OSCSenderBase(const char* name, std::shared_ptr<State> state);
    ~OSCSenderBase(); // Stop()
    OSCSenderBase(const OSCSenderBase&) = delete;
    OSCSenderBase& operator=(const OSCSenderBase&) = delete;

    const std::shared_ptr<State> state; // shared with the sender thread; never replaced
    SenderThread thread;
};
