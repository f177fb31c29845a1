#include "framework/InstanceRegistry.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "framework/MessageQueue.h"
#include "framework/ObryProperties.h"
#include "framework/RegistryHandOver.h"
#include "framework/StateChunk.h"
#include "platform/Debug.h"

namespace InstanceRegistry {
namespace {

constexpr uint32_t kTagMmap = 0x6D6D6170; // 'mmap'
constexpr uint32_t kMmapVersion = 2;
constexpr size_t kMmapRecordSize = 36;
constexpr size_t kMmapRecordSizeV1 = 32;

struct Entry {
    ObryAuBase* instance;
    std::string shortName;
    bool hasShortName = false;
    uint32_t perType = 0;
    uint32_t processWide = 0;
    bool usable = false;
};

struct Source {
    ObryAuBase* instance;
    uint32_t channel;
    uint32_t kind; // 0 control change, 1 note
    uint32_t number;
    auto Key() const { return std::tie(instance, channel, kind, number); }
    bool operator<(const Source& o) const { return Key() < o.Key(); }
    bool operator==(const Source& o) const { return Key() == o.Key(); }
};

struct Target {
    ObryAuBase* instance;
    int32_t index;
    bool operator<(const Target& o) const { return std::tie(instance, index) < std::tie(o.instance, o.index); }
};

struct Mapping {
    Source source;
    float min;
    float max;
    uint32_t unit;
};

struct PendingMapping {
    uint32_t target;
    int32_t index;
    uint32_t source;
    uint32_t channel;
    uint32_t kind;
    uint32_t number;
    float min;
    float max;
    uint32_t unit;
};

struct Data {
    std::recursive_mutex lock;
    std::vector<Entry> entries;
    std::vector<IObryParameterNotificationReceiver*> listeners;
    std::map<Target, Mapping> byTarget;
    std::multimap<Source, Target> bySource;
    std::vector<PendingMapping> pending;
};

void ServeHandOver(const HandOverItem& item);

// Lives from static set-up to unload. Hosts often unload with instances
// still alive; then the data is left in place rather than pulled from under
// them. The hand-over thread serves from the data: it stops first.
struct Holder {
    Data* data = new Data;
    RegistryHandOver* handOver = new RegistryHandOver(&ServeHandOver);
    ~Holder()
    {
        if (!handOver->Stop()) {
            corvane::DebugPrintf("registry hand-over left running at unload\n");
            return; // it may still use both
        }
        delete handOver;
        bool idle;
        {
            std::lock_guard<std::recursive_mutex> guard(data->lock);
            idle = data->entries.empty();
        }
        if (idle)
            delete data;
        else
            corvane::DebugPrintf("unloaded with %zu plug-in instances alive\n", data->entries.size());
    }
};

Holder gHolder;

// Lock-free state read by the audio thread before it decides to lock.
std::atomic<int32_t> gListenerCount{0};
std::atomic<int32_t> gMappingCount{0};
std::atomic<int32_t> gPendingCount{0};
std::atomic<bool> gLearnArmed{false};
// Process-wide number (high 32 bits) and parameter index of the learn target;
// one word so that the pair cannot tear. 0 = none.
std::atomic<uint64_t> gLearnTarget{0};

// The recent control changes: each slot packs a RecentControlChange.
std::atomic<uint64_t> gRecent[5];
std::atomic<uint32_t> gRecentIndex{0};

// Counts changes of what an editor shows from the registry (ChangeCount).
std::atomic<uint64_t> gChanges{0};

void Changed()
{
    gChanges.fetch_add(1, std::memory_order_release);
}

Data& D()
{
    return *gHolder.data;
}

void UpdateCountsLocked()
{
    const auto mappings = static_cast<int32_t>(D().byTarget.size());
    const auto pending = static_cast<int32_t>(D().pending.size());
    if (gMappingCount.exchange(mappings, std::memory_order_acq_rel) != mappings ||
        gPendingCount.exchange(pending, std::memory_order_acq_rel) != pending)
        Changed();
}

Entry* FindEntryLocked(ObryAuBase* instance)
{
    for (Entry& e : D().entries)
        if (e.instance == instance)
            return &e;
    return nullptr;
}

Entry* FindUsableLocked(ObryAuBase* instance)
{
    Entry* e = FindEntryLocked(instance);
    return e && e->usable ? e : nullptr;
}

uint32_t LowestFreeProcessWideLocked()
{
    for (uint32_t n = 1;; ++n) {
        bool taken = false;
        for (const Entry& e : D().entries)
            if (e.processWide == n) {
                taken = true;
                break;
            }
        if (!taken)
            return n;
    }
}

uint32_t ProcessWideLocked(Entry& e)
{
    if (e.processWide == 0) {
        e.processWide = LowestFreeProcessWideLocked();
        Changed();
    }
    return e.processWide;
}

void FetchShortNameLocked(Entry& e)
{
    if (!e.hasShortName && e.usable) {
        e.shortName = ObryPropertyText(e.instance, kObryProperty_ShortName);
        e.hasShortName = true;
    }
}

uint32_t PerTypeLocked(Entry& entry)
{
    if (entry.perType != 0)
        return entry.perType;
    FetchShortNameLocked(entry);
    if (!entry.hasShortName)
        return 0;
    std::vector<uint32_t> taken;
    for (Entry& e : D().entries) {
        if (&e == &entry)
            continue;
        FetchShortNameLocked(e);
        if (e.hasShortName && e.shortName == entry.shortName && e.perType != 0)
            taken.push_back(e.perType);
    }
    uint32_t n = 1;
    while (std::find(taken.begin(), taken.end(), n) != taken.end())
        ++n;
    entry.perType = n;
    Changed();
    return n;
}

Entry* FindByProcessWideLocked(uint32_t number)
{
    for (Entry& e : D().entries) {
        ProcessWideLocked(e);
        if (e.processWide == number)
            return e.usable ? &e : nullptr;
    }
    return nullptr;
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

} // namespace

namespace {
thread_local uint32_t tLockTakes = 0;
}

std::recursive_mutex& Mutex()
{
    ++tLockTakes; // every blocking take of the lock asks for it here
    return D().lock;
}

uint32_t LockTakesOnThisThread()
{
    return tLockTakes;
}

void WaitForHandOver()
{
    gHolder.handOver->WaitUntilServed();
}

void Register(ObryAuBase* instance)
{
    Lock lock(Mutex());
    Entry e;
    e.instance = instance;
    e.processWide = LowestFreeProcessWideLocked();
    D().entries.push_back(std::move(e));
    Changed();
    lock.unlock();
    // Before the instance's first audio callback: the audio thread only ever
    // posts to a thread that runs.
    if (!gHolder.handOver->Start())
        corvane::DebugPrintf("the registry hand-over thread could not start\n");
}

void Unregister(ObryAuBase* instance)
{
    Lock lock(Mutex());
    uint32_t number = 0;
    for (const Entry& e : D().entries)
        if (e.instance == instance)
            number = e.processWide;
    std::erase_if(D().entries, [instance](const Entry& e) { return e.instance == instance; });
    RemoveMappingsOfLocked(instance);
    // A later instance at the same address or with the same number must not
    // inherit the learn target.
    const uint64_t target = gLearnTarget.load();
    if (number != 0 && (target >> 32) == number)
        gLearnTarget.store(0);
    Changed();
}

void MarkUsable(ObryAuBase* instance)
{
    Lock lock(Mutex());
    if (Entry* e = FindEntryLocked(instance))
        e->usable = true;
    Changed();
    // Mappings restored before this instance existed may bind now.
    if (!D().pending.empty())
        ResolvePendingLocked();
}

void MarkUnusable(ObryAuBase* instance)
{
    Lock lock(Mutex());
    if (Entry* e = FindEntryLocked(instance))
        e->usable = false;
    Changed();
}

ObryAuBase* FindUsable(const std::function<bool(ObryAuBase*)>& visit)
{
    Lock lock(Mutex());
    // By index: a visitor may register or mark instances (the lock is
    // re-entrant), which may grow the list under us.
    for (size_t i = 0; i < D().entries.size(); ++i) {
        ObryAuBase* instance = D().entries[i].instance;
        if (D().entries[i].usable && visit(instance))
            return instance;
    }
    return nullptr;
}

uint32_t InstanceNumber(ObryAuBase* instance)
{
    Lock lock(Mutex());
    Entry* e = FindEntryLocked(instance);
    return e ? PerTypeLocked(*e) : 0;
}

uint32_t GlobalNumber(ObryAuBase* instance)
{
    Lock lock(Mutex());
    Entry* e = FindEntryLocked(instance);
    return e ? ProcessWideLocked(*e) : 0;
}

void SetInstanceNumbers(ObryAuBase* instance, uint32_t perType, uint32_t processWide)
{
    Lock lock(Mutex());
    Entry* entry = FindEntryLocked(instance);
    if (!entry)
        return;
    if (perType != 0)
        entry->perType = perType;
    if (processWide != 0)
        entry->processWide = processWide;
    for (Entry& e : D().entries) {
        if (&e == entry)
            continue;
        if (e.perType == perType) {
            e.perType = 0;
            PerTypeLocked(e);
        }
        if (e.processWide == processWide) {
            e.processWide = 0;
            e.processWide = LowestFreeProcessWideLocked();
        }
    }
    Changed();
    if (!D().pending.empty())
        ResolvePendingLocked();
}

ObryAuBase* LockAndFind(ObryAuBase* instance, Lock& lock)
{
    Lock held(Mutex());
    if (!FindUsableLocked(instance))
        return nullptr;
    lock = std::move(held);
    return instance;
}

bool AnyLearnerPresent()
{
    Lock lock(Mutex());
    for (const Entry& e : D().entries) {
        if (!e.usable)
            continue;
        uint8_t isLearner = 0;
        if (e.instance->GetProperty(kObryProperty_IsLearner, 0, 0, &isLearner) == 0 && isLearner)
            return true;
    }
    return false;
}

size_t Count()
{
    Lock lock(Mutex());
    return D().entries.size();
}

void AddListener(IObryParameterNotificationReceiver* listener)
{
    Lock lock(Mutex());
    D().listeners.push_back(listener);
    gListenerCount.store(static_cast<int32_t>(D().listeners.size()));
}

void RemoveListener(IObryParameterNotificationReceiver* listener)
{
    Lock lock(Mutex());
    std::erase(D().listeners, listener);
    gListenerCount.store(static_cast<int32_t>(D().listeners.size()));
}

void NotifyListeners(ObryAuBase* instance, int32_t index, float value)
{
    // Parameter changes come from the audio thread too: with no listener
    // (no Learner in the process) there is nothing to lock for, and with
    // one the audio thread hands the news over instead of taking the lock.
    if (gListenerCount.load(std::memory_order_acquire) == 0)
        return;
    if (OnAudioThread()) {
        HandOverItem item;
        item.kind = HandOverItem::kParameterChanged;
        item.instance = instance;
        item.index = index;
        item.realValue = value;
        gHolder.handOver->Post(item);
        return;
    }
    Lock lock(Mutex());
    const std::vector<IObryParameterNotificationReceiver*> listeners = D().listeners;
    for (IObryParameterNotificationReceiver* l : listeners)
        l->ParameterChanged(instance, index, value);
}

void SetParameterOfId(int32_t id, int32_t index, float value)
{
    Lock lock(Mutex());
    for (size_t i = 0; i < D().entries.size(); ++i) {
        Entry& e = D().entries[i];
        if (!e.usable || ObryPortOffset(e.instance) != id)
            continue;
        if (index >= 0 && index < e.instance->getNumParams())
            e.instance->SetParameterValue(index, value, true);
    }
}

float GetParameterOfId(int32_t id, int32_t index)
{
    Lock lock(Mutex());
    for (Entry& e : D().entries)
        if (e.usable && ObryPortOffset(e.instance) == id)
            return e.instance->GetParameterReal(index);
    return 0.0f;
}

void SetIndicatorOfId(int32_t id, int32_t flag, int32_t on)
{
    if (flag < 0 || flag >= kObryIndicatorFlagCount)
        return;
    Lock lock(Mutex());
    for (Entry& e : D().entries)
        if (e.usable && ObryPortOffset(e.instance) == id)
            e.instance->GetIndicatorBlock()[kObryIndicatorFlagOffset + flag] = on ? 1 : 0;
}

int32_t GetIndicatorOfId(int32_t id, int32_t flag)
{
    if (flag < 0 || flag >= kObryIndicatorFlagCount)
        return 0;
    Lock lock(Mutex());
    for (Entry& e : D().entries)
        if (e.usable && ObryPortOffset(e.instance) == id)
            return e.instance->GetIndicatorBlock()[kObryIndicatorFlagOffset + flag];
    return 0;
}

void SetParameterByAddress(const ObryParameterAddress& address, float value)
{
    Lock lock(Mutex());
    for (size_t i = 0; i < D().entries.size(); ++i) {
        Entry& e = D().entries[i];
        if (!e.usable)
            continue;
        bool oneInstance;
        if (address.shortName) {
            FetchShortNameLocked(e);
            if (e.shortName != address.shortName)
                continue;
            oneInstance = address.instanceNumber >= 0;
            if (oneInstance && PerTypeLocked(e) != static_cast<uint32_t>(address.instanceNumber))
                continue;
        } else {
            if (address.instanceNumber < 0 || ProcessWideLocked(e) != static_cast<uint32_t>(address.instanceNumber))
                continue;
            oneInstance = true;
        }
        int64_t index = address.parameterIndex;
        if (address.parameterName) {
            const std::vector<std::string>& names = ObryOSCParameterNames(e.instance);
            auto found = std::find(names.begin(), names.end(), address.parameterName);
            index = found == names.end() ? -1 : found - names.begin();
        }
        index += address.indexOffset;
        if (index >= 0 && index < e.instance->getNumParams()) {
            e.instance->SetParameterValue(static_cast<int32_t>(index), value, true);
            if (oneInstance)
                return;
        }
    }
}

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

namespace {

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

// The hand-over thread. An instance gone meanwhile is no longer found: its
// control change changes nothing, and a listener told of it finds nothing.
void ServeHandOver(const HandOverItem& item)
{
    Lock lock(Mutex());
    if (item.kind == HandOverItem::kControlChange) {
        if (FindUsableLocked(item.instance))
            ControlChangeLocked(item.instance, item.channel, item.controller, item.value, item.learnArmed);
        return;
    }
    const std::vector<IObryParameterNotificationReceiver*> listeners = D().listeners;
    for (IObryParameterNotificationReceiver* l : listeners)
        l->ParameterChanged(item.instance, item.index, item.realValue);
}

} // namespace

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

    // Learning allocates and the mappings need the lock: the audio thread
    // hands them over, in order with the parameter changes it hands over.
    if (OnAudioThread()) {
        HandOverItem handed;
        handed.kind = HandOverItem::kControlChange;
        handed.learnArmed = armed;
        handed.channel = item->data[1];
        handed.controller = item->data[2];
        handed.value = item->data[3];
        handed.instance = instance;
        gHolder.handOver->Post(handed);
        return;
    }
    Lock lock(Mutex());
    ControlChangeLocked(instance, item->data[1], item->data[2], item->data[3], armed);
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

bool DescribeNumberLocked(uint32_t processWide, std::string& name, uint32_t& perType)
{
    Entry* e = processWide != 0 ? FindByProcessWideLocked(processWide) : nullptr;
    if (!e)
        return false;
    name = ObryPropertyText(e->instance, kObryProperty_PluginName);
    perType = PerTypeLocked(*e);
    return true;
}

uint64_t ChangeCount()
{
    return gChanges.load(std::memory_order_acquire);
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
