#include "scripting/OSCHelper.h"

namespace QZ {

OSCHelper::OSCHelper(ObryCorvaneBase* owner, LuaMIDIHelper* luaHelper) : owner(owner), luaHelper(luaHelper)
{
}

OSCHelper::~OSCHelper() = default;

void OSCHelper::Init() {}
void OSCHelper::CreateTask() {}
void OSCHelper::DestroyTask() {}

void OSCHelper::SetListenPort(int32_t port)
{
    listenPort.store(port, std::memory_order_release);
}

void OSCHelper::QueueParameterUpdate(int32_t, float) {}

} // namespace QZ
