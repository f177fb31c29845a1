// Datagrams through the OSC server's packet handling, as the listen thread
// hands them over: bundles, messages, "/exec" and "/call" into the Lua state,
// bound addresses, touch frames. The instance is a DC plug-in whose script
// binds one address to a parameter and one to a function.
#include <cstdint>

#include <ip/IpEndpointName.h>

#include "fuzz/FuzzHost.h"
#include "scripting/OSCHelper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ObryCorvaneBase* plugin = corvane::fuzz::Plugin(corvane::fuzz::kPluginIds[0]);
    if (!plugin || size > 65536)
        return 0;
    plugin->OSC().ProcessPacket(reinterpret_cast<const char*>(data), static_cast<int>(size),
                                IpEndpointName(127, 0, 0, 1, 9));
    return 0;
}
