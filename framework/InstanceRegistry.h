// The process-wide registry of live plug-in instances: numbering (per type
// and process-wide), parameter-change listeners, lookups by instance id and
// by "/obry/" address, and learned MIDI controller mappings.
//
// One recursive lock guards the entries, listeners and mappings; a thread may
// take it again while holding it (applying a mapping runs SetParameterValue,
// which tells the listeners under the same lock). A Lua lock may be held when
// the registry lock is taken, never the reverse. Audio threads never take it.
//
// An instance is usable through the registry only between the end of its
// own constructor (MarkUsable, from Initialize) and the start of its
// destruction (MarkUnusable); lookups skip it outside that window.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

class ObryAuBase;
class StateChunk;

namespace QZ {
class MessageQueueItem;
}

class IObryParameterNotificationReceiver {
public:
    virtual ~IObryParameterNotificationReceiver() = default;
    // On the registry's serving thread, with the registry lock held; told
    // each change once, or only the latest of one parameter's changes that
    // came faster than they were served.
    virtual void ParameterChanged(ObryAuBase* instance, int32_t index, float value) = 0;
};

// A parsed "/obry/" parameter address.
struct ObryParameterAddress {
    const char* shortName = nullptr;     // null: the instance number is process-wide
    int32_t instanceNumber = 0;          // negative: every instance of the kind
    const char* parameterName = nullptr; // null: use parameterIndex
    int32_t parameterIndex = 0;
    int32_t indexOffset = 0;
};

// One recent control change, as copied when it arrived.
struct RecentControlChange {
    uint32_t instanceNumber; // process-wide number of the receiver; 0 = empty slot
    uint8_t status;          // status with the channel cleared
    uint8_t channel;
    uint8_t controller;
    uint8_t value;
};

namespace InstanceRegistry {

using Lock = std::unique_lock<std::recursive_mutex>;
std::recursive_mutex& Mutex();

void Register(ObryAuBase* instance);
void Unregister(ObryAuBase* instance);
void MarkUsable(ObryAuBase* instance);
void MarkUnusable(ObryAuBase* instance);

// Per-type number of a registered instance (given on first need), or 0.
uint32_t InstanceNumber(ObryAuBase* instance);
// Process-wide number (given on first need), or 0 when not registered.
uint32_t GlobalNumber(ObryAuBase* instance);
void SetInstanceNumbers(ObryAuBase* instance, uint32_t perType, uint32_t processWide);
// Returns with the lock held when the instance is registered and usable
// (the caller unlocks `lock`); otherwise null and not locked.
ObryAuBase* LockAndFind(ObryAuBase* instance, Lock& lock);
bool AnyLearnerPresent();
// Number of registered instances, usable or not.
size_t Count();
// Calls `visit` for every usable instance, in registration order, with the
// lock held, until it returns true; returns that instance, or null. What the
// visitor reads of an instance stays valid only while the lock is held: an
// instance is closed (made unusable) under the same lock before it goes.
ObryAuBase* FindUsable(const std::function<bool(ObryAuBase*)>& visit);

void AddListener(IObryParameterNotificationReceiver* listener);
void RemoveListener(IObryParameterNotificationReceiver* listener);
void NotifyListeners(ObryAuBase* instance, int32_t index, float value);

// Lookups by instance id (the truncated "OSC Port Offset" value).
void SetParameterOfId(int32_t id, int32_t index, float value);
float GetParameterOfId(int32_t id, int32_t index);
void SetIndicatorOfId(int32_t id, int32_t flag, int32_t on);
int32_t GetIndicatorOfId(int32_t id, int32_t flag);

void SetParameterByAddress(const ObryParameterAddress& address, float value);

// Learning.
void SetLearnArmed(bool armed);
bool IsLearnArmed();
void SetLearnTarget(ObryAuBase* instance, int32_t parameterIndex);
// The process-wide number and parameter of the learn target; false when none.
bool GetLearnTarget(uint32_t* instanceNumber, int32_t* parameterIndex);
// The learn target's instance, returned with the lock held (the caller
// unlocks `lock`) when it is registered and usable; otherwise null and not
// locked.
ObryAuBase* LockAndFindLearnTarget(int32_t* parameterIndex, Lock& lock);

// Audio thread of the receiving instance, for every delivered message; no
// allocation, no blocking lock. The recent control changes take it at once;
// learning and the learned mappings follow on the serving thread, which sets
// each learned parameter from its controller's latest value.
void HandleMIDIMessage(const QZ::MessageQueueItem* item, ObryAuBase* instance);
std::string DescribeMapping(ObryAuBase* target, int32_t parameterIndex);
void RemoveMapping(ObryAuBase* target, int32_t parameterIndex);
size_t MappingCount();
void SaveMappings(StateChunk& chunk);
void LoadMappings(const StateChunk& parsed);
void ResolvePendingMappings();
size_t PendingMappingCount();

// The five recent control changes, newest first.
void GetRecentControlChanges(RecentControlChange out[5]);

// With the lock held: the display name (property kObryProperty_PluginName)
// and the per-type number of the usable instance whose process-wide number is
// `processWide`; false when there is none.
bool DescribeNumberLocked(uint32_t processWide, std::string& name, uint32_t& perType);

// A count that moves on whenever something an editor shows from the
// registry changes: instances and their numbers, mappings, the learn target,
// the recent control changes. Any thread, lock-free: a display takes a
// snapshot under the lock only when the count moved since its last one.
uint64_t ChangeCount();

// Clears all learned state; for module unload and tests.
void ResetMappings();

// No audio thread takes the lock: what the instances' own calls ask of the
// registry (telling the listeners, learning, applying learned mappings) is
// handed to a serving thread, whichever thread asks (see RegistryHandOver.h).
//
// For tests only. WaitForHandOver: until everything handed over so far has
// been served; any thread but an audio thread, without the lock held.
// ObserveLockTakes: `observer` (null: none) is called on the taking thread
// before every blocking take of the lock.
void WaitForHandOver();
using LockObserver = void (*)();
void ObserveLockTakes(LockObserver observer);

} // namespace InstanceRegistry
