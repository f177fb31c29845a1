// Learning and learned MIDI controller mappings of the instance registry: the
// mappings by target and by source, pending mappings from a restored 'mmap'
// record, the recent control changes, and the audio thread's delivery of
// control changes (handed over, see RegistryHandOver.h).
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <vector>

#include "framework/InstanceRegistry.h"
#include "framework/MessageQueue.h"
#include "framework/ObryProperties.h"
#include "framework/RegistryData.h"
#include "framework/RegistryHandOver.h"
#include "framework/StateChunk.h"

namespace InstanceRegistry {
namespace detail {

constexpr uint32_t kTagMmap = 0x6D6D6170; // 'mmap'
constexpr uint32_t kMmapVersion = 2;
constexpr size_t kMmapRecordSize = 36;
constexpr size_t kMmapRecordSizeV1 = 32;

// Lock-free state read by the audio thread before it decides to hand over.
std::atomic<int32_t> gMappingCount{0};
std::atomic<int32_t> gPendingCount{0};
std::atomic<bool> gLearnArmed{false};
// Process-wide number (high 32 bits) and parameter index of the learn target;
// one word so that the pair cannot tear. 0 = none.
std::atomic<uint64_t> gLearnTarget{0};

// The recent control changes: each slot packs a RecentControlChange.
std::atomic<uint64_t> gRecent[5];
std::atomic<uint32_t> gRecentIndex{0};

void UpdateCountsLocked()
{
    const auto mappings = static_cast<int32_t>(D().byTarget.size());
    const auto pending = static_cast<int32_t>(D().pending.size());
    if (gMappingCount.exchange(mappings, std::memory_order_acq_rel) != mappings ||
        gPendingCount.exchange(pending, std::memory_order_acq_rel) != pending)
        Changed();
}

void RemoveBySourceLocked(const Source& source, const Target& target)
{
    auto range = D().bySource.equal_range(source);
    for (auto it = range.first; it != range.second;) {
        if (!(it->second < target) && !(target < it->second))
            it = D().bySource.erase(it);
        else
            ++it;
    }
}

void AddMappingLocked(const Source& source, const Target& target, float min, float max, uint32_t unit)
{
    auto found = D().byTarget.find(target);
    if (found == D().byTarget.end()) {
        D().byTarget.emplace(target, Mapping{source, min, max, unit});
        D().bySource.emplace(source, target);
    } else if (found->second.source == source) {
        return; // the same source again keeps the range it had
    } else {
        RemoveBySourceLocked(found->second.source, target);
        found->second = Mapping{source, min, max, unit};
        D().bySource.emplace(source, target);
        Changed(); // a new source with the count unchanged
    }
    UpdateCountsLocked();
}

void ResolvePendingLocked()
{
    std::vector<PendingMapping> unresolved;
    for (const PendingMapping& p : D().pending) {
        Entry* target = FindByProcessWideLocked(p.target);
        Entry* source = FindByProcessWideLocked(p.source);
        if (!target || !source) {
            // The instances of a project may still be being created: keep it.
            unresolved.push_back(p);
            continue;
        }
        if (p.index < 0 || p.index >= target->instance->getNumParams())
            continue; // a target parameter that does not exist is dropped
        AddMappingLocked(Source{source->instance, p.channel & 15, p.kind, p.number}, Target{target->instance, p.index},
                         p.min, p.max, p.unit);
    }
    D().pending.swap(unresolved);
    UpdateCountsLocked();
}

float MappedValue(const Mapping& m, int value)
{
    float v;
    if (m.min != -m.max) {
        v = m.min + (m.max - m.min) * static_cast<float>(value) / 127.0f;
    } else if (value == 64) {
        v = 0.0f;
    } else {
        v = m.min + (m.max - m.min) * static_cast<float>(std::max(value - 1, 0)) / 126.0f;
    }
    if (m.unit == kAudioUnitParameterUnit_Indexed)
        v = std::floor(v);
    else if (m.unit == kAudioUnitParameterUnit_Boolean)
        v = v != 0.0f ? 1.0f : 0.0f;
    return v;
}

void ApplyControlChangeLocked(const Source& source, int value)
{
    // Collect first: SetParameterValue may reach listeners that change mappings.
    std::vector<std::pair<Target, Mapping>> targets;
    auto range = D().bySource.equal_range(source);
    for (auto it = range.first; it != range.second; ++it) {
        auto found = D().byTarget.find(it->second);
        if (found != D().byTarget.end())
            targets.emplace_back(found->first, found->second);
    }
    for (const auto& [target, mapping] : targets) {
        if (!FindUsableLocked(target.instance))
            continue;
        if (target.index < 0 || target.index >= target.instance->getNumParams())
            continue;
        target.instance->SetParameterValue(target.index, MappedValue(mapping, value), true);
    }
}

void RemoveMappingsOfLocked(ObryAuBase* instance)
{
    for (auto it = D().byTarget.begin(); it != D().byTarget.end();) {
        if (it->first.instance == instance || it->second.source.instance == instance)
            it = D().byTarget.erase(it);
        else
            ++it;
    }
    for (auto it = D().bySource.begin(); it != D().bySource.end();) {
        if (it->first.instance == instance || it->second.instance == instance)
            it = D().bySource.erase(it);
        else
            ++it;
    }
    UpdateCountsLocked();
}

uint64_t PackRecent(const RecentControlChange& r)
{
    return static_cast<uint64_t>(r.instanceNumber) << 32 | static_cast<uint64_t>(r.status) << 24 |
           static_cast<uint64_t>(r.channel) << 16 | static_cast<uint64_t>(r.controller) << 8 | r.value;
}

// Learning (when armed as the change arrived) and the learned mappings of one
// control change, with the lock held.
void ControlChangeLocked(ObryAuBase* instance, uint8_t channel, uint8_t controller, uint8_t value, bool armed)
{
    const Source source{instance, channel, 0, controller};
    if (armed) {
        uint32_t targetNumber;
        int32_t targetIndex;
        if (GetLearnTarget(&targetNumber, &targetIndex)) {
            Entry* target = FindByProcessWideLocked(targetNumber);
            const ParameterInfo* info = target ? target->instance->GetParameterInfo(targetIndex) : nullptr;
            if (info) {
                ResolvePendingLocked();
                AddMappingLocked(source, Target{target->instance, targetIndex}, info->min, info->max, info->unit);
            }
        }
    }
    if (!D().pending.empty())
        ResolvePendingLocked();
    ApplyControlChangeLocked(source, value);
}

} // namespace detail

using namespace detail;

void SetLearnArmed(bool armed)
{
    gLearnArmed.store(armed);
}

bool IsLearnArmed()
{
    return gLearnArmed.load();
}

void SetLearnTarget(ObryAuBase* instance, int32_t parameterIndex)
{
    Lock lock(Mutex());
    Entry* e = instance ? FindEntryLocked(instance) : nullptr;
    const uint64_t target = !e || parameterIndex < 0 ? 0
                                                     : static_cast<uint64_t>(ProcessWideLocked(*e)) << 32 |
                                                           static_cast<uint32_t>(parameterIndex);
    if (gLearnTarget.exchange(target) != target)
        Changed();
}

bool GetLearnTarget(uint32_t* instanceNumber, int32_t* parameterIndex)
{
    const uint64_t target = gLearnTarget.load();
    if (target == 0)
        return false;
    *instanceNumber = static_cast<uint32_t>(target >> 32);
    *parameterIndex = static_cast<int32_t>(target & 0xFFFFFFFFu);
    return true;
}

ObryAuBase* LockAndFindLearnTarget(int32_t* parameterIndex, Lock& lock)
{
    uint32_t number;
    int32_t index;
    if (!GetLearnTarget(&number, &index))
        return nullptr;
    Lock held(Mutex());
    Entry* target = FindByProcessWideLocked(number);
    if (!target)
        return nullptr;
    *parameterIndex = index;
    lock = std::move(held);
    return target->instance;
}

// audio thread of the receiving instance
void HandleMIDIMessage(const QZ::MessageQueueItem* item, ObryAuBase* instance)
{
    if (!item || item->type != QZ::MessageQueueItem::kShortMIDI || item->data[0] != 0xB0)
        return;
    // Keep a copy of the message and the receiver's number, not pointers to
    // a queue slot or an instance that may be gone when the ring is read.
    RecentControlChange recent{0, item->data[0], item->data[1], item->data[2], item->data[3]};
    {
        // GlobalNumber would lock; the entry's number is read only when the
        // lock is free this moment (the lock is tried, never waited for).
        std::unique_lock<std::recursive_mutex> lock(D().lock, std::try_to_lock);
        if (lock.owns_lock())
            if (Entry* e = FindEntryLocked(instance))
                recent.instanceNumber = ProcessWideLocked(*e);
    }
    const uint32_t slot = (gRecentIndex.load(std::memory_order_relaxed) + 1) % 5;
    gRecent[slot].store(PackRecent(recent), std::memory_order_release);
    gRecentIndex.store(slot, std::memory_order_release);
    Changed();

    const bool armed = gLearnArmed.load();
    if (!armed && gMappingCount.load(std::memory_order_acquire) == 0 &&
        gPendingCount.load(std::memory_order_acquire) == 0)
        return;

    // Learning allocates and the mappings need the lock: the control change
    // is handed over (a learn is kept even when later values merge with it).
    HandOverControlChange(instance, item->data[1], item->data[2], item->data[3], armed);
}

std::string DescribeMapping(ObryAuBase* target, int32_t parameterIndex)
{
    Lock lock(Mutex());
    if (!D().pending.empty())
        ResolvePendingLocked();
    auto found = D().byTarget.find(Target{target, parameterIndex});
    if (found == D().byTarget.end())
        return std::string();
    const Mapping& m = found->second;
    if (m.source.kind > 1)
        return std::string();
    const char* name = "";
    uint32_t perType = 0, processWide = 0;
    if (Entry* e = FindUsableLocked(m.source.instance)) {
        name = ObryPropertyText(e->instance, kObryProperty_PluginName);
        perType = PerTypeLocked(*e);
        processWide = ProcessWideLocked(*e);
    }
    char text[160];
    snprintf(text, sizeof text, "%s %u (%u) Ch%u %s%u", name, perType, processWide, m.source.channel + 1,
             m.source.kind == 0 ? "CC" : "Note", m.source.number);
    return text;
}

void RemoveMapping(ObryAuBase* target, int32_t parameterIndex)
{
    Lock lock(Mutex());
    const Target key{target, parameterIndex};
    D().byTarget.erase(key);
    for (auto it = D().bySource.begin(); it != D().bySource.end();) {
        if (!(it->second < key) && !(key < it->second))
            it = D().bySource.erase(it);
        else
            ++it;
    }
    UpdateCountsLocked();
}

size_t MappingCount()
{
    Lock lock(Mutex());
    return D().byTarget.size();
}

size_t PendingMappingCount()
{
    Lock lock(Mutex());
    return D().pending.size();
}

void SaveMappings(StateChunk& chunk)
{
    Lock lock(Mutex());
    if (D().byTarget.empty())
        return;
    std::vector<uint8_t> payload;
    auto put32 = [&payload](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            payload.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto putF = [&put32](float f) {
        uint32_t bits;
        memcpy(&bits, &f, sizeof bits);
        put32(bits);
    };
    put32(kMmapVersion);
    for (const auto& [target, m] : D().byTarget) {
        Entry* t = FindEntryLocked(target.instance);
        Entry* s = FindEntryLocked(m.source.instance);
        if (!t || !s)
            continue;
        put32(ProcessWideLocked(*t));
        put32(static_cast<uint32_t>(target.index));
        put32(ProcessWideLocked(*s));
        put32(m.source.channel);
        put32(m.source.kind);
        put32(m.source.number);
        putF(m.min);
        putF(m.max);
        put32(m.unit & 0xFF);
    }
    chunk.AddRecord(kTagMmap, payload.data(), static_cast<uint32_t>(payload.size()));
}

void LoadMappings(const StateChunk& parsed)
{
    Lock lock(Mutex());
    D().byTarget.clear();
    D().bySource.clear();
    D().pending.clear();
    UpdateCountsLocked();
    const StateChunk::Record* record = parsed.Find(kTagMmap);
    if (!record || record->size < 4)
        return;
    const uint32_t version = StateChunk::LoadU32(record->data);
    size_t recordSize;
    if (version == 2)
        recordSize = kMmapRecordSize;
    else if (version == 1)
        recordSize = kMmapRecordSizeV1;
    else
        return;
    const size_t count = (record->size - 4) / recordSize;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* r = record->data + 4 + i * recordSize;
        PendingMapping p;
        p.target = StateChunk::LoadU32(r);
        p.index = static_cast<int32_t>(StateChunk::LoadU32(r + 4));
        p.source = StateChunk::LoadU32(r + 8);
        p.channel = StateChunk::LoadU32(r + 12);
        p.kind = StateChunk::LoadU32(r + 16);
        p.number = StateChunk::LoadU32(r + 20);
        p.min = StateChunk::LoadF32(r + 24);
        p.max = StateChunk::LoadF32(r + 28);
        p.unit = version == 2 ? r[32] : 0;
        if (!std::isfinite(p.min) || !std::isfinite(p.max))
            continue;
        D().pending.push_back(p);
    }
    ResolvePendingLocked();
}

void ResolvePendingMappings()
{
    Lock lock(Mutex());
    ResolvePendingLocked();
}

void GetRecentControlChanges(RecentControlChange out[5])
{
    const uint32_t newest = gRecentIndex.load(std::memory_order_acquire);
    for (uint32_t i = 0; i < 5; ++i) {
        const uint64_t packed = gRecent[(newest + 5 - i) % 5].load(std::memory_order_acquire);
        out[i].instanceNumber = static_cast<uint32_t>(packed >> 32);
        out[i].status = static_cast<uint8_t>(packed >> 24);
        out[i].channel = static_cast<uint8_t>(packed >> 16);
        out[i].controller = static_cast<uint8_t>(packed >> 8);
        out[i].value = static_cast<uint8_t>(packed);
    }
}

void ResetMappings()
{
    Lock lock(Mutex());
    D().byTarget.clear();
    D().bySource.clear();
    D().pending.clear();
    UpdateCountsLocked();
    gLearnArmed.store(false);
    gLearnTarget.store(0);
    Changed();
}

} // namespace InstanceRegistry
