// The OSC server's lifecycle, its listen thread, and the handling of
// requests. The "/obry/" addresses live in OSCAddress.cpp, the update
// notifications in OSCUpdates.cpp, the Lua calls in OSCLua.cpp.
#include "scripting/OSCHelper.h"

#include <cerrno>
#include <dlfcn.h>
#include <cmath>
#include <cstring>
#include <locale>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <osc/OscOutboundPacketStream.h>
#include <osc/OscPrintReceivedElements.h>

#include "framework/ObryProperties.h"
#include "framework/SoundplaneTouchTable.h"
#include "scripting/LuaMIDIHelper.h"
#include "scripting/OSCPacket.h"
#include "scripting/OSCSocket.h"

namespace QZ {

namespace {

// Datagrams up to the largest UDP payload are read whole.
constexpr size_t kReceiveBufferSize = 65536;
// Bundles nest at most this deep; deeper ones are malformed for us.
constexpr int kMaxBundleDepth = 8;
// The printed form of a recent message is cut to this many characters.
constexpr size_t kRecentMessageLimit = 1024;

// The end of the NUL-terminated string at `at` with its padding to 4 bytes,
// or null when it runs past `end` or a padding byte is not zero (the
// library finds a string's end by its last padding byte; both readings must
// agree).
const char* StringEnd(const char* at, const char* end)
{
    const char* nul = static_cast<const char*>(memchr(at, 0, static_cast<size_t>(end - at)));
    if (!nul)
        return nullptr;
    const size_t padded = (static_cast<size_t>(nul - at) + 4) & ~size_t{3};
    if (padded > static_cast<size_t>(end - at))
        return nullptr;
    for (const char* p = nul; p < at + padded; ++p)
        if (*p)
            return nullptr;
    return at + padded;
}

// Checks every argument of a message against the bytes it has, before the
// OSC library's reader walks them: the library takes a blob's size on
// trust, so a blob that claims more bytes than the packet holds would send
// every later read past the packet.
void CheckMessageBytes(const char* data, long size)
{
    const char* end = data + size;
    const char* at = size > 0 ? StringEnd(data, end) : nullptr;
    if (!at)
        throw osc::MalformedMessageException("unterminated address pattern");
    if (at == end || *at != ',')
        return; // the library reports a message without type tags
    const char* tags = at + 1;
    at = StringEnd(at, end);
    if (!at)
        throw osc::MalformedMessageException("unterminated type tags");
    for (const char* tag = tags; *tag; ++tag) {
        const size_t left = static_cast<size_t>(end - at);
        size_t need = 0;
        switch (*tag) {
        case osc::TRUE_TYPE_TAG:
        case osc::FALSE_TYPE_TAG:
        case osc::NIL_TYPE_TAG:
        case osc::INFINITUM_TYPE_TAG:
        case osc::ARRAY_BEGIN_TYPE_TAG:
        case osc::ARRAY_END_TYPE_TAG: break;
        case osc::INT32_TYPE_TAG:
        case osc::FLOAT_TYPE_TAG:
        case osc::CHAR_TYPE_TAG:
        case osc::RGBA_COLOR_TYPE_TAG:
        case osc::MIDI_MESSAGE_TYPE_TAG: need = 4; break;
        case osc::INT64_TYPE_TAG:
        case osc::TIME_TAG_TYPE_TAG:
        case osc::DOUBLE_TYPE_TAG: need = 8; break;
        case osc::STRING_TYPE_TAG:
        case osc::SYMBOL_TYPE_TAG:
            at = left > 0 ? StringEnd(at, end) : nullptr;
            if (!at)
                throw osc::MalformedMessageException("unterminated string argument");
            continue;
        case osc::BLOB_TYPE_TAG: {
            if (left < 4)
                throw osc::MalformedMessageException("arguments exceed message size");
            const uint64_t blobSize = (static_cast<uint64_t>(static_cast<uint8_t>(at[0])) << 24) |
                                      (static_cast<uint64_t>(static_cast<uint8_t>(at[1])) << 16) |
                                      (static_cast<uint64_t>(static_cast<uint8_t>(at[2])) << 8) |
                                      static_cast<uint64_t>(static_cast<uint8_t>(at[3]));
            const uint64_t total = 4 + ((blobSize + 3) & ~uint64_t{3});
            if (total > left)
                throw osc::MalformedMessageException("arguments exceed message size");
            need = static_cast<size_t>(total);
            break;
        }
        default: throw osc::MalformedMessageException("unknown type tag");
        }
        if (need > left)
            throw osc::MalformedMessageException("arguments exceed message size");
        at += need;
    }
}

// Walks a bundle and every bundle nested in it before the OSC library
// reads them: the library steps from element to element by the sizes the
// packet claims, in 32-bit unsigned arithmetic, so a size of 0xFFFFFFFC
// steps by nothing and its walk never ends, and a huge one steps past the
// packet. Each size must be non-negative, a multiple of four and within what
// remains; each message's arguments must fit its element.
void CheckBundleBytes(const char* data, long size, int depth)
{
    if (depth >= kMaxBundleDepth)
        throw osc::MalformedBundleException("bundle nested too deeply");
    if (size < 16)
        throw osc::MalformedBundleException("packet too short for bundle");
    if (size % 4 != 0)
        throw osc::MalformedBundleException("bundle size must be multiple of four");
    if (memcmp(data, "#bundle", 8) != 0)
        throw osc::MalformedBundleException("bad bundle address pattern");
    long at = 16;
    while (at < size) {
        if (size - at < 4)
            throw osc::MalformedBundleException("packet too short for elementSize");
        const auto* sizeBytes = reinterpret_cast<const uint8_t*>(data + at);
        const uint32_t claimed = (uint32_t{sizeBytes[0]} << 24) | (uint32_t{sizeBytes[1]} << 16) |
                                 (uint32_t{sizeBytes[2]} << 8) | uint32_t{sizeBytes[3]};
        at += 4;
        if (claimed > 0x7FFFFFFFu || claimed % 4 != 0 || claimed > static_cast<uint64_t>(size - at))
            throw osc::MalformedBundleException("bundle element size out of range");
        const long elementSize = static_cast<long>(claimed);
        if (elementSize > 0 && data[at] == '#')
            CheckBundleBytes(data + at, elementSize, depth + 1);
        else
            CheckMessageBytes(data + at, elementSize);
        at += elementSize;
    }
}

void CheckId(int32_t id, int64_t count, const char* outOfRange)
{
    if (id < 0 || id >= count)
        throw osc::Exception(outOfRange);
}

} // namespace

OSCHelper::OSCHelper(ObryAuBase* owner, LuaMIDIHelper* luaHelper) : owner(owner), luaHelper(luaHelper)
{
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

OSCHelper::~OSCHelper()
{
    DestroyTask();
    if (wakeFd >= 0)
        close(wakeFd);
}

// ---------------------------------------------------------------------------
// Lifecycle: the owner's controlling thread.

void OSCHelper::Init()
{
    if (owner) {
        const char* name = nullptr;
        uint32_t count = 0;
        const ParameterInfo* table = nullptr;
        if (owner->GetProperty(kObryProperty_PluginName, 0, 0, &name) == 0 && name)
            pluginName = name;
        if (owner->GetProperty(kObryProperty_ParameterCount, 0, 0, &count) == 0)
            parameterCount = count;
        if (owner->GetProperty(kObryProperty_ParameterTable, 0, 0, &table) == 0)
            parameterTable = table;
        if (!parameterTable)
            parameterCount = 0;
    }
    // Producers read the flags without a lock: the array is made once, here,
    // before the owner is handed to the host; a second Init only clears it.
    if (!registeredFlags || registeredFlagCount != parameterCount) {
        registeredFlags.reset(new std::atomic<uint8_t>[static_cast<size_t>(parameterCount)]);
        registeredFlagCount = static_cast<int32_t>(parameterCount);
    }
    for (int32_t i = 0; i < registeredFlagCount; ++i)
        registeredFlags[i].store(0, std::memory_order_relaxed);
    if (luaHelper)
        luaHelper->setupLua();
}

void OSCHelper::CreateTask()
{
    if (listenThread.IsRunning()) {
        OSCPrintf("Warning: Attempt to recreate OSC task\n");
        return;
    }
    if (!modulePin)
        modulePin = corvane::platform::PinThisModule();
    stopping.store(false, std::memory_order_release);
    listenRebind.Reset();
    notifyWake.Reset();
    int error = listenThread.Start([this](corvane::platform::Event& quit) { ListenMain(quit); });
    if (error != 0) {
        OSCPrintf("failed to create OSC thread: %d\n", error);
        if (modulePin) {
            dlclose(modulePin);
            modulePin = nullptr;
        }
        return;
    }
    // A port set before the threads existed is served now.
    if (listenPort.load(std::memory_order_acquire) != 0)
        listenRebind.Set();
    error = notifyThread.Start([this](corvane::platform::Event& quit) { NotifyMain(quit); });
    if (error != 0)
        OSCPrintf("failed to create OSC notify thread: %d\n", error);
}

void OSCHelper::RequestStop()
{
    if (!listenThread.IsRunning() && !notifyThread.IsRunning())
        return;
    // The flag stays set until the next CreateTask, so a rebind that races
    // with this cannot start a new receive loop.
    stopping.store(true, std::memory_order_release);
    RequestBreak();
    for (corvane::platform::WorkerThread* thread : {&listenThread, &notifyThread})
        if (corvane::platform::Event* quit = thread->QuitEvent())
            quit->Set();
}

bool OSCHelper::DestroyTask(std::chrono::milliseconds limit)
{
    if (!listenThread.IsRunning() && !notifyThread.IsRunning())
        return true;
    RequestStop();
    const corvane::platform::StopBudget budget(limit);
    const bool listenEnded = listenThread.Stop(budget.Left());
    const bool notifyEnded = notifyThread.Stop(budget.Left());
    // A thread left running keeps the module mapped.
    if (listenEnded && notifyEnded && modulePin) {
        dlclose(modulePin);
        modulePin = nullptr;
    }
    return listenEnded && notifyEnded;
}

// ---------------------------------------------------------------------------
// Any thread, the audio thread included: atomics, one eventfd write and an
// event signal; no lock, no allocation.

void OSCHelper::SetListenPort(int32_t port)
{
    listenPort.store(port, std::memory_order_release);
    RequestBreak();
    if (port != 0)
        listenRebind.Set();
}

void OSCHelper::RequestBreak()
{
    breakRequested.store(true, std::memory_order_release);
    if (wakeFd >= 0) {
        const uint64_t one = 1;
        // A full counter (never in practice) still wakes the poll.
        [[maybe_unused]] const ssize_t written = write(wakeFd, &one, sizeof one);
    }
}

// ---------------------------------------------------------------------------
// Listen thread.

void OSCHelper::DrainWake()
{
    if (wakeFd < 0)
        return;
    uint64_t count;
    while (read(wakeFd, &count, sizeof count) > 0) {
    }
}

void OSCHelper::ListenMain(corvane::platform::Event& quit)
{
    corvane::platform::Event* const events[] = {&quit, &listenRebind};
    for (;;) {
        if (corvane::platform::WaitAny(events, 2, corvane::platform::kWaitForever) != 1)
            return;
        if (stopping.load(std::memory_order_acquire))
            return;
        // Clear the break before reading the port: a port set from here on
        // breaks the loop below and signals the rebind again.
        breakRequested.store(false, std::memory_order_release);
        DrainWake();
        const int32_t port = listenPort.load(std::memory_order_acquire);
        if (port == 0)
            continue;
        const int socketFd = OpenListenSocket(port);
        if (socketFd < 0) {
            // Another program (or instance) holds the port: wait for the
            // next rebind.
            OSCPrintf("std::runtime_error in TaskMain(): %s\n", "unable to bind udp socket\n");
            continue;
        }
        boundPort.store(port, std::memory_order_release);
        ReceiveLoop(socketFd);
        boundPort.store(0, std::memory_order_release);
        close(socketFd);
    }
}

void OSCHelper::ReceiveLoop(int socketFd)
{
    std::unique_ptr<char[]> buffer(new char[kReceiveBufferSize]);
    pollfd watched[2] = {{socketFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const nfds_t watchedCount = wakeFd >= 0 ? 2 : 1;
    while (!breakRequested.load(std::memory_order_acquire) && !stopping.load(std::memory_order_acquire)) {
        // Without an event descriptor the flag is looked at ten times a second.
        const int ready = poll(watched, watchedCount, wakeFd >= 0 ? -1 : 100);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            OSCPrintf("std::runtime_error in TaskMain(): %s\n", "select failed\n");
            return;
        }
        if (watchedCount == 2 && (watched[1].revents & POLLIN))
            DrainWake();
        if (!(watched[0].revents & POLLIN))
            continue;
        // Read what is waiting, but look at the break flag between datagrams
        // so a flood cannot keep the server from moving or stopping.
        for (int i = 0; i < 64 && !breakRequested.load(std::memory_order_acquire); ++i) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t size = recvfrom(socketFd, buffer.get(), kReceiveBufferSize, MSG_DONTWAIT,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (size < 0)
                break;
            if (size == 0)
                continue;
            const IpEndpointName remote(static_cast<unsigned long>(ntohl(from.sin_addr.s_addr)), ntohs(from.sin_port));
            ProcessPacket(buffer.get(), static_cast<int>(size), remote);
        }
    }
}

// Everything a datagram can raise stops here: the same texts as a server
// whose listen loop failed, but the server keeps listening, so one bad
// packet from anyone on the network cannot silence the instance.
void OSCHelper::ProcessPacket(const char* data, int size, const IpEndpointName& remoteEndpoint)
{
    if (!data || size <= 0)
        return;
    try {
        const osc::ReceivedPacket packet(data, static_cast<osc::osc_bundle_element_size_t>(size));
        if (packet.IsBundle()) {
            CheckBundleBytes(data, size, 0);
            ProcessBundle(osc::ReceivedBundle(packet), remoteEndpoint);
        } else {
            CheckMessageBytes(data, size);
            ProcessMessage(osc::ReceivedMessage(packet), remoteEndpoint);
        }
    } catch (const osc::Exception& e) {
        OSCPrintf("osc::Exception in TaskMain(): %s\n", e.what());
    } catch (const std::runtime_error& e) {
        OSCPrintf("std::runtime_error in TaskMain(): %s\n", e.what());
    } catch (const std::exception& e) {
        OSCPrintf("std::exception in TaskMain(): %s\n", e.what());
    }
}

void OSCHelper::ProcessBundle(const osc::ReceivedBundle& bundle, const IpEndpointName& remoteEndpoint)
{
    ProcessBundleAtDepth(bundle, remoteEndpoint, 0);
}

void OSCHelper::ProcessBundleAtDepth(const osc::ReceivedBundle& bundle, const IpEndpointName& remote, int depth)
{
    if (depth >= kMaxBundleDepth)
        throw osc::MalformedBundleException("bundle nested too deeply");
    for (osc::ReceivedBundle::const_iterator i = bundle.ElementsBegin(); i != bundle.ElementsEnd(); ++i)
        if (!i->IsBundle())
            CheckMessageBytes(i->Contents(), i->Size());
    if (bundle.ElementCount() >= 2) {
        const osc::ReceivedBundleElement first = *bundle.ElementsBegin();
        if (first.Size() <= 0 || first.Contents()[0] != '#') {
            const osc::ReceivedMessage message(first);
            if (strncmp(message.AddressPattern(), "/t3d/frm", 8) == 0) {
                ProcessT3dBundle(bundle);
                return;
            }
        }
    }
    for (osc::ReceivedBundle::const_iterator i = bundle.ElementsBegin(); i != bundle.ElementsEnd(); ++i) {
        if (i->IsBundle())
            ProcessBundleAtDepth(osc::ReceivedBundle(*i), remote, depth + 1);
        else
            ProcessMessage(osc::ReceivedMessage(*i), remote);
    }
}

// A touch frame: "/t3d/tch" (i id, f x, f y, f z, f note) sets a touch's
// values, "/t3d/alv" (i ids...) lists the touches now alive; anything else
// in the frame, nested bundles included, is ignored. The first malformed
// message ends the frame with its error; what came before it stays. A
// "/t3d/tch" is read whole before it is written, so a malformed one changes
// nothing, and the alive list is applied only once it has been read whole.
// Touch frames do not reach the address space or the recent-message ring.
void OSCHelper::ProcessT3dBundle(const osc::ReceivedBundle& bundle)
{
    SoundplaneTouchTable& table = SoundplaneTouchTable::Instance();
    table.BeginFrame();
    try {
        for (osc::ReceivedBundle::const_iterator i = bundle.ElementsBegin(); i != bundle.ElementsEnd(); ++i) {
            if (i->Size() > 0 && i->Contents()[0] == '#')
                continue;
            const osc::ReceivedMessage message(*i);
            const char* address = message.AddressPattern();
            if (strncmp(address, "/t3d/tch", 8) == 0) {
                osc::ReceivedMessageArgumentStream arguments = message.ArgumentStream();
                osc::int32 id = 0;
                float x = 0.0f, y = 0.0f, z = 0.0f, note = 0.0f;
                arguments >> id >> x >> y >> z >> note;
                table.WriteTouch(id, x, y, z, note); // ids outside 1..16 and non-finite values: ignored
            } else if (strncmp(address, "/t3d/alv", 8) == 0) {
                bool alive[SoundplaneTouchTable::kTouchCount] = {};
                osc::ReceivedMessageArgumentStream arguments = message.ArgumentStream();
                while (!arguments.Eos()) {
                    osc::int32 id = 0;
                    arguments >> id;
                    if (id >= 1 && id <= SoundplaneTouchTable::kTouchCount)
                        alive[id - 1] = true;
                }
                table.WriteAlive(alive);
            }
        }
    } catch (const osc::Exception& e) {
        OSCPrintf("error while parsing message: %s\n", e.what());
    }
}

void OSCHelper::ProcessMessage(const osc::ReceivedMessage& message, const IpEndpointName& remoteEndpoint)
{
    try {
        HandleMessage(message, remoteEndpoint);
    } catch (const osc::Exception& e) {
        OSCPrintf("error while parsing message: %s: %s\n", message.AddressPattern(), e.what());
    }
}

void OSCHelper::HandleMessage(const osc::ReceivedMessage& message, const IpEndpointName& remote)
{
    RememberMessage(message);
    const char* address = message.AddressPattern();
    if (strncmp(address, "/obry/", 6) == 0) {
        HandleObryAddress(message);
        return;
    }
    if (HandleParameterPath(message) || HandleFunctionPath(message))
        return;
    if (HandleBuiltIn(address, message, remote))
        return;
    ProcessOtherMessage(address, message, remote);
}

void OSCHelper::RememberMessage(const osc::ReceivedMessage& message)
{
    std::ostringstream printed;
    printed.imbue(std::locale::classic());
    printed << message;
    std::string text = printed.str();
    if (text.size() > kRecentMessageLimit)
        text.resize(kRecentMessageLimit);
    const int slot = (recentIndex.load(std::memory_order_relaxed) + 1) % kRecentMessageCount;
    {
        std::lock_guard<std::mutex> guard(recentLock);
        recentMessages[slot].swap(text);
    }
    recentIndex.store(slot, std::memory_order_release);
}

std::string OSCHelper::RecentMessage(int slot) const
{
    if (slot < 0 || slot >= kRecentMessageCount)
        return {};
    std::lock_guard<std::mutex> guard(recentLock);
    return recentMessages[slot];
}

bool OSCHelper::IsBuiltInAddress(const char* path)
{
    static const char* const kBuiltIn[] = {
        "/ping", "/set", "/get", "/getAll", "/getAllRegistered", "/getNumParameters", "/isParameterUsed",
        "/getInfo", "/registerUpdate", "/unregisterUpdate", "/exec", "/call", "/startNote", "/stopNote",
    };
    if (!path)
        return false;
    for (const char* address : kBuiltIn)
        if (strcmp(path, address) == 0)
            return true;
    return strncmp(path, "/obry/", 6) == 0 || strncmp(path, "/t3d/", 5) == 0;
}

bool OSCHelper::isParameterUsed(int32_t)
{
    return true;
}

// The built-in addresses. Arguments are read completely (so that a wrong
// type or an extra argument fails the message) before anything is done.
bool OSCHelper::HandleBuiltIn(const char* address, const osc::ReceivedMessage& message, const IpEndpointName& remote)
{
    osc::ReceivedMessageArgumentStream args = message.ArgumentStream();
    const char* url = nullptr;
    const char* path = nullptr;
    osc::int32 id = 0;

    if (strcmp(address, "/ping") == 0) {
        args >> url >> path >> osc::EndMessage;
        const IpEndpointName target = ResolveReplyURLFor(url, remote);
        char endpoint[64];
        uint32_t local = 0;
        const int32_t port = boundPort.load(std::memory_order_acquire);
        int length;
        if (LocalAddressFor(static_cast<uint32_t>(remote.address), &local) && local != 0)
            length = snprintf(endpoint, sizeof endpoint, "osc.udp://%d.%d.%d.%d", static_cast<int>(local >> 24),
                              static_cast<int>((local >> 16) & 0xFF), static_cast<int>((local >> 8) & 0xFF),
                              static_cast<int>(local & 0xFF));
        else
            length = snprintf(endpoint, sizeof endpoint, "osc.udp://<any>");
        if (port != 0)
            snprintf(endpoint + length, sizeof endpoint - length, ":%d", port);
        else
            snprintf(endpoint + length, sizeof endpoint - length, ":<any>");
        const std::string version = pluginName + " 2.1.0";
        OSCReplyPacket reply(path);
        reply.Stream() << endpoint << version.c_str();
        reply.SendTo(target);
        return true;
    }
    if (strcmp(address, "/set") == 0) {
        float value = 0;
        args >> id >> value >> osc::EndMessage;
        CheckId(id, parameterCount, "parameter id out of range in set");
        owner->SetParameterValue(id, value, true);
        return true;
    }
    if (strcmp(address, "/get") == 0) {
        args >> id >> url >> path >> osc::EndMessage;
        CheckId(id, parameterCount, "parameter id out of range in get");
        const IpEndpointName target = ResolveReplyURLFor(url, remote);
        OSCReplyPacket reply(path);
        reply.Stream() << id << owner->GetParameterReal(id);
        reply.SendTo(target);
        return true;
    }
    if (strcmp(address, "/getAll") == 0) {
        args >> url >> path >> osc::EndMessage;
        const IpEndpointName target = ResolveReplyURLFor(url, remote);
        OSCSendSocket socket;
        socket.Connect(target);
        for (int32_t i = 0; i < parameterCount; ++i) {
            if (!isParameterUsed(i))
                continue;
            OSCReplyPacket reply(path);
            reply.Stream() << i << owner->GetParameterReal(i);
            reply.SendOn(socket);
        }
        return true;
    }
    if (strcmp(address, "/getAllRegistered") == 0) {
        args >> osc::EndMessage;
        SendAllRegistered();
        return true;
    }
    if (strcmp(address, "/getNumParameters") == 0) {
        args >> url >> path >> osc::EndMessage;
        const IpEndpointName target = ResolveReplyURLFor(url, remote);
        OSCReplyPacket reply(path);
        reply.Stream() << static_cast<osc::int32>(parameterCount);
        reply.SendTo(target);
        return true;
    }
    if (strcmp(address, "/isParameterUsed") == 0) {
        args >> id >> url >> path >> osc::EndMessage;
        CheckId(id, parameterCount, "parameter id out of range in isParameterUsed");
        const IpEndpointName target = ResolveReplyURLFor(url, remote);
        OSCReplyPacket reply(path);
        reply.Stream() << id << isParameterUsed(id);
        reply.SendTo(target);
        return true;
    }
    if (strcmp(address, "/getInfo") == 0) {
        args >> id >> url >> path >> osc::EndMessage;
        CheckId(id, parameterCount, "parameter id out of range in getInfo");
        if (!isParameterUsed(id))
            throw osc::Exception("parameter id is unused");
        const IpEndpointName target = ResolveReplyURLFor(url, remote);
        const ParameterInfo& info = parameterTable[id];
        OSCReplyPacket reply(path);
        reply.Stream() << id << info.min << info.max << info.def << (info.name ? info.name : "")
                       << static_cast<osc::int32>(info.unit);
        reply.SendTo(target);
        return true;
    }
    if (strcmp(address, "/registerUpdate") == 0) {
        args >> id >> url >> path >> osc::EndMessage;
        CheckId(id, parameterCount, "parameter id out of range in registerUpdate");
        Register(id, url, path, remote);
        return true;
    }
    if (strcmp(address, "/unregisterUpdate") == 0) {
        args >> id >> url >> path >> osc::EndMessage;
        CheckId(id, parameterCount, "parameter id out of range in registerUpdate");
        Unregister(id, url, path);
        return true;
    }
    if (strcmp(address, "/exec") == 0) {
        HandleExec(message, false, remote);
        return true;
    }
    if (strcmp(address, "/call") == 0) {
        HandleExec(message, true, remote);
        return true;
    }
    if (strcmp(address, "/startNote") == 0) {
        HandleNote(message, true);
        return true;
    }
    if (strcmp(address, "/stopNote") == 0) {
        HandleNote(message, false);
        return true;
    }
    return false;
}

// Notes from the network are handed to the audio thread, which owns the
// plug-in's voice state: they reach the plug-in at the start of its next
// block, through the same delivery as host MIDI (channel 1, as always).
void OSCHelper::HandleNote(const osc::ReceivedMessage& message, bool on)
{
    osc::ReceivedMessageArgumentStream args = message.ArgumentStream();
    osc::int32 note = 0;
    float velocity = 0;
    args >> note >> velocity >> osc::EndMessage;
    if (note < 0 || note > 127)
        throw osc::Exception("note out of range");
    const float scaled = velocity * 127.0f;
    int32_t midiVelocity = 0;
    if (scaled >= 127.0f)
        midiVelocity = 127;
    else if (scaled > 0.0f) // NaN and negative values give 0
        midiVelocity = static_cast<int32_t>(scaled);
    const uint8_t channel = 1;
    noteQueue.WriteMIDI(static_cast<uint8_t>((on ? 0x90 : 0x80) | channel), static_cast<uint8_t>(note),
                        static_cast<uint8_t>(midiVelocity), 0);
}

} // namespace QZ
