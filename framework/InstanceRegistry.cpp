#include "framework/InstanceRegistry.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "framework/ObryProperties.h"
#include "framework/RegistryData.h"
#include "framework/RegistryHandOver.h"
#include "platform/Debug.h"

namespace InstanceRegistry {
namespace detail {

void ServeParameterChanged(ObryAuBase* instance, int32_t index, float value);
void ServeControlChange(ObryAuBase* instance, uint8_t channel, uint8_t controller, uint8_t value, bool learn);

// Lives from static set-up to unload. Hosts often unload with instances
// still alive; then the data is left in place rather than pulled from under
// them. The hand-over thread serves from the data: it stops first.
struct Holder {
    Data* data = new Data;
    RegistryHandOver* handOver =
        new RegistryHandOver(&InstanceRegistry::Mutex, {&ServeParameterChanged, &ServeControlChange});
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

void HandOverControlChange(ObryAuBase* receiver, uint8_t channel, uint8_t controller, uint8_t value,
                           bool learn) noexcept
{
    if (Mailbox* mailbox = receiver->RegistryMailbox())
        gHolder.handOver->PostControlChange(*mailbox, channel, controller, value, learn);
}

bool OnServingThread() noexcept
{
    return gHolder.handOver->OnServingThread();
}

} // namespace detail

using namespace detail;

namespace {
std::atomic<LockObserver> gLockObserver{nullptr};
}

std::recursive_mutex& Mutex()
{
    // Every blocking take of the lock asks for it here.
    if (const LockObserver observer = gLockObserver.load(std::memory_order_acquire))
        observer();
    return D().lock;
}

void ObserveLockTakes(LockObserver observer)
{
    gLockObserver.store(observer, std::memory_order_release);
}

void WaitForHandOver()
{
    gHolder.handOver->WaitUntilServed();
}

namespace {
// Registration and the hand-over thread's life: the thread runs while any
// instance is registered (so it has stopped, its waits released, before the
// module's statics go at unload). Taken before the registry lock, never with
// it held.
std::mutex gLifecycle;
} // namespace

void Register(ObryAuBase* instance)
{
    std::lock_guard<std::mutex> lifecycle(gLifecycle);
    Lock lock(Mutex());
    Entry e;
    e.instance = instance;
    e.processWide = LowestFreeProcessWideLocked();
    e.mailbox = gHolder.handOver->Open(instance, instance->getNumParams());
    D().entries.push_back(std::move(e));
    instance->SetRegistryMailbox(D().entries.back().mailbox);
    Changed();
    lock.unlock();
    // Before the instance's first audio callback: the audio thread only ever
    // posts to a thread that runs.
    if (!gHolder.handOver->Start())
        corvane::DebugPrintf("the registry hand-over thread could not start\n");
}

void Unregister(ObryAuBase* instance)
{
    std::lock_guard<std::mutex> lifecycle(gLifecycle);
    Lock lock(Mutex());
    uint32_t number = 0;
    for (const Entry& e : D().entries)
        if (e.instance == instance) {
            number = e.processWide;
            // Its news go with it: none reaches a later instance at this address.
            gHolder.handOver->Close(e.mailbox);
        }
    instance->SetRegistryMailbox(nullptr);
    std::erase_if(D().entries, [instance](const Entry& e) { return e.instance == instance; });
    RemoveMappingsOfLocked(instance);
    // A later instance at the same address or with the same number must not
    // inherit the learn target.
    const uint64_t target = gLearnTarget.load();
    if (number != 0 && (target >> 32) == number)
        gLearnTarget.store(0);
    Changed();
    const bool last = D().entries.empty();
    lock.unlock();
    // The last instance: what it handed over is served, then the thread ends.
    if (last)
        gHolder.handOver->Stop();
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
    // Parameter changes come from audio threads too (automation, learned
    // controllers): with no listener (no Learner in the process) there is
    // nothing to lock for, and with one the news is handed over. Only the
    // serving thread, applying a learned controller, tells them in place.
    if (gListenerCount.load(std::memory_order_acquire) == 0)
        return;
    if (!OnServingThread()) {
        if (Mailbox* mailbox = instance->RegistryMailbox())
            gHolder.handOver->PostParameter(*mailbox, index, value);
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

namespace detail {

// The serving thread, lock held, for an instance still registered (a
// mailbox closes with its entry). One closed meanwhile is no longer usable:
// its control change changes nothing, and a listener told of it finds nothing.
void ServeParameterChanged(ObryAuBase* instance, int32_t index, float value)
{
    const std::vector<IObryParameterNotificationReceiver*> listeners = D().listeners;
    for (IObryParameterNotificationReceiver* l : listeners)
        l->ParameterChanged(instance, index, value);
}

void ServeControlChange(ObryAuBase* instance, uint8_t channel, uint8_t controller, uint8_t value, bool learn)
{
    if (FindUsableLocked(instance))
        ControlChangeLocked(instance, channel, controller, value, learn);
}

} // namespace detail

} // namespace InstanceRegistry
