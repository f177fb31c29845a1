// QZ::OSCHelper: the instance's OSC server. Its listen thread serves the
// instance's parameters on UDP port "OSC Base Port" + "OSC Port Offset"
// (offset 0: no server), answers queries, calls functions of the instance's
// MIDI Lua state and plays notes into the plug-in; its notify thread sends
// parameter changes to the clients that registered for them.
//
// Threads:
// - listen thread: receives and handles every request (ProcessPacket and
//   everything below it), owns the listening socket;
// - notify thread: drains the SetParamQueue and sends updates;
// - any thread, the audio thread included: SetListenPort and
//   QueueParameterUpdate (lock-free, never block, never allocate);
// - the owner's controlling thread: Init, CreateTask, DestroyTask.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <osc/OscPacketListener.h>
#include <osc/OscReceivedElements.h>

#include "framework/MessageQueue.h"
#include "framework/ParameterInfo.h"
#include "platform/Event.h"
#include "platform/WorkerThread.h"

class ObryAuBase;
class IpEndpointName;

namespace QZ {

class LuaMIDIHelper;

class OSCHelper : public osc::OscPacketListener {
public:
    // One parameter bound to a position of a Lua-registered OSC address:
    // argument x scale + offset is the real value.
    struct ParameterBinding {
        int32_t index;
        float offset;
        float scale;
    };

    // A client that asked for updates of one parameter.
    struct UpdateRegistration {
        uint32_t address; // IPv4, host order
        int32_t port;
        std::string path;
    };

    // Parameter changes on their way to the notify thread: 64 slots, at most
    // 63 pending. Any number of threads write (host automation on the audio
    // thread, the editor, timers, other instances' listen threads); each
    // writer claims its slot with a compare-and-swap, so no writer ever waits
    // for another. One reader: the notify thread.
    class SetParamQueue {
    public:
        static constexpr uint32_t kSize = 64;
        static constexpr uint32_t kCapacity = kSize - 1;
        struct Entry {
            int32_t index;
            float value;
        };

        SetParamQueue();
        // Any thread; lock-free, no allocation. False (after printing
        // "OSCHelper::SetParamQueue::Write() overflow\n" to the standard
        // error) when 63 entries are pending.
        bool Write(int32_t index, float value);
        // Reader only. False when no completed entry is waiting.
        bool Read(Entry& entry);

    private:
        struct Cell {
            std::atomic<uint32_t> sequence;
            Entry entry;
        };
        Cell cells[kSize];
        alignas(64) std::atomic<uint32_t> writePosition{0}; // next position to claim
        alignas(64) std::atomic<uint32_t> readPosition{0};  // next position to read
    };

    static constexpr int kRecentMessageCount = 5;
    // A client may not grow one parameter's registrations past this: every
    // change of the parameter sends one packet per registration.
    static constexpr size_t kMaxRegistrationsPerParameter = 32;
    // Replies and updates are built in buffers of this size.
    static constexpr size_t kPacketBufferSize = 1024;

    // Keeps both pointers only: the owner builds the Lua helper before this
    // helper and both live as long as the owner.
    OSCHelper(ObryAuBase* owner, LuaMIDIHelper* luaHelper);
    ~OSCHelper() override;
    OSCHelper(const OSCHelper&) = delete;
    OSCHelper& operator=(const OSCHelper&) = delete;

    // Learns the owner's name and parameters and makes the Lua MIDI state,
    // so that the user's scripts have run before the threads start.
    void Init();
    // Starts the listen and notify threads; DestroyTask stops them (both
    // within `limit`, 5000 ms unless the owner has less; a thread that does
    // not end is left running, detached).
    // The listen thread's waits are bounded well below that: a host name
    // lookup by 1 s, a Lua call by the Lua helper's time limit.
    void CreateTask();
    // True when both threads ended (or none ran); false when one was left
    // running (a Lua call blocked inside C): the owner keeps this helper.
    // RequestStop asks both to end without waiting, so that they end while
    // the owner stops its other threads.
    void RequestStop();
    bool DestroyTask(std::chrono::milliseconds limit = corvane::platform::WorkerThread::kDefaultStopTimeout);

    // Moves the server to `port`, or closes it when port is 0. Any thread;
    // never blocks.
    void SetListenPort(int32_t port);
    int32_t ListenPort() const { return listenPort.load(std::memory_order_acquire); }
    // The port the listen thread is bound to now; 0 when not listening.
    int32_t BoundPort() const { return boundPort.load(std::memory_order_acquire); }

    // Queues (index, real value) for registered OSC clients. Any thread;
    // lock-free. Ignored for a parameter nobody registered for.
    void QueueParameterUpdate(int32_t index, float value);
    SetParamQueue& ParamQueue() { return paramQueue; }

    // Notes that "/startNote" and "/stopNote" hand to the audio thread. The
    // listen thread writes; the owner's audio callback reads and delivers
    // them before its command queue.
    MessageQueue& NoteQueue() { return noteQueue; }

    // Listen thread (or a test feeding packets in-process): one datagram.
    // Nothing escapes: a malformed packet or a failed reply prints its error
    // and the server goes on.
    void ProcessPacket(const char* data, int size, const IpEndpointName& remoteEndpoint) override;

    virtual bool isParameterUsed(int32_t index);

