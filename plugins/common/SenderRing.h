// The ring between a producer (the audio thread, or producers serialised by
// one lock) and a sender thread: kSize slots of which at most kSize - 1 hold
// pending items, before the first read as after it. The read index names the
// slot taken last (it starts at the slot before slot 0), the write index the
// slot written next; the ring is full when the two are equal.
//
// No lock: the writer alone moves the write index and the reader alone the
// read index (release), each reading the other's with acquire. Writing never
// blocks and never allocates, so the audio thread may write.
#pragma once

#include <atomic>
#include <cstdint>

template <typename Item, int32_t Size = 64>
class SenderRing {
public:
    static constexpr int32_t kSize = Size;
    static_assert(Size >= 2);

    // Writer side. `fill(Item&)` fills the free slot in place; false (and
    // `fill` not called) when the ring is full.
    template <typename Fill>
    bool WriteWith(Fill&& fill)
    {
        const int32_t write = writeIndex.load(std::memory_order_relaxed);
        if (write == readIndex.load(std::memory_order_acquire))
            return false;
        fill(items[write]);
        writeIndex.store(write + 1 == kSize ? 0 : write + 1, std::memory_order_release);
        return true;
    }
    bool Write(const Item& item)
    {
        return WriteWith([&item](Item& slot) { slot = item; });
    }

    // Reader side. `take(const Item&)` sees the next pending item, which
    // stays the reader's until `take` returns; false when none is pending.
    template <typename Take>
    bool ReadWith(Take&& take)
    {
        const int32_t read = readIndex.load(std::memory_order_relaxed);
        const int32_t next = read + 1 == kSize ? 0 : read + 1;
        if (next == writeIndex.load(std::memory_order_acquire))
            return false;
        take(static_cast<const Item&>(items[next]));
        readIndex.store(next, std::memory_order_release);
        return true;
    }
    bool Read(Item* item)
    {
        return ReadWith([item](const Item& pending) { *item = pending; });
    }

    // Items written and not yet taken; exact on the writer's and the
    // reader's thread, a hint elsewhere.
    int32_t Pending() const
    {
        const int32_t read = readIndex.load(std::memory_order_acquire);
        const int32_t write = writeIndex.load(std::memory_order_acquire);
        return (write - read - 1 + kSize) % kSize;
    }

private:
    Item items[kSize]{};
    std::atomic<int32_t> readIndex{kSize - 1}; // the slot taken last
    std::atomic<int32_t> writeIndex{0};        // the slot written next
};
