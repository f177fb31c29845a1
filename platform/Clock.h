// Time since the module was loaded, on the monotonic clock. Stands in for the
// C runtime's clock(), which on Linux counts processor time, not elapsed time.
// Any thread, audio thread included: no allocation, no lock.
#pragma once

#include <cstdint>

namespace corvane::platform {

double SecondsSinceModuleLoad();
int64_t MillisecondsSinceModuleLoad();

} // namespace corvane::platform
