// QZ::MessageQueue: a ring of pre-made items (64 unless the owner asks for
// more) passing small messages from one writer thread to one reader thread
// without a lock. One slot fewer than the ring's size is pending at most; a
// full ring drops the new item and says so on standard error, or, for a ring
// made to count its drops, leaves the telling to its writer (TakeDropped).
//
// The writer alone moves the write index (release), the reader alone moves
// the read index (release); each reads the other's with acquire, so an item
// is complete before the reader can see it and stays untouched until the
// reader has moved past it.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace QZ {

class MessageQueueItem {
public:
    enum Type : uint32_t { kEmpty = 0, kShortMIDI = 1, kSysEx = 2, kValue = 3 };

    MessageQueueItem() = default;
    virtual ~MessageQueueItem() = default;
    virtual void Reserved() {}

    uint32_t type = kEmpty;
    // kShortMIDI: status & 0xF0, channel, data 1 & 127, data 2 & 127.
    // kValue: the 32-bit value, read with Value().
    uint8_t data[4] = {0, 0, 0, 0};
    std::vector<uint8_t> bytes; // kSysEx: the dump without its leading 0xF0
    uint32_t deltaFrame = 0;

    uint32_t Value() const;
    void SetValue(uint32_t value);
};

class MessageQueue {
public:
    static constexpr int kSize = 64;

    enum class Overflow { kPrintEach, kCount };

    // `name` prefixes the overflow texts ("MessageQueue" for queues A and B).
    // `size` slots (at least 2) are made here, never on the reading side.
    explicit MessageQueue(const char* name = "MessageQueue", int32_t size = kSize,
                          Overflow overflow = Overflow::kPrintEach);
    virtual ~MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // Writer side. False (and the overflow text) when the ring is full.
    bool Write(uint32_t value);
    bool WriteSysEx(const uint8_t* bytes, uint32_t count);
    bool WriteMIDI(uint8_t status, uint8_t data1, uint8_t data2, uint32_t deltaFrame);
    // Writer side, Overflow::kCount only: the items dropped since the last call.
    uint32_t TakeDropped();

    // Reader side: the next item, or null when the ring is empty. The item
    // stays valid until the next Read. The empty ring (most blocks) is
    // answered here without a call.
    MessageQueueItem* Read()
    {
        const int32_t next = Next(readIndex.load(std::memory_order_relaxed));
        if (next == writeIndex.load(std::memory_order_acquire))
            return nullptr;
        return Take(next);
    }

    // Reader side, for a block handled in pieces: while a window is set, Read
    // leaves a MIDI item whose delta frame lies at or past `end` in the ring
    // (as if empty) and hands the others on with `start` taken off their
    // delta frame (not below 0). ClearWindow goes back to plain reading.
    void SetWindow(uint32_t start, uint32_t end);
    void SetStart(uint32_t start);
    void ClearWindow();

    // Either side: whether an item is waiting (a hint; may change at once).
    bool Empty() const
    {
        return Next(readIndex.load(std::memory_order_acquire)) == writeIndex.load(std::memory_order_acquire);
    }

private:
    // Null when full (after printing `overflowText`).
    MessageQueueItem* BeginWrite(const char* what);
    void EndWrite();

    int32_t Next(int32_t index) const { return index + 1 == size ? 0 : index + 1; }
    // Read's item at `next`, published by the writer.
    MessageQueueItem* Take(int32_t next);

    const int32_t size;
    std::vector<MessageQueueItem*> items;
    std::atomic<int32_t> readIndex;
    std::atomic<int32_t> writeIndex{0};
    const char* name;
    const Overflow overflow;
    uint32_t dropped = 0; // writer side
    uint32_t windowStart = 0;          // reader side
    uint32_t windowEnd = UINT32_MAX;   // reader side
};

} // namespace QZ
