// QZ::MessageQueue: a ring of 64 pre-made items passing small messages from
// one writer thread to one reader thread without a lock. At most 63 items
// are pending; a full ring drops the new item and says so on standard error.
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

    // `name` prefixes the overflow texts ("MessageQueue" for queues A and B).
    explicit MessageQueue(const char* name = "MessageQueue");
    virtual ~MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // Writer side. False (and the overflow text) when the ring is full.
    bool Write(uint32_t value);
    bool WriteSysEx(const uint8_t* bytes, uint32_t count);
    bool WriteMIDI(uint8_t status, uint8_t data1, uint8_t data2, uint32_t deltaFrame);

    // Reader side: the next item, or null when the ring is empty. The item
    // stays valid until the next Read.
    MessageQueueItem* Read();

    // Either side: whether an item is waiting (a hint; may change at once).
    bool Empty() const;

private:
    // Null when full (after printing `overflowText`).
    MessageQueueItem* BeginWrite(const char* what);
    void EndWrite();

    MessageQueueItem* items[kSize];
    std::atomic<int32_t> readIndex{kSize - 1};
    std::atomic<int32_t> writeIndex{0};
    const char* name;
};

} // namespace QZ
