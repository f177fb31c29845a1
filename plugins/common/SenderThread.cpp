#include "plugins/common/SenderThread.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "platform/Debug.h"

using corvane::platform::Event;

void SenderState::PrintOverflow() const
{
    // One write per line so that the text stays whole among threads.
    const size_t length = strlen(overflowText);
    while (write(STDERR_FILENO, overflowText, length) < 0 && errno == EINTR) {
    }
}

bool SenderState::NoteDrop()
{
    if (threadRunning.load(std::memory_order_acquire)) {
        dropped.fetch_add(1, std::memory_order_acq_rel);
        return true;
    }
    PrintOverflow();
    return false;
}

void SenderState::ReportDrops()
{
    const uint32_t count = dropped.exchange(0, std::memory_order_acq_rel);
    const uint32_t shown = count < kMaxOverflowLinesPerReport ? count : kMaxOverflowLinesPerReport;
    for (uint32_t n = 0; n < shown; ++n)
        PrintOverflow();
    if (count > shown)
        corvane::DebugPrintf("%u more items dropped after: %s", count - shown, overflowText);
}

// Sender thread body.
void SenderState::Run(Event& quit)
{
    Event* const events[2] = {&quit, &data};
    while (!StopRequested()) {
        if (corvane::platform::WaitAny(events, 2, corvane::platform::kWaitForever) != 1)
            break;
        ReportDrops();
        Drain();
        ReportDrops();
    }
    ReportDrops();
    Finish();
    threadRunning.store(false, std::memory_order_release);
}

SenderThread::SenderThread(std::string name, std::shared_ptr<SenderState> state)
    : name(name), state(std::move(state)), thread(std::move(name))
{
}

SenderThread::~SenderThread()
{
    Stop();
}

int SenderThread::Start()
{
    if (thread.IsRunning())
        return EBUSY;
    if (state->ThreadRunning()) {
        corvane::DebugPrintf("%s: the previous sender thread is still running\n", name.c_str());
        return EALREADY;
    }
    state->stopRequested.store(false, std::memory_order_release);
    state->threadRunning.store(true, std::memory_order_release);
    const int error = thread.Start([shared = state](Event& quit) { shared->Run(quit); });
    if (error != 0)
        state->threadRunning.store(false, std::memory_order_release);
    return error;
}

bool SenderThread::Stop(std::chrono::milliseconds limit)
{
    if (!thread.IsRunning()) {
        if (!state->ThreadRunning()) {
            state->Finish();
            state->ReportDrops();
        }
        return !state->ThreadRunning();
    }
    state->stopRequested.store(true, std::memory_order_release);
    return thread.Stop(limit);
}
