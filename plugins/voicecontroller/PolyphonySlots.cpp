#include "plugins/voicecontroller/PolyphonySlots.h"

#include <cstring>

#include "framework/InstanceRegistry.h"

namespace ObryCorvaneVoiceController {

namespace {

// The directory: a list that only grows, its slots never freed (reachable
// from here until the process ends).
std::atomic<PolyphonySlot*> gHead{nullptr};
// Claim order; written under the registry lock.
uint64_t gNextOrder = 1;

// At module unload the slots go with the code, unless an instance still
// holds one (a host that unloads with instances alive): then they stay.
struct DirectoryCleanup {
    ~DirectoryCleanup()
    {
        for (PolyphonySlot* s = gHead.load(); s; s = s->next)
            if (s->order.load() != 0)
                return;
        PolyphonySlot* s = gHead.exchange(nullptr);
        while (s) {
            PolyphonySlot* next = s->next;
            delete s;
            s = next;
        }
    }
};
DirectoryCleanup gCleanup;

constexpr int32_t kMaxVoice = 16;

} // namespace

float MarkerSample(int32_t batch)
{
    const uint32_t bits = (0x4080u + static_cast<uint32_t>(batch & (kBatches - 1))) << 16;
    float sample;
    memcpy(&sample, &bits, sizeof sample);
    return sample;
}

int32_t BatchOfMarker(float sample)
{
    uint32_t bits;
    memcpy(&bits, &sample, sizeof bits);
    if ((bits & 0xFFFF) != 0)
        return -1;
    const uint32_t high = bits >> 16;
    return high >= 0x4080 && high < 0x4080 + kBatches ? static_cast<int32_t>(high - 0x4080) : -1;
}

// ---------------------------------------------------------------------------
// owner's audio thread: no allocation, no lock

uint64_t PolyphonySlot::PackMessage(const PolyMessage& m, uint32_t index)
{
    uint32_t data;
    memcpy(&data, m.data, sizeof data);
    return (static_cast<uint64_t>(index & 0xFFFF) << 48) | (static_cast<uint64_t>(m.target & 0xFF) << 40) |
           (static_cast<uint64_t>(m.type) << 32) | data;
}

bool PolyphonySlot::UnpackMessage(uint64_t word, uint32_t index, PolyMessage* m) const
{
    // The tag is the message's running index: a slot already holding a
    // later message (the ring went round) is not this message.
    if (static_cast<uint32_t>(word >> 48) != (index & 0xFFFF))
        return false;
    m->target = static_cast<uint32_t>((word >> 40) & 0xFF);
    m->type = static_cast<uint8_t>((word >> 32) & 0xFF);
    const auto data = static_cast<uint32_t>(word);
    memcpy(m->data, &data, sizeof data);
    return true;
}

void PolyphonySlot::BeginBatch()
{
    batchStart = writeIndex;
    pendingCount = 0;
}

bool PolyphonySlot::Append(const PolyMessage& message)
{
    if (pendingCount >= kMessagesPerBatch)
        return false;
    ring[writeIndex % kRingSize].store(PackMessage(message, writeIndex), std::memory_order_release);
    ++writeIndex;
    ++pendingCount;
    return true;
}

void PolyphonySlot::PublishBatch(int32_t batch)
{
    uint32_t s = serial.load(std::memory_order_relaxed) + 1;
    if (s == 0)
        s = 1; // 0 marks an empty entry
    serial.store(s, std::memory_order_relaxed);
    const uint64_t entry = (static_cast<uint64_t>(s) << 32) | (static_cast<uint64_t>(batchStart & 0xFFFF) << 16) |
                           pendingCount;
    batches[batch & (kBatches - 1)].store(entry, std::memory_order_release);
    BeginBatch();
}

void PolyphonySlot::ClearBatches()
{
    for (auto& entry : batches)
        entry.store(0, std::memory_order_release);
    BeginBatch();
}

// ---------------------------------------------------------------------------
// directory

namespace PolyphonySlots {

PolyphonySlot* Claim()
{
    InstanceRegistry::Lock lock(InstanceRegistry::Mutex());
    PolyphonySlot* slot = nullptr;
    for (PolyphonySlot* s = gHead.load(std::memory_order_acquire); s; s = s->next)
        if (s->order.load(std::memory_order_relaxed) == 0) {
            slot = s;
            break;
        }
    if (!slot) {
        slot = new PolyphonySlot;
        slot->next = gHead.load(std::memory_order_relaxed);
        gHead.store(slot, std::memory_order_release); // writers are serialised by the lock
    }
    slot->live.store(false, std::memory_order_relaxed);
    slot->role.store(0, std::memory_order_relaxed);
    slot->score.store(0, std::memory_order_relaxed);
    slot->generation.fetch_add(1, std::memory_order_relaxed);
    slot->ClearBatches();
    slot->order.store(gNextOrder++, std::memory_order_release);
    return slot;
}

void Release(PolyphonySlot* slot)
{
    if (!slot)
        return;
    InstanceRegistry::Lock lock(InstanceRegistry::Mutex());
    slot->live.store(false, std::memory_order_release);
    slot->role.store(0, std::memory_order_release);
    slot->generation.fetch_add(1, std::memory_order_release);
    slot->order.store(0, std::memory_order_release);
}

const PolyphonySlot* FindMaster()
{
    const PolyphonySlot* found = nullptr;
    uint64_t foundOrder = 0;
    for (const PolyphonySlot* s = gHead.load(std::memory_order_acquire); s; s = s->next) {
        if (!s->live.load(std::memory_order_acquire) || s->role.load(std::memory_order_acquire) != -1)
            continue;
        const uint64_t order = s->order.load(std::memory_order_acquire);
        if (order != 0 && (!found || order < foundOrder)) {
            found = s;
            foundOrder = order;
        }
    }
    return found;
}

// Scores are taken per voice number in registration order; a voice number
// carried by several instances keeps the score of the latest of them. A
// free preferred voice wins at once; otherwise the least busy voice (the
// earliest on a tie), unless the preferred one is as idle; with every voice
// holding a note (best of 10 or more) or none found, the preferred one.
int32_t ChooseVoice(int32_t preferred, int32_t polyphony)
{
    if (polyphony < 1)
        polyphony = 1;
    if (polyphony > kMaxVoice)
        polyphony = kMaxVoice;
    if (preferred < 1 || preferred > polyphony)
        preferred = 1;
    int32_t stored[kMaxVoice + 1] = {};
    uint64_t storedOrder[kMaxVoice + 1] = {};
    int32_t best = 999;
    uint64_t bestOrder = 0;
    int32_t choice = 1;
    bool preferredFree = false;
    for (const PolyphonySlot* s = gHead.load(std::memory_order_acquire); s; s = s->next) {
        if (!s->live.load(std::memory_order_acquire))
            continue;
        const int32_t voice = s->role.load(std::memory_order_acquire);
        if (voice < 1 || voice > polyphony)
            continue;
        const uint64_t order = s->order.load(std::memory_order_acquire);
        if (order == 0)
            continue;
        const int32_t score = s->score.load(std::memory_order_acquire);
        if (order >= storedOrder[voice]) {
            stored[voice] = score;
            storedOrder[voice] = order;
        }
        if (score == 0 && voice == preferred)
            preferredFree = true;
        if (score < best || (score == best && order < bestOrder)) {
            best = score;
            bestOrder = order;
            choice = voice;
        }
    }
    if (preferredFree)
        return preferred;
    if (best < 10)
        return stored[preferred] == best ? preferred : choice;
    return preferred;
}

} // namespace PolyphonySlots

} // namespace ObryCorvaneVoiceController
