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
// sender thread shares (SenderThread.h), so that a thread which does not stop
// in time (a port that hangs) is left running with everything it uses still
// alive.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/MidiOutput.h"
#include "plugins/common/SenderRing.h"
#include "plugins/common/SenderThread.h"

class MIDISender {
public:
    struct MessageItem {
        uint64_t time = 0; // nanoseconds from the start of the processing call
        int32_t length = 0;
        uint8_t bytes[3] = {0, 0, 0};
    };

    // Single-writer, single-reader ring of 64 messages; at most 63 pending.
    class MessageQueue : public SenderRing<MessageItem> {
    public:
        using Item = MessageItem;
        // Writer side: false when the ring is full (the message is dropped).
        bool Write(uint64_t time, uint8_t status, uint8_t data1, uint8_t data2)
        {
            return WriteWith([&](Item& item) {
                item.time = time;
                item.length = 3;
                item.bytes[0] = status;
                item.bytes[1] = data1;
                item.bytes[2] = data2;
            });
        }
    };

    static constexpr const char* kOverflowText = "MIDISender::MessageQueue::Write() overflow\n";
    static constexpr uint32_t kMaxOverflowLinesPerReport = SenderState::kMaxOverflowLinesPerReport;

    MIDISender();
    ~MIDISender(); // Stop()
    MIDISender(const MIDISender&) = delete;
    MIDISender& operator=(const MIDISender&) = delete;

    // Starts the sender thread. On failure prints "failed to create midi
    // thread: <code>" to standard output; messages then pile up in the ring
    // until it is full.
    void Start();
    // Asks the thread to end (it stops between two messages, sending none of
    // those still pending), waits at most `limit`, and leaves it running
    // when it has not ended (a later Stop waits again). The thread closes the
    // port as it ends. True when no thread is left running.
    bool Stop(std::chrono::milliseconds limit = corvane::platform::WorkerThread::kDefaultStopTimeout);

    // Closes the open port and opens the one named `name` (exact match);
    // an empty or unknown name leaves no port open. True when one opened.
    bool OpenDevice(const std::string& name);
    bool IsDeviceOpen() const;
    bool IsRunning() const { return thread.IsRunning(); }
    // Whether Stop has asked the running thread to end.
    bool StopRequested() const { return state->StopRequested(); }

    // audio thread: no allocation, no blocking, no I/O.
    // Queues one message; ignored when no port is open. A full ring drops it
    // and the sender thread reports it with kOverflowText on standard error
    // (a flood of drops is summed up, see kMaxOverflowLinesPerReport).
    void Write(uint64_t time, uint8_t status, uint8_t data1, uint8_t data2);

    // Messages written and not yet taken by the sender thread (a hint).
    int32_t Pending() const;

private:
    struct State final : SenderState {
        State() : SenderState(kOverflowText) {}
        MessageQueue queue;
        std::mutex deviceLock; // guards `device`; held only to swap or copy it
        std::shared_ptr<corvane::platform::MidiOutput> device;
        std::atomic<bool> deviceOpen{false};

        void Drain() override;
        void Finish() override { CloseDevice(); }
        void CloseDevice();
    };

    const std::shared_ptr<State> state; // shared with the sender thread; never replaced
    SenderThread thread;
};
