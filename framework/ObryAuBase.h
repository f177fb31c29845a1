// ObryAuBase: the parameter, program and property layer every plug-in stands
// on. The host sees normalised 0..1 values; everything inside (programs, GUI,
// Lua, OSC, the instance registry) works with real values.
//
// Threads: setParameter may come from any thread (host automation on the
// audio thread, GUI, Lua, OSC); program values are plain floats written and
// read without a lock. Property listeners are added and removed on the UI
// and render threads and called on whatever thread sets the property (the
// UI thread, OSC, scripts): the list is locked, and a removal waits for a
// call of that listener in progress on another thread, so a listener's
// context may be destroyed as soon as its removal returns.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "framework/AudioEffectX.h"
#include "framework/CFType.h"
#include "framework/ParameterInfo.h"
#include "framework/ObryProgram.h"

// The record of property 33 (kAudioUnitProperty_ParameterStringFromValue).
struct AudioUnitParameterStringFromValue {
    uint32_t inParamID;
    const float* inValue; // null: the current value
    CFString* outString;  // handed out with a reference the caller releases
};
static_assert(sizeof(AudioUnitParameterStringFromValue) == 24);

constexpr uint32_t kAudioUnitProperty_ParameterStringFromValue = 33;

class ObryAuBase;
namespace InstanceRegistry {
class Mailbox;
}
using PropertyListenerProc = void (*)(void* refcon, ObryAuBase* instance, uint32_t propertyId, uint32_t scope,
                                      uint32_t element);

class ObryAuBase : public AudioEffectX {
public:
    // Longest display or value text handed to the host, with its NUL.
    static constexpr size_t kDisplayTextSize = 24;
    static constexpr size_t kParameterNameLength = 15;
    static constexpr size_t kParameterShortNameLength = 7;

    ObryAuBase(audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams,
               const ParameterInfo* parameterInfo, ObryProgramFactory factory);
    ~ObryAuBase() override;

    void setParameter(int32_t index, float normalized) override;
    float getParameter(int32_t index) override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    bool getProgramNameIndexed(int32_t category, int32_t index, char* text) override;
    void getParameterName(int32_t index, char* text) override;
    void getParameterLabel(int32_t index, char* label) override;
    // The full name in label (getParameterName cuts it to 15 characters), a
    // short name of at most 7 characters, and only the flags that hold
    // exactly: a switch for Boolean parameters, integer bounds for indexed
    // ones. The whole record is written; the index is valid (the dispatcher
    // checks it).
    bool getParameterProperties(int32_t index, VstParameterProperties* properties) override;
    void getParameterDisplay(int32_t index, char* text) override;
    bool getVendorString(char* text) override;

    virtual int32_t Unused() { return 0; }
    // A new array of value names for an indexed parameter (the caller
    // releases it), or -10878.
    virtual int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray);
    virtual int32_t GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data);
    virtual int32_t GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size, uint8_t* writable);
    virtual int32_t SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size);
    virtual int32_t AddPropertyListener(uint32_t id, PropertyListenerProc callback, void* refcon);
    // Removes every listener of id with that callback.
    virtual int32_t RemovePropertyListener(uint32_t id, PropertyListenerProc callback);
    // Removes only the listener of id with that callback and context (the
    // others with the same callback stay).
    int32_t RemovePropertyListener(uint32_t id, PropertyListenerProc callback, void* refcon);
    virtual uint8_t* GetIndicatorBlock() = 0;

    // Sets a real value: normalises it, runs setParameter (the plug-in's
    // override) and, when notifyHost is set, tells the host.
    void SetParameterValue(int32_t index, float real, bool notifyHost);
    // SetProperty at global scope, then the listeners of that id in order.
    int32_t SetPropertyAndNotify(uint32_t id, const void* data, uint32_t size);

    // The current program's real value (0 for a bad index).
    float GetParameterReal(int32_t index);
    ObryProgram* CurrentProgram() { return programs[curProgram]; }
    ObryProgram* Program(int32_t index) { return IsValidProgramIndex(index) ? programs[index] : nullptr; }
    const ParameterInfo* GetParameterInfo(int32_t index) const
    {
        return IsValidParameterIndex(index) ? &parameterInfo[index] : nullptr;
    }
    const ParameterInfo* ParameterTable() const { return parameterInfo; }

    // The instance registry's mailbox of this instance (RegistryHandOver.h)
    // from its registration to its unregistration, null otherwise; set by
    // the registry. Any thread, lock-free.
    InstanceRegistry::Mailbox* RegistryMailbox() const noexcept
    {
        return registryMailbox.load(std::memory_order_acquire);
    }
    void SetRegistryMailbox(InstanceRegistry::Mailbox* mailbox) noexcept
    {
        registryMailbox.store(mailbox, std::memory_order_release);
    }

protected:
    const ParameterInfo* parameterInfo; // static data of the plug-in
    std::vector<ObryProgram*> programs; // owned

private:
    // Held while the listener runs; `removed` is set under it, so a removal
    // waits for a running call and no call starts afterwards. Recursive: a
    // listener may remove itself.
    struct ListenerCall {
        std::recursive_mutex lock;
        bool removed = false;
    };
    struct PropertyListener {
        uint32_t id;
        PropertyListenerProc callback;
        void* refcon;
        std::shared_ptr<ListenerCall> call;
    };
    template <class Match>
    void RemoveListenersWhere(Match match);

    std::mutex listenersLock;
    std::vector<PropertyListener> listeners;
    std::atomic<InstanceRegistry::Mailbox*> registryMailbox{nullptr};
};
