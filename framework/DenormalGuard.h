// Flush-to-zero and denormals-are-zero for the length of one processing
// call. Denormal floats (below about 1.2e-38) cost a hundred times a normal
// operation on x86, and decaying filter, envelope and smoothing states sink
// into them once the inputs fall silent. Hosts need not set these modes
// themselves, and some other plug-in in the same thread may rely on the
// host's mode, so the guard restores the host's register on the way out.
//
// Audio thread: two register accesses, no allocation, no lock.
#pragma once

#include <cstdint>

#include <xmmintrin.h>

class DenormalGuard {
public:
    static constexpr uint32_t kFlushToZero = 0x8000;     // results below the normal range become 0
    static constexpr uint32_t kDenormalsAreZero = 0x0040; // such inputs count as 0

    DenormalGuard() : hostMode(_mm_getcsr())
    {
        const uint32_t wanted = hostMode | kFlushToZero | kDenormalsAreZero;
        if (wanted != hostMode)
            _mm_setcsr(wanted);
    }
    ~DenormalGuard()
    {
        if (_mm_getcsr() != hostMode)
            _mm_setcsr(hostMode);
    }

    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
    uint32_t hostMode;
};
