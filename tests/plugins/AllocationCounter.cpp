#include "tests/plugins/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool tCounting = false;
thread_local int tAllocations = 0;
} // namespace

// The replacement lives alone in this file, so the compiler never sees a new
// and a delete of ours side by side and mistakes malloc/free for a mismatch.
void* operator new(std::size_t size)
{
    if (tCounting)
        ++tAllocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace corvane::test {

AllocationCounter::AllocationCounter()
{
    tAllocations = 0;
    tCounting = true;
}

AllocationCounter::~AllocationCounter()
{
    tCounting = false;
}

int AllocationCounter::Count() const
{
    return tAllocations;
}

} // namespace corvane::test
