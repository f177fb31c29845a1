#include "plugins/learner/OSCSender.h"

#include <cstring>

namespace ObryCorvaneLearner {

bool OSCSender::SetParamQueue::Write(const char* address, float value)
{
    const size_t length = strnlen(address, kAddressSize);
    if (length == kAddressSize)
        return true; // not queued, and not an overflow either
    return WriteWith([&](Item& item) {
        memcpy(item.address, address, length + 1);
        item.value = value;
    });
}

OSCSender::OSCSender()
    : OSCSenderBase("LearnerSender", std::make_shared<Shared>()), shared(static_cast<Shared&>(*state))
{
}

int32_t OSCSender::Pending() const
{
    return shared.queue.Pending();
}

void OSCSender::Write(const char* address, float value)
{
    if (!address)
        return;
    if (!shared.queue.Write(address, value) && !shared.NoteDrop())
        return; // no thread to wake: the drop was reported here
    shared.data.Set();
}

// ---- sender thread -----------------------------------------------------------------

bool OSCSender::Shared::TakeNext(char* address, float* value)
{
    return queue.ReadWith([&](const Item& item) {
        memcpy(address, item.address, kAddressSize);
        *value = item.value;
    });
}

void OSCSender::Shared::DiscardPending()
{
    while (queue.ReadWith([](const Item&) {})) {
    }
}

} // namespace ObryCorvaneLearner
