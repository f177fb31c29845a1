// The process-wide OSC base port: every instance listens on this port plus
// its "OSC Port Offset". It starts at 7000, is replaced by the "OSC Base
// Port" preference each time a plug-in initialises, and by the preferences
// dialog when the user changes it.
//
// Any thread (one atomic word).
#pragma once

#include <cstdint>

namespace ObryOSC {

constexpr int32_t kDefaultBasePort = 7000;

int32_t BasePort();
void SetBasePort(int32_t port);

} // namespace ObryOSC
