// What the registry's two files share (InstanceRegistry.cpp: instances,
// numbers, listeners, addressing, the hand-over; LearnedMappings.cpp: learning
// and learned controller mappings). Internal to the framework; everything
// named ...Locked needs the registry lock held.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "framework/InstanceRegistry.h"
#include "framework/RegistryHandOver.h"

namespace InstanceRegistry::detail {

struct Entry {
    ObryAuBase* instance;
    std::string shortName;
    bool hasShortName = false;
    uint32_t perType = 0;
    uint32_t processWide = 0;
    bool usable = false;
    Mailbox* mailbox = nullptr; // owned by the hand-over, from Register to Unregister
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

Data& D();
// Moves the change count on (ChangeCount).
void Changed();
Entry* FindEntryLocked(ObryAuBase* instance);
Entry* FindUsableLocked(ObryAuBase* instance);
uint32_t ProcessWideLocked(Entry& e);
uint32_t PerTypeLocked(Entry& entry);
Entry* FindByProcessWideLocked(uint32_t number);
// The way to the serving thread (see RegistryHandOver.h): any thread,
// lock-free; and whether the caller is that thread.
void HandOverControlChange(ObryAuBase* receiver, uint8_t channel, uint8_t controller, uint8_t value,
                           bool learn) noexcept;
bool OnServingThread() noexcept;

// Learned mappings (LearnedMappings.cpp).
extern std::atomic<uint64_t> gLearnTarget;
void UpdateCountsLocked();
void RemoveMappingsOfLocked(ObryAuBase* instance);
void ResolvePendingLocked();
void ControlChangeLocked(ObryAuBase* instance, uint8_t channel, uint8_t controller, uint8_t value, bool armed);

} // namespace InstanceRegistry::detail
