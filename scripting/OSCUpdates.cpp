// Parameter update notifications: the clients' registrations (listen
// thread), the queue of changes (any thread) and the notify thread that sends
// them.
#include "scripting/OSCHelper.h"

#include <cstring>
#include <unistd.h>

#include <osc/OscException.h>

#include "framework/ObryProperties.h"
#include "scripting/OSCPacket.h"
#include "scripting/OSCSocket.h"

namespace QZ {

namespace {

// A reply path must leave room for the two arguments in the packet.
constexpr size_t kMaxPathLength = 900;

void WriteOverflowText()
{
    static const char text[] = "OSCHelper::SetParamQueue::Write() overflow\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, text, sizeof text - 1);
}

} // namespace

// ---------------------------------------------------------------------------
// SetParamQueue: a bounded multi-producer, single-consumer ring. Each cell's
// sequence tells whose turn it is: equal to a position p when the cell is free
// for the writer of p, p + 1 once that writer has filled it, p + kSize once
// the reader has taken it (free for the writer of p + kSize).

OSCHelper::SetParamQueue::SetParamQueue()
{
    for (uint32_t i = 0; i < kSize; ++i) {
        cells[i].sequence.store(i, std::memory_order_relaxed);
        cells[i].entry = {0, 0.0f};
    }
}

// Any thread, the audio thread included: no lock, no allocation, no waiting
// for another writer (a lost compare-and-swap means another writer took the
// slot; this one moves on to the next).
bool OSCHelper::SetParamQueue::Write(int32_t index, float value)
{
    uint32_t position = writePosition.load(std::memory_order_relaxed);
    for (;;) {
        Cell& cell = cells[position % kSize];
        const uint32_t sequence = cell.sequence.load(std::memory_order_acquire);
        const int32_t turn = static_cast<int32_t>(sequence - position);
        if (turn == 0) {
            // 63 pending at most, as every ring of 64 between two threads.
            if (position - readPosition.load(std::memory_order_acquire) >= kCapacity) {
                WriteOverflowText();
                return false;
            }
            if (writePosition.compare_exchange_weak(position, position + 1, std::memory_order_relaxed))
                break;
        } else if (turn < 0) {
            WriteOverflowText();
            return false;
        } else {
            position = writePosition.load(std::memory_order_relaxed);
        }
    }
    Cell& cell = cells[position % kSize];
    cell.entry = {index, value};
    cell.sequence.store(position + 1, std::memory_order_release);
    return true;
}

// The notify thread only. An entry claimed but not yet filled stops the
// read; its writer signals the notify thread again when it is done.
bool OSCHelper::SetParamQueue::Read(Entry& entry)
{
    const uint32_t position = readPosition.load(std::memory_order_relaxed);
    Cell& cell = cells[position % kSize];
    if (cell.sequence.load(std::memory_order_acquire) != position + 1)
        return false;
    entry = cell.entry;
    cell.sequence.store(position + kSize, std::memory_order_release);
    readPosition.store(position + 1, std::memory_order_release);
    return true;
}

// Any thread: the plug-in's setParameter.
void OSCHelper::QueueParameterUpdate(int32_t index, float value)
{
    if (index < 0 || index >= registeredFlagCount || !registeredFlags)
        return;
    if (!registeredFlags[index].load(std::memory_order_relaxed))
        return;
    if (paramQueue.Write(index, value))
        notifyWake.Set();
}

// ---------------------------------------------------------------------------
// Registrations. Listen thread; the lock guards the map against the notify
// thread.

void OSCHelper::Register(int32_t index, const char* url, const char* path, const IpEndpointName& remote)
{
    if (strlen(path) > kMaxPathLength)
        throw osc::Exception("reply path too long");
    const IpEndpointName endpoint = ResolveReplyURLFor(url, remote);
    const UpdateRegistration added{static_cast<uint32_t>(endpoint.address), endpoint.port, path};
    std::lock_guard<std::mutex> guard(registrationLock);
    const auto range = registrations.equal_range(index);
    size_t count = 0;
    for (auto i = range.first; i != range.second; ++i, ++count) {
        const UpdateRegistration& r = i->second;
        if (r.address == added.address && r.port == added.port && r.path == added.path)
            return;
    }
    if (count >= kMaxRegistrationsPerParameter)
        throw osc::Exception("too many registrations for this parameter");
    registrations.emplace_hint(range.second, index, added);
    registeredFlags[index].store(1, std::memory_order_relaxed);
}

void OSCHelper::Unregister(int32_t index, const char* url, const char* path)
{
    const IpEndpointName endpoint = ResolveReplyURL(url);
    const uint32_t address = static_cast<uint32_t>(endpoint.address);
    std::lock_guard<std::mutex> guard(registrationLock);
    const auto range = registrations.equal_range(index);
    for (auto i = range.first; i != range.second; ++i) {
        const UpdateRegistration& r = i->second;
        if (r.address == address && r.port == endpoint.port && r.path == path) {
            registrations.erase(i);
            break;
        }
    }
    if (registrations.count(index) == 0)
        registeredFlags[index].store(0, std::memory_order_relaxed);
}

size_t OSCHelper::RegistrationCount(int32_t index) const
{
    std::lock_guard<std::mutex> guard(registrationLock);
    return registrations.count(index);
}

bool OSCHelper::IsRegistered(int32_t index) const
{
    return index >= 0 && index < registeredFlagCount && registeredFlags &&
           registeredFlags[index].load(std::memory_order_relaxed) != 0;
}

// "/getAllRegistered": every registration gets its parameter's value now.
void OSCHelper::SendAllRegistered()
{
    std::vector<std::pair<int32_t, UpdateRegistration>> all;
    {
        std::lock_guard<std::mutex> guard(registrationLock);
        all.assign(registrations.begin(), registrations.end());
    }
    if (all.empty())
        return;
    OSCSendSocket socket;
    for (const auto& [index, registration] : all) {
        OSCReplyPacket packet(registration.path.c_str());
        packet.Stream() << index << owner->GetParameterReal(index);
        packet.SendOn(socket, IpEndpointName(static_cast<unsigned long>(registration.address), registration.port));
    }
}

// ---------------------------------------------------------------------------
// Notify thread: sends every queued change, in order, to every registration
// of its parameter at the time it is sent.

void OSCHelper::NotifyMain(corvane::platform::Event& quit)
{
    corvane::platform::Event* const events[] = {&quit, &notifyWake};
    std::vector<UpdateRegistration> targets;
    std::unique_ptr<OSCSendSocket> socket;
    for (;;) {
        if (corvane::platform::WaitAny(events, 2, corvane::platform::kWaitForever) != 1)
            return;
        SetParamQueue::Entry entry;
        while (paramQueue.Read(entry)) {
            targets.clear();
            {
                std::lock_guard<std::mutex> guard(registrationLock);
                const auto range = registrations.equal_range(entry.index);
                for (auto i = range.first; i != range.second; ++i)
                    targets.push_back(i->second);
            }
            for (const UpdateRegistration& target : targets) {
                // A failing client or socket costs that one update only.
                try {
                    if (!socket)
                        socket = std::make_unique<OSCSendSocket>();
                    OSCReplyPacket packet(target.path.c_str());
                    packet.Stream() << entry.index << entry.value;
                    packet.SendOn(*socket, IpEndpointName(static_cast<unsigned long>(target.address), target.port));
                } catch (const std::exception& e) {
                    OSCPrintf("OSC update not sent: %s\n", e.what());
                }
            }
        }
    }
}

} // namespace QZ
