// Soundplane ('QZsl', instrument): one touch of a multi-touch control
// surface as six control voltages. The touches arrive as OSC frames on any
// instance's server and live in the process-wide SoundplaneTouchTable; each
// instance follows the touch its "Voice ID" names (0: none) and mixes the
// touch's calibrated note, its presence (gate) and its x, y and z onto six
// outputs with a 6 x 6 matrix, then smooths each output as the Voice
// Controller does.
//
// A bridge that stops sending while a touch is held would leave that gate
// open for ever; when no frame at all has come for kStaleSeconds the
// followed touch counts as not alive until frames come again.
//
// Threads:
// - Audio thread: BeginBlock, Process, HandleQueuedMessage. They read the
//   touch table without blocking, and own the calibration table's writes for
//   the built-in tables. No allocation, no lock.
// - Host or editor threads: properties (the built-in tables are only queued
//   for the audio thread), the calibration name (under its own lock, never
//   touched by the audio thread), state save and restore.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "plugins/base/ObryCorvaneBase.h"
#include "framework/SoundplaneTouchTable.h"
#include "plugins/common/Calibration.h"

namespace ObryCorvaneSoundplane {

class ObryCorvane : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = 45;
    static constexpr int32_t kNumOutputs = 6;
    static constexpr int32_t kTerms = 6; // offset, note, gate, x, y, z
    static constexpr float kStaleSeconds = 1.0f;

    // Parameters.
    static constexpr int32_t kVoiceID = 0;
    static constexpr int32_t kOutput1 = 1; // output j's row of kTerms at kOutput1 + 6j
    static constexpr int32_t kOutput1Smoothing = 37; // .. + 5
    static constexpr int32_t kGateZ = 43;
    static constexpr int32_t kOSCPortOffset = 44;
    // Columns of a matrix row.
    static constexpr int32_t kTermOffset = 0;
    static constexpr int32_t kTermNote = 1;
    static constexpr int32_t kTermGate = 2;
    static constexpr int32_t kTermX = 3;
    static constexpr int32_t kTermY = 4;
    static constexpr int32_t kTermZ = 5;

    // Indicator block (float elements): the followed touch's note (clamped)
    // at byte 8 and its calibrated value at byte 12.
    static constexpr int kIndicatorNote = 2;
    static constexpr int kIndicatorValue = 3;

    explicit ObryCorvane(audioMasterCallback audioMaster);

    // The effect name and product string ("QV Soundplane") are the base's,
    // from the shell entry.

    int32_t Initialize() override;
    bool BeginBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;
    void HandleQueuedMessage(QZ::MessageQueueItem* item) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane Soundplane"; }
    const char* GetGUIScriptName() override { return "gui_soundplane.lua"; }
    int32_t GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data) override;
    int32_t GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                            uint8_t* writable) override;
    int32_t SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size) override;
    int32_t SaveExtraState(StateChunk& chunk) override;
    void RestoreExtraState(const StateChunk& records) override;

    static const ParameterInfo* Parameters();

    // For tests: audio-thread state, read while no block runs.
    const CalibrationTable& Calibration() const { return calibration; }
    int32_t FollowedTouch() const { return followed; }

private:
    // A program value held to its parameter's range (its default when NaN).
    float P(int32_t index);

    int32_t followed = 0; // 0: none, else 1..16
    bool gateZ = false;
    float matrix[kNumOutputs][kTerms] = {};
    float slewStep[kNumOutputs] = {};
    float lowpassCoef[kNumOutputs] = {};
    float smoothState[kNumOutputs] = {};
    float calibratedNote = 0.0f;
    // The followed touch as last read whole.
    SoundplaneTouch touch;
    // BeginBlock read it for the block's first piece (later pieces, after
    // a MIDI event, read it again).
    bool touchFresh = false;
    // Staleness of the frames, counted in this instance's samples.
    uint32_t lastFrameCount = 0;
    uint64_t samplesSinceFrame = 0;
    bool stale = false;

    CalibrationTable calibration;
    CalibrationProperties calibrationProperties{calibration}; // 64016-64018, 64121 and the name
};

} // namespace ObryCorvaneSoundplane
