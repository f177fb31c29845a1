// The thread pattern every sender of the module shares (MIDISender and the
// two OSCSender classes): a producer fills a SenderRing and sets the data
// event; the sender thread waits for its quit event (first) or the data
// event (second) and drains the ring on each data event; stopping sets the
// quit event and waits up to 5000 ms, after which a thread that is still busy
// is left running, detached, never killed.
//
// Everything the sender thread touches lives in a SenderState that the
// thread shares with its owner, so a thread left running (stuck in a port or
// a socket) still has its ring, its events and its destination when it gets
// out, and ends on its own.
//
// Threads:
//   SenderThread::Start, Stop: the owner's controlling thread (host or
//     editor), never the audio thread; one at a time.
//   SenderState::NoteDrop, data.Set: the ring's writer (the audio thread).
//   Drain, Finish: the sender thread (Finish also from Stop when no thread
//     runs).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Event.h"
#include "platform/WorkerThread.h"

class SenderState {
public:
    // Overflow lines written per report; drops beyond these are summed up
    // in one more line, so that a signal that floods the ring keeps the
    // sender thread sending rather than writing.
    static constexpr uint32_t kMaxOverflowLinesPerReport = 8;

    // overflowText: a constant text with its newline, written once per drop.
    explicit SenderState(const char* overflowText) : overflowText(overflowText) {}
    virtual ~SenderState() = default;
    SenderState(const SenderState&) = delete;
    SenderState& operator=(const SenderState&) = delete;

    // Set by the writer after each item; wakes the sender thread.
    corvane::platform::Event data;

    // Writer side, after the ring refused an item. While the sender thread
    // runs the drop is counted for it to report (true: wake it with `data`);
    // with no thread (its creation failed, or it was stopped) the writer
    // prints the overflow text itself (false).
    bool NoteDrop();
    // Writes the overflow text for the drops counted since the last report.
    void ReportDrops();
    void PrintOverflow() const;

    bool StopRequested() const { return stopRequested.load(std::memory_order_acquire); }
    bool ThreadRunning() const { return threadRunning.load(std::memory_order_acquire); }

protected:
    // Sender thread, on each data event: take the pending items. Long
    // drains look at StopRequested between items.
    virtual void Drain() = 0;
    // The sender has stopped: called by its thread as it ends, or by Stop
    // when no thread ran.
    virtual void Finish() {}

private:
    friend class SenderThread;
    void Run(corvane::platform::Event& quit);

    const char* const overflowText;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> threadRunning{false};
    std::atomic<uint32_t> dropped{0}; // drops not yet reported
};

class SenderThread {
public:
    // name: the thread's name and the prefix of its log lines.
    SenderThread(std::string name, std::shared_ptr<SenderState> state);
    ~SenderThread(); // Stop()
    SenderThread(const SenderThread&) = delete;
    SenderThread& operator=(const SenderThread&) = delete;

    // 0 when the thread started; EBUSY when it runs already (nothing done);
    // EALREADY when a thread left running by an earlier Stop still reads the
    // ring (a second reader would break it; logged); otherwise the error
    // code of the failed creation (the caller reports it).
    int Start();
    // Asks the thread to end (it stops between two items, leaving the rest
    // pending), waits at most `limit` and leaves it running when it has not
    // ended (a later Stop waits again). True when no thread is left running.
    bool Stop(std::chrono::milliseconds limit = corvane::platform::WorkerThread::kDefaultStopTimeout);
    bool IsRunning() const { return thread.IsRunning(); }

private:
    const std::string name;
    const std::shared_ptr<SenderState> state;
    corvane::platform::WorkerThread thread;
};
