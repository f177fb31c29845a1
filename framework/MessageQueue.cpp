#include "framework/MessageQueue.h"

#include <cstdio>
#include <cstring>

namespace QZ {

uint32_t MessageQueueItem::Value() const
{
    uint32_t value;
    memcpy(&value, data, sizeof value);
    return value;
}

void MessageQueueItem::SetValue(uint32_t value)
{
    memcpy(data, &value, sizeof value);
}

MessageQueue::MessageQueue(const char* name, int32_t size, Overflow overflow)
    : size(size < 2 ? 2 : size), readIndex(this->size - 1), name(name), overflow(overflow)
{
    items.resize(static_cast<size_t>(this->size));
    for (MessageQueueItem*& item : items)
        item = new MessageQueueItem;
}

MessageQueue::~MessageQueue()
{
    for (MessageQueueItem* item : items)
        delete item;
}

MessageQueueItem* MessageQueue::BeginWrite(const char* what)
{
    const int32_t write = writeIndex.load(std::memory_order_relaxed);
    if (write == readIndex.load(std::memory_order_acquire)) {
        if (overflow == Overflow::kCount) {
            ++dropped;
            return nullptr;
        }
        // One write per message so that the text stays whole among threads.
        char text[128];
        int n = snprintf(text, sizeof text, "%s::%s() overflow\n", name, what);
        if (n > 0)
            fwrite(text, 1, static_cast<size_t>(n) < sizeof text ? n : sizeof text - 1, stderr);
        return nullptr;
    }
    return items[write];
}

void MessageQueue::EndWrite()
{
    const int32_t write = writeIndex.load(std::memory_order_relaxed);
    writeIndex.store(Next(write), std::memory_order_release);
}

uint32_t MessageQueue::TakeDropped()
{
    const uint32_t count = dropped;
    dropped = 0;
    return count;
}

bool MessageQueue::Write(uint32_t value)
{
    MessageQueueItem* item = BeginWrite("Write");
    if (!item)
        return false;
    item->type = MessageQueueItem::kValue;
    item->SetValue(value);
    item->deltaFrame = 0;
    EndWrite();
    return true;
}

bool MessageQueue::WriteSysEx(const uint8_t* bytes, uint32_t count)
{
    MessageQueueItem* item = BeginWrite("WriteSysEx");
    if (!item)
        return false;
    item->type = MessageQueueItem::kSysEx;
    item->bytes.assign(bytes, bytes + count);
    item->deltaFrame = 0;
    EndWrite();
    return true;
}

bool MessageQueue::WriteMIDI(uint8_t status, uint8_t data1, uint8_t data2, uint32_t deltaFrame)
{
    MessageQueueItem* item = BeginWrite("Write");
    if (!item)
        return false;
    item->type = MessageQueueItem::kShortMIDI;
    item->data[0] = status & 0xF0;
    item->data[1] = status & 0x0F;
    item->data[2] = data1 & 0x7F;
    item->data[3] = data2 & 0x7F;
    item->deltaFrame = deltaFrame;
    EndWrite();
    return true;
}

MessageQueueItem* MessageQueue::Take(int32_t next)
{
    MessageQueueItem* item = items[next];
    // The writer has published this slot and stays off it: it may be looked
    // at, and its delta frame changed, before it is taken.
    if (item->type == MessageQueueItem::kShortMIDI) {
        if (item->deltaFrame >= windowEnd)
            return nullptr;
        item->deltaFrame = item->deltaFrame > windowStart ? item->deltaFrame - windowStart : 0;
    }
    readIndex.store(next, std::memory_order_release);
    return item;
}

void MessageQueue::SetWindow(uint32_t start, uint32_t end)
{
    windowStart = start;
    windowEnd = end;
}

void MessageQueue::SetStart(uint32_t start)
{
    windowStart = start;
    windowEnd = UINT32_MAX;
}

void MessageQueue::ClearWindow()
{
    SetStart(0);
}

} // namespace QZ
