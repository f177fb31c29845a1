#include "plugins/cvtomidi/MIDISender.h"

#include <cerrno>
#include <cstdio>

using corvane::platform::MidiOutput;
using corvane::platform::MidiShortMessage;

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
    while (!StopRequested()) {
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
}

MIDISender::MIDISender() : state(std::make_shared<State>()), thread("MIDISender", state) {}

MIDISender::~MIDISender()
{
    Stop();
}

void MIDISender::Start()
{
    const int error = thread.Start();
    if (error != 0 && error != EBUSY && error != EALREADY) {
        printf("failed to create midi thread: %d\n", error);
        fflush(stdout);
    }
}

bool MIDISender::Stop(std::chrono::milliseconds limit)
{
    // A thread that does not end in time is left running with the state it
    // shares (it may be stuck inside the port); it closes the port itself
    // should it ever get out. Until then nothing more is queued.
    const bool ended = thread.Stop(limit);
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
    if (!s.queue.Write(time, status, data1 & 0x7F, data2 & 0x7F) && !s.NoteDrop())
        return; // no thread to wake: the drop was reported here
    s.data.Set();
}
