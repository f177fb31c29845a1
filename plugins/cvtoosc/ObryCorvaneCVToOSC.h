// CV To OSC ('QZs5'): watches its two input signals and sends their values
// as OSC messages over UDP to one destination, each channel under its own
// OSC address, when a value has moved by more than a threshold and no
// faster than a set rate. Audio passes through unchanged.
//
// Threads: BeginBlock and Process run on the audio thread; they only write
// the OSCSender's ring (no allocation, no blocking, no I/O). The sender
// thread sends. Properties 64110-64112 (destination and addresses) are set
// from the host's or editor's thread, which also resolves the destination.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "plugins/base/ObryCorvaneBase.h"
#include "plugins/common/OSCSenderBase.h"
#include "plugins/cvtoosc/OSCSender.h"
#include "plugins/cvtoosc/ObryProgramQVcov1.h"

constexpr uint32_t kObryProperty_OSCAddressL = 64111;
constexpr uint32_t kObryProperty_OSCAddressR = 64112;

namespace ObryCorvaneCVToOSC {

class ObryCorvane final : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = ObryProgramQVcov1::kNumParams;
    static constexpr int32_t kChannels = OSCSender::kChannels;
    static constexpr const char* kDefaultDestination = "127.0.0.1:7000";

    enum Parameter : int32_t {
        kOSCPortOffset = 0,
        kEnableL = 1,
        kThresholdL = 2,
        kMaxRateL = 3,
        kEnableR = 4,
        kThresholdR = 5,
        kMaxRateR = 6,
    };
    // Enable, Threshold and Max Rate of a channel: 1 + 3 * channel + offset.
    static constexpr int32_t ParameterIndex(int32_t channel, int32_t offset) { return 1 + 3 * channel + offset; }

    explicit ObryCorvane(audioMasterCallback audioMaster);

    int32_t getChunk(void** data, bool isPreset) override;
    int32_t setChunk(void* data, int32_t byteSize, bool isPreset) override;
    int32_t GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data) override;
    int32_t GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                            uint8_t* writable) override;
    int32_t SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size) override;

    int32_t Initialize() override;
    void Cleanup() override;
    bool BeginBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;

    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane CV To OSC"; }
    const char* GetGUIScriptName() override { return "gui_cvtoosc.lua"; }

    // The live destination text (what property 64110 gives).
    std::string Destination() const;
    OSCSender& Sender() { return sender; }

private:
    struct Channel {
        // Set by BeginBlock.
        bool enable = false;
        float threshold = 0.001f;
        int32_t interval = 48; // samples between two sends, at least 1
        // Kept across blocks; cleared by Initialize.
        float lastSent = 0;
        int32_t countdown = 0; // samples until the next send is allowed
    };

    void ProcessChannel(int32_t index, const float* input, int32_t frames);
    // Keeps `text` (already checked) as the destination and resolves it.
    void ApplyDestinationLocked(const std::string& text);
    // The program keeps the live texts, so that a state restored without
    // the program's own chunk cannot bring back older ones.
    void CopyTextsToProgramLocked();
    ObryProgramQVcov1& Program() { return *static_cast<ObryProgramQVcov1*>(CurrentProgram()); }
    void SanitizeProgramValues();

    Channel channels[kChannels];
    OSCSender sender;

    // Host and editor threads: held while a text changes, and while the
    // program's texts are written or read with its chunk.
    mutable std::mutex textLock;
    std::string destination; // guarded by textLock; at most kMaxOSCTextLength
};

} // namespace ObryCorvaneCVToOSC