    // Lua-bound addresses. The caller holds the Lua MIDI helper's Lua lock,
    // which guards both maps. A parameter binding is refused (false, with
    // "inconsistent sizes in RegisterOSCPathForParameter\n" through
    // DebugPrintf) when the address already has bindings of another length.
    bool AddParameterBindingsLocked(const std::string& path, const std::vector<ParameterBinding>& bindings);
    // `reference` is a Lua registry reference of a function of the MIDI
    // helper's state; the helper's state owns it.
    void AddFunctionBindingLocked(const std::string& path, int reference);
    // {index, 0, 1}, or normalised {index, minimum, maximum - minimum}; an
    // index outside the table gives {index, 0, 1} (it will change nothing).
    ParameterBinding MakeParameterBinding(int32_t index, bool normalized) const;

    // Whether the server answers `path` itself ("/ping", "/set", ... and
    // the "/obry/" and touch-frame addresses): scripts cannot bind these.
    static bool IsBuiltInAddress(const char* path);

    // Splits "osc.udp://host:port..." into the host (returned) and port (-1
    // when there is no ':' or no number after it). At most 1024 characters
    // of text are looked at.
    static std::string ParseURL(const char* text, int32_t* port);

    // The printed form of a recent message; slot 0..4 (the newest is slot
    // RecentMessageIndex()). Any thread: copies under a small lock.
    std::string RecentMessage(int slot) const;
    int RecentMessageIndex() const { return recentIndex.load(std::memory_order_acquire); }

    // Number of update registrations of a parameter (diagnostics and tests).
    size_t RegistrationCount(int32_t index) const;
    bool IsRegistered(int32_t index) const;

protected:
    void ProcessBundle(const osc::ReceivedBundle& bundle, const IpEndpointName& remoteEndpoint) override;
    void ProcessMessage(const osc::ReceivedMessage& message, const IpEndpointName& remoteEndpoint) override;
    // An address nothing handles: ignored.
    virtual void ProcessOtherMessage(const char*, const osc::ReceivedMessage&, const IpEndpointName&) {}
    // A touch-surface frame (a bundle whose first message is "/t3d/frm");
    // its message elements have been checked against their sizes. Writes
    // the process-wide SoundplaneTouchTable (listen thread).
    virtual void ProcessT3dBundle(const osc::ReceivedBundle& bundle);

private:
    struct FunctionBinding {
        int reference;
    };

    // Listen thread.
    void ListenMain(corvane::platform::Event& quit);
    void ReceiveLoop(int socketFd);
    void RequestBreak();
    void DrainWake();
    void ProcessBundleAtDepth(const osc::ReceivedBundle& bundle, const IpEndpointName& remote, int depth);
    void HandleMessage(const osc::ReceivedMessage& message, const IpEndpointName& remote);
    void RememberMessage(const osc::ReceivedMessage& message);
    bool HandleParameterPath(const osc::ReceivedMessage& message);
    bool HandleFunctionPath(const osc::ReceivedMessage& message);
    bool HandleBuiltIn(const char* address, const osc::ReceivedMessage& message, const IpEndpointName& remote);
    void HandleObryAddress(const osc::ReceivedMessage& message);
    void HandleExec(const osc::ReceivedMessage& message, bool withResults, const IpEndpointName& remote);
    void HandleNote(const osc::ReceivedMessage& message, bool on);
    // The destination must be the requester's (ResolveReplyURLFor).
    void Register(int32_t index, const char* url, const char* path, const IpEndpointName& remote);
    void Unregister(int32_t index, const char* url, const char* path);
    void SendAllRegistered();

    // Notify thread.
    void NotifyMain(corvane::platform::Event& quit);

    ObryAuBase* owner;
    LuaMIDIHelper* luaHelper;
    std::string pluginName;
    int64_t parameterCount = 0;
    const ParameterInfo* parameterTable = nullptr;

    corvane::platform::WorkerThread listenThread{"OSC listen"};
    corvane::platform::WorkerThread notifyThread{"OSC notify"};
    corvane::platform::Event listenRebind;
    corvane::platform::Event notifyWake;
    // Breaking the receive loop: the flag says so, the event descriptor
    // wakes the loop's poll. Both live as long as the helper, so a thread
    // setting the port never touches the socket itself.
    std::atomic<bool> breakRequested{false};
    std::atomic<bool> stopping{false};
    int wakeFd = -1;

    // A reference to our own module while the threads run (see CreateTask).
    void* modulePin = nullptr;

    std::atomic<int32_t> listenPort{0};
    std::atomic<int32_t> boundPort{0};

    // Update registrations: changed by the listen thread, read by the
    // notify thread, each under registrationLock. The flags are read
    // without the lock by QueueParameterUpdate.
    mutable std::mutex registrationLock;
    std::multimap<int32_t, UpdateRegistration> registrations;
    std::unique_ptr<std::atomic<uint8_t>[]> registeredFlags;
    int32_t registeredFlagCount = 0;
    SetParamQueue paramQueue;

    // Lua-bound addresses, guarded by the Lua lock. The count lets the
    // listen thread skip the lock while nothing is bound.
    std::multimap<std::string, std::vector<ParameterBinding>> parameterBindings;
    std::multimap<std::string, FunctionBinding> functionBindings;
    std::atomic<size_t> bindingCount{0};

    MessageQueue noteQueue{"OSCHelper::NoteQueue"};

    mutable std::mutex recentLock;
    std::string recentMessages[kRecentMessageCount];
    std::atomic<int> recentIndex{0};
};

} // namespace QZ
