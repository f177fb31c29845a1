// QZ::OSCHelper: the instance's OSC server. Its listen thread serves the
// instance's parameters on UDP port "OSC Base Port" + "OSC Port Offset"
// (offset 0: no server); its notify thread sends registered parameter
// updates.
#pragma once

#include <atomic>
#include <cstdint>

class ObryCorvaneBase;

namespace QZ {

class LuaMIDIHelper;

class OSCHelper {
public:
    OSCHelper(ObryCorvaneBase* owner, LuaMIDIHelper* luaHelper);
    virtual ~OSCHelper();
    OSCHelper(const OSCHelper&) = delete;
    OSCHelper& operator=(const OSCHelper&) = delete;

    // Learns the owner's name and parameters; makes the Lua MIDI state.
    void Init();
    // Starts the listen and notify threads; DestroyTask stops them.
    void CreateTask();
    void DestroyTask();

    // Moves the server to `port`, or closes it when port is 0. Any thread;
    // never blocks.
    void SetListenPort(int32_t port);
    int32_t ListenPort() const { return listenPort.load(std::memory_order_acquire); }

    // Queues (index, real value) for registered OSC clients. Any thread.
    void QueueParameterUpdate(int32_t index, float value);

protected:
    ObryCorvaneBase* owner;
    LuaMIDIHelper* luaHelper;
    std::atomic<int32_t> listenPort{0};
};

} // namespace QZ
