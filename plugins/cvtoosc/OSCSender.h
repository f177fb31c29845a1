// The CV To OSC sender: carries {channel, value} pairs from the audio thread
// to the destination, each channel's values under that channel's OSC address.
// The ring holds 64 items, at most 63 pending; the sender thread sends one
// packet per item (OSCSenderBase.h).
//
// Threads:
//   Write: the audio thread (the ring's only writer): no allocation, no
//     lock, no I/O while the sender thread runs.
//   SetURL, SetAddress, Address, Start, Stop: the host's or editor's thread.
//   the sender thread: the ring's only reader. It copies both addresses
//     under a small lock at the start of each round, so an address change is
//     never seen half made.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "plugins/common/OSCSenderBase.h"
#include "plugins/common/SenderRing.h"

namespace ObryCorvaneCVToOSC {

class OSCSender final : public OSCSenderBase {
public:
    static constexpr int32_t kChannels = 2;

    struct Item {
        int32_t channel;
        float value;
    };
    class SetParamQueue : public SenderRing<Item> {
    public:
        bool Write(int32_t channel, float value) { return SenderRing::Write(Item{channel, value}); }
    };

    // Addresses "/1/foo" and "/2/foo"; destination 127.0.0.1:7000.
    OSCSender();

    // Keeps the first 255 characters of `text` as the channel's address.
    // False (and the address unchanged) for another channel or when the
    // kept text is not a valid OSC address.
    bool SetAddress(int32_t channel, const std::string& text);
    std::string Address(int32_t channel) const;

    // audio thread: queues (channel, value). A full ring drops it; the
    // sender thread reports it with kOverflowText on standard error.
    void Write(int32_t channel, float value);
    // Items written and not yet taken (a hint).
    int32_t Pending() const;

private:
    struct Shared final : State {
        SetParamQueue queue;
        mutable std::mutex addressLock; // guards addresses
        char addresses[kChannels][kAddressSize];
        char roundAddresses[kChannels][kAddressSize]; // the sender thread's copy

        bool TakeNext(char* address, float* value) override;
        void BeginRound() override;
        void DiscardPending() override;
    };

    Shared& shared;
};

} // namespace ObryCorvaneCVToOSC
