// Counts the allocations (global operator new) the calling thread makes while
// a counter is alive; the test binary replaces operator new to do so. For
// checking that an audio path allocates nothing.
#pragma once

namespace corvane::test {

class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;
    int Count() const;
};

} // namespace corvane::test
