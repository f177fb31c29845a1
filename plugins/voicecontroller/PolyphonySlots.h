// The shared side of several Voice Controllers playing as one polyphonic
// instrument: one `PolyphonySlot` per instance, holding what the others read
// of it without touching the instance itself: its role, its voice's busy
// score and, for a master, its outgoing message ring and batch table.
//
// Lifetime: slots are made on the host's thread when an instance is built
// and are never freed; a slot given back at the instance's end is reused by
// a later instance. Another instance's audio thread may therefore go on
// reading a slot whose owner has just been destroyed without ever touching
// freed memory: it sees the slot no longer live, or reads words that the
// checks below reject (batch serials, message tags).
//
// Everything another thread reads is an atomic word: a message is packed
// into one 64-bit word, a batch entry into another, so a reader never sees
// half of one. The owner's audio thread is the only writer of its ring.
#pragma once

#include <atomic>
#include <cstdint>

namespace ObryCorvaneVoiceController {

// One message of a master to its voices.
struct PolyMessage {
    uint32_t target = 0; // voice number; 0 = every voice
    uint8_t type = 0;    // QZ::MessageQueueItem type (1 = MIDI)
    uint8_t data[4] = {0, 0, 0, 0}; // status (channel cleared), channel, data 1, data 2
};

// Marker samples: the float whose bits are (0x4080 + b) << 16 names batch b.
constexpr int32_t kBatches = 64;
float MarkerSample(int32_t batch);
// The batch a sample names exactly, or -1. Only the exact bit pattern is a
// marker: audio that merely lies near a marker value is not.
int32_t BatchOfMarker(float sample);

class PolyphonySlot {
public:
    // Messages: enough for every batch the table can name to hold its
    // largest size, so that a batch's messages live as long as its entry.
    static constexpr uint32_t kMessagesPerBatch = 64;
    static constexpr uint32_t kRingSize = kBatches * kMessagesPerBatch;

    // Role as property 64019 gives it: -1 master, 1..16 voice, 0 neither.
    std::atomic<int32_t> role{0};
    // How busy the voice is (10 per envelope at or above its sustain stage,
    // 1 per envelope not idle).
    std::atomic<int32_t> score{0};
    // Between the owner's usable start and the start of its end.
    std::atomic<bool> live{false};
    // Registration order of the owner: lower is earlier.
    std::atomic<uint64_t> order{0};
    // Bumped on every claim: a reader that kept this slot notices a new owner.
    std::atomic<uint32_t> generation{0};

    // Owner's audio thread: writer side.
    void BeginBatch();
    // False when the batch is full (kMessagesPerBatch).
    bool Append(const PolyMessage& message);
    uint32_t PendingCount() const { return pendingCount; }
    // Publishes the open batch in table entry `batch` (release) and returns
    // its serial number.
    void PublishBatch(int32_t batch);
    // Zeroes the batch table (no batch is readable afterwards).
    void ClearBatches();

    // Any audio thread: reader side. Calls `deliver` for each message of
    // batch `batch` whose serial is above `*lastSerial`, then raises
    // `*lastSerial` to it. Messages already overwritten are skipped. Returns
    // whether the batch was taken.
    template <typename Deliver>
    bool ReadBatch(int32_t batch, uint32_t* lastSerial, Deliver&& deliver) const;

    PolyphonySlot* next = nullptr; // immutable once listed

private:
    static uint64_t PackMessage(const PolyMessage& m, uint32_t index);
    bool UnpackMessage(uint64_t word, uint32_t index, PolyMessage* m) const;

    std::atomic<uint64_t> ring[kRingSize] = {};
    // serial (32) | first message index & 0xFFFF (16) | count (16)
    std::atomic<uint64_t> batches[kBatches] = {};
    // Owner's audio thread only (carried across owners: serials keep rising).
    uint32_t writeIndex = 0;
    uint32_t batchStart = 0;
    uint32_t pendingCount = 0;
    std::atomic<uint32_t> serial{0};
};

namespace PolyphonySlots {

// Host's thread, at construction: a slot in the directory, claimed for one
// instance (order = registration order). Never null.
PolyphonySlot* Claim();
// Host's thread, at destruction: not live, role 0, free for reuse.
void Release(PolyphonySlot* slot);

// Any thread; lock-free, no allocation. The earliest live master, or null.
const PolyphonySlot* FindMaster();
// Any thread; lock-free, no allocation. Picks a voice 1..polyphony for a new
// note, preferring `preferred` when it is free (see the .cpp).
int32_t ChooseVoice(int32_t preferred, int32_t polyphony);

} // namespace PolyphonySlots

template <typename Deliver>
bool PolyphonySlot::ReadBatch(int32_t batch, uint32_t* lastSerial, Deliver&& deliver) const
{
    if (batch < 0 || batch >= kBatches)
        return false;
    const uint64_t entry = batches[batch].load(std::memory_order_acquire);
    const auto batchSerial = static_cast<uint32_t>(entry >> 32);
    // A marker read twice, or a stale or empty entry, delivers nothing: only
    // a batch newer than the last one taken counts.
    if (batchSerial == 0 || static_cast<int32_t>(batchSerial - *lastSerial) <= 0)
        return false;
    *lastSerial = batchSerial;
    const auto first = static_cast<uint32_t>((entry >> 16) & 0xFFFF);
    const auto count = static_cast<uint32_t>(entry & 0xFFFF);
    for (uint32_t k = 0; k < count && k < kMessagesPerBatch; ++k) {
        const uint32_t index = (first + k) & 0xFFFF;
        PolyMessage m;
        if (UnpackMessage(ring[index % kRingSize].load(std::memory_order_acquire), index, &m))
            deliver(m);
    }
    return true;
}

} // namespace ObryCorvaneVoiceController
