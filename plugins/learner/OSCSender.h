// The Learner's sender: carries (OSC address, value) pairs of reported
// parameter changes to the Learner's destination. The ring holds 64 items,
// at most 63 pending; each item carries its address in a fixed field, so
// queueing allocates nothing. The sender thread sends one packet per item
// (OSCSenderBase.h).
//
// Threads:
//   Write: the thread that serves the instance registry's hand-over, which
//     reports parameter changes with the registry lock held: one writes at
//     a time, never an audio thread.
//   SetURL, Start, Stop: the host's or editor's thread.
//   the sender thread: the ring's only reader.
#pragma once

#include <cstdint>
#include <memory>

#include "plugins/common/OSCSenderBase.h"
#include "plugins/common/SenderRing.h"

namespace ObryCorvaneLearner {

class OSCSender final : public OSCSenderBase {
public:
    struct Item {
        char address[kAddressSize];
        float value;
    };
    class SetParamQueue : public SenderRing<Item> {
    public:
        // False when the ring is full. An address that does not fit the
        // field is dropped (it is no overflow) rather than sent cut short.
        bool Write(const char* address, float value);
    };

    OSCSender(); // destination 127.0.0.1:7000

    // Queues one message; a full ring drops it and the sender thread
    // reports it with kOverflowText on standard error.
    void Write(const char* address, float value);
    int32_t Pending() const;

private:
    struct Shared final : State {
        SetParamQueue queue;
        bool TakeNext(char* address, float* value) override;
        void DiscardPending() override;
    };

    Shared& shared;
};

} // namespace ObryCorvaneLearner
