#include "plugins/cvtoosc/OSCSender.h"

#include <cstring>

namespace ObryCorvaneCVToOSC {

namespace {

void CopyAddress(char* field, const std::string& text)
{
    const size_t length = text.size() < OSCSenderBase::kAddressSize - 1 ? text.size() : OSCSenderBase::kAddressSize - 1;
    memcpy(field, text.data(), length);
    field[length] = 0;
}

} // namespace

OSCSender::OSCSender()
    : OSCSenderBase("CVToOSCSender", std::make_shared<Shared>()), shared(static_cast<Shared&>(*state))
{
    std::lock_guard<std::mutex> guard(shared.addressLock);
    CopyAddress(shared.addresses[0], "/1/foo");
    // R's address is L's with its second character raised by one.
    CopyAddress(shared.addresses[1], "/1/foo");
    ++shared.addresses[1][1];
}

bool OSCSender::SetAddress(int32_t channel, const std::string& text)
{
    if (channel < 0 || channel >= kChannels)
        return false;
    const std::string kept = text.substr(0, kAddressSize - 1);
    if (!IsValidOSCAddress(kept))
        return false;
    std::lock_guard<std::mutex> guard(shared.addressLock);
    CopyAddress(shared.addresses[channel], kept);
    return true;
}

std::string OSCSender::Address(int32_t channel) const
{
    if (channel < 0 || channel >= kChannels)
        return std::string();
    std::lock_guard<std::mutex> guard(shared.addressLock);
    return shared.addresses[channel];
}

int32_t OSCSender::Pending() const
{
    return shared.queue.Pending();
}

// audio thread: no allocation, no blocking, no I/O while the sender runs
void OSCSender::Write(int32_t channel, float value)
{
    if (!shared.queue.Write(channel, value) && !shared.NoteDrop())
        return; // no thread to wake: the drop was reported here
    shared.data.Set();
}

// ---- sender thread -----------------------------------------------------------------

void OSCSender::Shared::BeginRound()
{
    std::lock_guard<std::mutex> guard(addressLock);
    memcpy(roundAddresses, addresses, sizeof roundAddresses);
}

bool OSCSender::Shared::TakeNext(char* address, float* value)
{
    return queue.ReadWith([&](const Item& item) {
        const int32_t channel = item.channel == 1 ? 1 : 0;
        memcpy(address, roundAddresses[channel], kAddressSize);
        *value = item.value;
    });
}

void OSCSender::Shared::DiscardPending()
{
    while (queue.ReadWith([](const Item&) {})) {
    }
}

} // namespace ObryCorvaneCVToOSC
