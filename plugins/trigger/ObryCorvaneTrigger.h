// The Trigger ('QZs3' as an instrument without inputs, 'QZsm' as an effect
// with one input) turns one MIDI note, or the crossing of a threshold by the
// input CV, into one control-voltage output: a gate, a trigger pulse, a
// five-segment envelope or the note's velocity, scaled between "Min Voltage"
// and "Max Voltage" and smoothed.
//
// Threads: BeginSubBlock, ProcessBlockWithEvents and HandleQueuedMessage run
// on the audio thread (no allocation, no blocking lock); parameter values are
// read from the current program once per piece and held to their ranges, so
// values from a host, a saved project, OSC or Lua cannot break the indices and
// lengths made from them. SetProperty (all sound off) only queues a command
// for the audio thread. The value-text hooks run on the host's UI thread.
#pragma once

#include <cstdint>

#include "plugins/base/ObryCorvaneBase.h"
#include "plugins/common/Envelope.h"

namespace ObryCorvaneTrigger {

class ObryCorvane : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = 28;

    enum Parameter : int32_t {
        kOSCPortOffset = 0,
        kOutputMode,
        kTriggerNote,
        kOverrideGate,
        kGate,
        kMinVoltage,
        kMaxVoltage,
        kEnv1 = 7, // the envelope's group of kEnvParameterCount (7 .. 20)
        kEnv1VelocityDepth = 21,
        kEnv1ResetToZero,
        kSmoothing,
        kTriggerLength,
        kCVTriggerEnable,
        kCVTriggerThreshold,
        kEnv1Multiplier,
    };
    enum OutputMode : int32_t { kModeGate = 0, kModeTrigger, kModeEnvelope, kModeVelocity };
    // Indicator block elements (floats): envelope position and level.
    static constexpr int kIndicatorEnvelope = 4;

    ObryCorvane(audioMasterCallback audioMaster, bool isSynth);

    int32_t Initialize() override;
    uint32_t GetParameterFlags(int32_t index) override;
    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane Trigger"; }
    const char* GetGUIScriptName() override { return "gui_trigger.lua"; }
    int32_t GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data) override;
    int32_t GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                            uint8_t* writable) override;
    int32_t SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size) override;

    // audio thread
    void BeginSubBlock(int32_t frames) override;
    void ProcessBlockWithEvents(float** inputs, float** outputs, int32_t frames) override;
    void HandleQueuedMessage(QZ::MessageQueueItem* item) override;

    static const ParameterInfo* Parameters();

private:
    // audio thread
    float P(int32_t index);
    double Rate();
    EnvelopeSettings Settings();
    // The settings below from the parameters and the rate (BeginSubBlock,
    // when one of them changed).
    void DeriveSettings();
    void HandleMIDIMessage(const QZ::MessageQueueItem& item);
    void StartEnvelope(float velocity);
    void ReleaseEnvelope(float velocity);
    void Silence();
    void ScanCVTrigger(const float* input, float* output, int32_t frames);
    void Render(float* output, int32_t frames);

    bool gateOn = false;
    bool pedalDown = false;
    float noteOnVelocity = 0.0f;
    float releaseVelocity = 0.0f;
    int32_t triggerRemaining = 0;
    int32_t triggerLength = 1;
    float minVoltage = 0.0f;
    float maxVoltage = 1.0f;
    bool overrideOn = false;
    float overrideValue = 0.0f;
    int32_t outputMode = kModeGate;
    bool cvTrigger = false;
    float cvThreshold = 0.0f;
    float slewStep = 0.0f;
    float lowpassCoef = 0.0f;
    float smoothState = 0.0f;
    EnvelopeSettings envelopeSettings{};
    Envelope::IndicatorSums indicatorSums; // of envelopeSettings
    double settingsRate = 0.0;
    Envelope envelope;
};

} // namespace ObryCorvaneTrigger
