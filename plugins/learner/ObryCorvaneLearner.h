// The Learner ('QZsk'): the control panel of the process-wide table of
// learned MIDI mappings kept by the instance registry, and an OSC reporter
// of parameter changes. It processes no audio (its one output is silent).
//
// As a registry listener it hears of every parameter change of every
// instance and, with "Send OSC" on, sends each as an OSC message ("/obry/"
// addressing, in the Long, Compact or Short form) to a destination of its
// own. Its properties arm learning, forget one mapping or all of them and
// copy the learn target's addresses to the clipboard. Its state saves the
// destination ('ipep') and the whole mapping table ('mmap').
//
// Threads: ParameterChanged runs on the thread that serves the registry's
// hand-over, always with the registry lock held, whichever thread changed
// the parameter (changes of one parameter that come faster than they are
// served are told once, with the latest value); it queues and returns.
// Properties and state run on the host's or editor's thread; the sender
// thread sends.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "framework/InstanceRegistry.h"
#include "plugins/base/ObryCorvaneBase.h"
#include "plugins/common/OSCSenderBase.h"
#include "plugins/learner/OSCSender.h"

constexpr uint32_t kObryProperty_LearnMode = 64130;
constexpr uint32_t kObryProperty_ForgetTargetMapping = 64131;
constexpr uint32_t kObryProperty_RemoveAllMappings = 64132;
constexpr uint32_t kObryProperty_CopyOSCAddressLong = 64133;
constexpr uint32_t kObryProperty_CopyOSCAddressCompact = 64134;
constexpr uint32_t kObryProperty_CopyOSCAddressShort = 64135;

namespace ObryCorvaneLearner {

class ObryCorvane final : public ObryCorvaneBase, public IObryParameterNotificationReceiver {
public:
    static constexpr int32_t kNumParams = 2;
    static constexpr const char* kDefaultDestination = "127.0.0.1:7000";
    static constexpr uint32_t kTagIpep = 0x69706570; // 'ipep'

    enum Parameter : int32_t { kOSCPortOffset = 0, kSendOSC = 1 };
    enum SendMode : int32_t { kSendOff = 0, kSendLong = 1, kSendCompact = 2, kSendShort = 3 };

    explicit ObryCorvane(audioMasterCallback audioMaster);
    ~ObryCorvane() override;

    int32_t GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data) override;
    int32_t GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                            uint8_t* writable) override;
    int32_t SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size) override;

    int32_t Initialize() override;
    void Cleanup() override;
    void Process(float** inputs, float** outputs, int32_t frames) override;
    int32_t SaveExtraState(StateChunk& chunk) override;
    void RestoreExtraState(const StateChunk& parsed) override;

    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane Learner"; }
    const char* GetGUIScriptName() override { return "gui_learner.lua"; }

    // Registry listener (registry lock held): hands the change to
    // NotifyParameterChanged.
    void ParameterChanged(ObryAuBase* instance, int32_t index, float value) override;
    // Queues (address, value) for the sender unless "Send OSC" is Off or the
    // instance is not (or no longer) registered.
    void NotifyParameterChanged(ObryAuBase* instance, int32_t index, float value);

    // The address of (instance, parameter) in `mode` (Long, Compact or
    // Short) into `address` of `size` bytes; false when the instance is not
    // registered, or the address does not fit. Takes the registry lock (a
    // caller may hold it already); gives the instance its numbers when it
    // has none yet.
    static bool BuildParameterAddress(ObryAuBase* instance, int32_t index, int32_t mode, char* address,
                                      size_t size);

    std::string Destination() const;
    OSCSender& Sender() { return sender; }

private:
    int32_t CopyAddressToClipboard(uint32_t id);
    void StopListening();

    OSCSender sender;
    mutable std::mutex textLock; // host and editor threads: held while the destination changes
    std::string destination;     // guarded by textLock; at most kMaxOSCTextLength
};

} // namespace ObryCorvaneLearner
