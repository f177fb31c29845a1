// MIDISender: carries three-byte MIDI messages from the audio thread to a MIDI
// output port of the computer. The audio thread writes them into a ring of 64
// items (never blocking, never allocating); the sender thread wakes on the
// data event and sends them to the open port.
//
// Threads:
//   Start, Stop, OpenDevice: the host's or the editor's thread (never the
//     audio thread); one at a time.
//   Write: the audio thread (the ring's only writer).
//   the sender thread: the ring's only reader; the only thread that sends.
// The ring, the data event and the open port live in a state block that the
// sender thread shares, so that a thread which does not stop in time (a port
// that hangs) is left running with everything it uses still alive.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Event.h"
#include "platform/MidiOutput.h"
#include "platform/WorkerThread.h"

class MIDISender {
public:
    // Single-writer, single-reader ring of 64 messages; at most 63 pending.
    // The writer alone moves the write index and the reader alone the read
    // index (release), each reading the other's with acquire.
    class MessageQueue {
    public:
        static constexpr int32_t kSize = 64;

        struct Item {
            uint64_t time = 0; // nanoseconds from the start of the processing call
            int32_t length = 0;
            uint8_t bytes[3] = {0, 0, 0};
        };

        // Writer side: false when the ring is full (the message is dropped).
        bool Write(uint64_t time, uint8_t status, uint8_t data1, uint8_t data2);
        // Reader side: takes the next item into *item; false when empty.
        bool Read(Item* item);
        // The number of items written and not yet taken (a hint).
        int32_t Pending() const;

    private:
        Item items[kSize];
        std::atomic<int32_t> readIndex{kSize - 1}; // the last slot taken
        std::atomic<int32_t> writeIndex{0};
    };

    static constexpr const char* kOverflowText = "MIDISender::MessageQueue::Write() overflow\n";
    // Overflow lines the sender thread writes at a time; drops beyond these
    // are summed up in one line.
    static constexpr uint32_t kMaxOverflowLinesPerReport = 8;

    MIDISender();
    ~MIDISender(); // Stop()
    MIDISender(const MIDISender&) = delete;
    MIDISender& operator=(const MIDISender&) = delete;

    // Starts the sender thread. On failure prints "failed to create midi
    // thread: <code>" to standard output; messages then pile up in the ring
    // until it is full.
    void Start();
    // Asks the thread to end (it stops between two messages, sending none of
    // those still pending), waits up to the stop time-out, and leaves it
    // running detached when it has not ended. The thread closes the port as
    // it ends. True when no thread is left running.
    bool Stop();
    void SetStopTimeout(std::chrono::milliseconds timeout) { thread.SetStopTimeout(timeout); }

    // Closes the open port and opens the one named `name` (exact match);
    // an empty or unknown name leaves no port open. True when one opened.
    bool OpenDevice(const std::string& name);
    bool IsDeviceOpen() const;
    bool IsRunning() const { return thread.IsRunning(); }
    // Whether Stop has asked the running thread to end.
    bool StopRequested() const { return state->stopRequested.load(std::memory_order_acquire); }

    // audio thread: no allocation, no blocking, no I/O.
    // Queues one message; ignored when no port is open. A full ring drops it
    // and the sender thread reports it with kOverflowText on standard error
    // (a flood of drops is summed up, see kMaxOverflowLinesPerReport).
    void Write(uint64_t time, uint8_t status, uint8_t data1, uint8_t data2);

    // Messages written and not yet taken by the sender thread (a hint).
    int32_t Pending() const;

private:
    struct State {
        MessageQueue queue;
        corvane::platform::Event data;
        std::mutex deviceLock; // guards `device`; held only to swap or copy it
        std::shared_ptr<corvane::platform::MidiOutput> device;
        std::atomic<bool> deviceOpen{false};
        std::atomic<bool> stopRequested{false};
        std::atomic<bool> threadRunning{false};
        std::atomic<uint32_t> dropped{0}; // overflows not yet reported

        void ReportDrops();
        void Drain();
        void Run(corvane::platform::Event& quit);
        void CloseDevice();
    };

    const std::shared_ptr<State> state; // shared with the sender thread; never replaced
    corvane::platform::WorkerThread thread;
};
