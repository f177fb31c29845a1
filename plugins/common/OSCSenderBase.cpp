#include "plugins/common/OSCSenderBase.h"

#include <cerrno>
#include <cstring>
#include <exception>

#include <osc/OscException.h>

#include "platform/Debug.h"
#include "scripting/OSCPacket.h"
#include "scripting/OSCSocket.h"

bool ReadPropertyText(const void* data, uint32_t size, size_t maxLength, std::string* text)
{
    const char* bytes = static_cast<const char*>(data);
    const size_t length = bytes ? strnlen(bytes, size) : 0;
    if (length > maxLength)
        return false;
    text->assign(bytes ? bytes : "", length);
    return true;
}

bool IsValidOSCAddress(const std::string& text)
{
    if (text.empty() || text[0] != '/')
        return false;
    for (const char c : text) {
        if (c <= ' ' || c > '~')
            return false;
        if (strchr("#*,?[]{}", c))
            return false;
    }
    return true;
}

// ---- destination ------------------------------------------------------------------

OSCDestination::OSCDestination() : packed(kUsable | uint64_t{7000} << 32 | 0x7F000001u) {}

bool OSCDestination::SetURL(const char* text)
{
    try {
        const IpEndpointName endpoint = QZ::ResolveReplyURL(text ? text : "");
        packed.store(kUsable | static_cast<uint64_t>(endpoint.port) << 32 | static_cast<uint32_t>(endpoint.address),
                     std::memory_order_release);
        return true;
    } catch (const std::exception& e) {
        packed.store(0, std::memory_order_release);
        corvane::DebugPrintf("OSC destination \"%.255s\" cannot be used (%s): nothing is sent\n", text ? text : "",
                             e.what());
        return false;
    }
}

bool OSCDestination::Get(uint32_t* address, int32_t* port) const
{
    const uint64_t value = packed.load(std::memory_order_acquire);
    if (!(value & kUsable))
        return false;
    *address = static_cast<uint32_t>(value);
    *port = static_cast<int32_t>((value >> 32) & 0xFFFF);
    return true;
}

// ---- the sender thread's round ------------------------------------------------------

void OSCSenderBase::State::Drain()
{
    uint32_t host = 0;
    int32_t port = 0;
    if (!destination.Get(&host, &port)) {
        DiscardPending();
        return;
    }
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(hookLock);
        hook = beforeSend;
    }
    BeginRound();
    try {
        QZ::OSCSendSocket socket;
        socket.Connect(IpEndpointName(static_cast<unsigned long>(host), port));
        char address[kAddressSize];
        float value = 0;
        while (!StopRequested()) {
            ReportDrops();
            if (!TakeNext(address, &value))
                break;
            if (hook)
                hook();
            QZ::OSCReplyPacket packet(address);
            packet.Stream() << value;
            packet.SendOn(socket);
        }
    } catch (const osc::Exception&) {
        // ends this round; what is still pending goes with the next one
    } catch (const std::exception&) {
    }
}

// ---- the sender ---------------------------------------------------------------------

OSCSenderBase::OSCSenderBase(const char* name, std::shared_ptr<State> shared)
    : state(std::move(shared)), thread(name, state)
{
}

OSCSenderBase::~OSCSenderBase()
{
    Stop();
}

void OSCSenderBase::Start()
{
    const int error = thread.Start();
    if (error == EBUSY)
        QZ::OSCPrintf("Warning: Attempt to recreate OSC task\n");
    else if (error != 0 && error != EALREADY)
        QZ::OSCPrintf("failed to create OSC notify thread: %d\n", error);
}

bool OSCSenderBase::Stop(std::chrono::milliseconds limit)
{
    return thread.Stop(limit);
}

bool OSCSenderBase::HasDestination() const
{
    uint32_t host;
    int32_t port;
    return state->destination.Get(&host, &port);
}

void OSCSenderBase::SetBeforeSendHook(std::function<void()> hook)
{
    std::lock_guard<std::mutex> guard(state->hookLock);
    state->beforeSend = std::move(hook);
}
