#include "framework/OSCBasePort.h"

#include <atomic>

namespace ObryOSC {

namespace {
std::atomic<int32_t> gBasePort{kDefaultBasePort};
}

int32_t BasePort()
{
    return gBasePort.load(std::memory_order_relaxed);
}

void SetBasePort(int32_t port)
{
    gBasePort.store(port, std::memory_order_relaxed);
}

} // namespace ObryOSC
