#include "plugins/cvtomidi/MIDISender.h"

#include <cstdio>

#include "platform/Debug.h"

using corvane::platform::Event;
using corvane::platform::MidiOutput;
using corvane::platform::MidiShortMessage;

namespace {

void PrintOverflow()
{
    // One write per message so that the text stays whole among threads.
    static constexpr char kText[] = "MIDISender::MessageQueue::Write() overflow\n";
    fwrite(kText, 1, sizeof kText - 1, stderr);
}

} // namespace

// ---- the ring ------------------------------------------------------------------

bool MIDISender::MessageQueue::Write(uint64_t time, uint8_t status, uint8_t data1, uint8_t data2)
{
    const int32_t write = writeIndex.load(std::memory_order_relaxed);
    if (write == readIndex.load(std::memory_order_acquire))
        return false;
    Item& item = items[write];
    item.time = time;
    item.length = 3;
    item.bytes[0] = status;
    item.bytes[1] = data1;
    item.bytes[2] = data2;
    writeIndex.store(write + 1 == kSize ? 0 : write + 1, std::memory_order_release);
    return true;
}

bool MIDISender::MessageQueue::Read(Item* item)
{
    const int32_t read = readIndex.load(std::memory_order_relaxed);
    const int32_t next = read + 1 == kSize ? 0 : read + 1;
    if (next == writeIndex.load(std::memory_order_acquire))
        return false;
    *item = items[next];
    readIndex.store(next, std::memory_order_release);
    return true;
}

int32_t MIDISender::MessageQueue::Pending() const
{
    const int32_t read = readIndex.load(std::memory_order_acquire);
    const int32_t write = writeIndex.load(std::memory_order_acquire);
    return (write - read - 1 + kSize) % kSize;
}

// ---- the shared state ------------------------------------------------------------

// Sender thread (or the controlling thread when no sender thread runs).
// A signal that changes on every sample can drop tens of thousands of
// messages a second: one line each would keep this thread writing instead of
// sending. Each report writes the line for the first few drops only and sums
// up the rest in one more line.
void MIDISender::State::ReportDrops()
{
    const uint32_t count = dropped.exchange(0, std::memory_order_acq_rel);
    const uint32_t shown = count < kMaxOverflowLinesPerReport ? count : kMaxOverflowLinesPerReport;
    for (uint32_t n = 0; n < shown; ++n)
        PrintOverflow();
    if (count > shown)
        corvane::DebugPrintf("MIDISender: %u more messages dropped\n", count - shown);
}

void MIDISender::State::CloseDevice()
{
    std::shared_ptr<MidiOutput> closing;
    {
        std::lock_guard<std::mutex> guard(deviceLock);
        closing = std::move(device);
        deviceOpen.store(false, std::memory_order_release);
    }
    // The port closes here, outside the lock, unless a send still holds it
    // (then it closes when that send is done).
    closing.reset();
}

// Sender thread. Takes every pending message, stopping early only when asked
// to stop. The port is looked up per message: OpenDevice may swap it.
void MIDISender::State::Drain()
{
    MessageQueue::Item item;
    while (!stopRequested.load(std::memory_order_acquire)) {
        ReportDrops();
        if (!queue.Read(&item))
            break;
        std::shared_ptr<MidiOutput> port;
        {
            std::lock_guard<std::mutex> guard(deviceLock);
            port = device;
        }
        if (!port)
            continue;
        MidiShortMessage message;
        message.time = item.time;
        message.bytes[0] = item.bytes[0];
        message.bytes[1] = item.bytes[1];
        message.bytes[2] = item.bytes[2];
        port->Send(message);
    }
    ReportDrops();
}

// Sender thread body: wait for quit (first) or data (second).
void MIDISender::State::Run(Event& quit)
{
    Event* const events[2] = {&quit, &data};
    while (!stopRequested.load(std::memory_order_acquire)) {
        if (corvane::platform::WaitAny(events, 2, corvane::platform::kWaitForever) != 1)
            break;
        Drain();
    }
    ReportDrops();
    CloseDevice();
    threadRunning.store(false, std::memory_order_release);
}

// ---- the sender ------------------------------------------------------------------

MIDISender::MIDISender() : state(std::make_shared<State>()), thread("MIDISender") {}

MIDISender::~MIDISender()
{
    Stop();
}

void MIDISender::Start()
{
    if (thread.IsRunning())
        return;
    if (state->threadRunning.load(std::memory_order_acquire)) {
        // A thread left running by an earlier Stop still reads the ring; a
        // second reader would break it.
        corvane::DebugPrintf("MIDISender: the previous sender thread is still running\n");
        return;
    }
    state->stopRequested.store(false, std::memory_order_release);
    state->threadRunning.store(true, std::memory_order_release);
    const int error = thread.Start([shared = state](Event& quit) { shared->Run(quit); });
    if (error != 0) {
        state->threadRunning.store(false, std::memory_order_release);
        printf("failed to create midi thread: %d\n", error);
        fflush(stdout);
    }
}

bool MIDISender::Stop()
{
    if (!thread.IsRunning()) {
        state->CloseDevice();
        state->ReportDrops();
        return true;
    }
    state->stopRequested.store(true, std::memory_order_release);
    // A thread that does not end in time is left running with the state it
    // shares (it may be stuck inside the port); it closes the port itself
    // should it ever get out. Until then nothing more is queued.
    const bool ended = thread.Stop();
    if (!ended)
        state->deviceOpen.store(false, std::memory_order_release);
    return ended;
}

bool MIDISender::OpenDevice(const std::string& name)
{
    state->CloseDevice();
    if (name.empty())
        return false;
    std::unique_ptr<MidiOutput> port = corvane::platform::OpenMidiOutput(name);
    if (!port)
        return false;
    std::lock_guard<std::mutex> guard(state->deviceLock);
    state->device = std::move(port);
    state->deviceOpen.store(true, std::memory_order_release);
    return true;
}

bool MIDISender::IsDeviceOpen() const
{
    return state->deviceOpen.load(std::memory_order_acquire);
}

int32_t MIDISender::Pending() const
{
    return state->queue.Pending();
}

// audio thread: no allocation, no blocking, no I/O while the sender runs
void MIDISender::Write(uint64_t time, uint8_t status, uint8_t data1, uint8_t data2)
{
    State& s = *state;
    if (!s.deviceOpen.load(std::memory_order_acquire))
        return;
    // Data bytes are 7-bit whatever the caller computed.
    if (!s.queue.Write(time, status, data1 & 0x7F, data2 & 0x7F)) {
        if (s.threadRunning.load(std::memory_order_acquire)) {
            s.dropped.fetch_add(1, std::memory_order_acq_rel);
        } else {
            // No thread to report it (its creation failed): say it here.
            PrintOverflow();
            return;
        }
    }
    s.data.Set();
}
