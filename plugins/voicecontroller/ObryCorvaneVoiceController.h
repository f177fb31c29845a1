// The Voice Controller ('QZs1' as an effect, 'QZsa' as an instrument) turns
// MIDI notes into the control voltages of an analogue synthesizer voice: a
// calibrated pitch, a gate, a trigger pulse, a velocity level and three
// five-segment envelopes, mixed by a 6 x 8 matrix onto six outputs. It is
// monophonic, with note priority, legato or retriggering, four portamento
// modes, pitch bend, detune, a vibrato LFO, a random tuning offset per note
// and transposition. The pitch goes through the instance's calibration
// table, which it can build in (Brink, Dunmore) or measure itself
// (auto-calibration). In Brink mode outputs 1 and 2 carry the Brink
// expander's data words made from the first five mixed outputs.
//
// Threads:
// - Audio thread: BeginSubBlock, ProcessBlockWithEvents, HandleQueuedMessage
//   and everything they call (MIDI handling, envelopes, rendering, the
//   auto-calibration). No allocation, no lock.
// - Host or editor threads: SetProperty only queues commands for the audio
//   thread (built-in tables, auto-calibration, all sound off), except the
//   calibration name (64121), which lives under its own lock and is never
//   touched by the audio thread. getChunk and setChunk copy the table's
//   values on the host's thread.
// - The editor reads and writes the live table through the addresses of
//   properties 64016 and 64017, without a lock (see Calibration.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "plugins/base/ObryCorvaneBase.h"
#include "plugins/common/Calibration.h"
#include "plugins/common/Envelope.h"
#include "plugins/common/MonoNoteStack.h"
#include "plugins/voicecontroller/AutoCalibration.h"
#include "plugins/voicecontroller/ObryProgramCorvVCv1.h"
#include "plugins/voicecontroller/PolyphonySlots.h"

// Plug-in property: the instance's role among several instances that play
// as one polyphonic instrument (4 bytes, read-only).
constexpr uint32_t kObryProperty_VoiceRole = 64019;

namespace ObryCorvaneVoiceController {

// All sound off (1 byte, writable; any data): the same id as the expander
// controllers' property.

class ObryCorvane : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = ObryProgramCorvVCv1::kNumParams;
    static constexpr int32_t kNumInputs = 1;
    static constexpr int32_t kNumOutputs = 6;
    static constexpr int32_t kEnvelopes = 3;
    static constexpr int32_t kTerms = 8; // output matrix columns

    enum Parameter : int32_t {
        kGateClosedVoltage = 0,
        kGateOpenVoltage,
        kTriggerOffVoltage,
        kTriggerOnVoltage,
        kOverridePitch,
        kPitch,
        kOverrideGate,
        kGate,
        kPitchWheelRange,
        kDetune,
        kPitchLFODepth,
        kPitchLFOSpeed,
        kEnv1 = 12, // envelope e's group of kEnvParameterCount at kEnv1 + 14e
        kOSCPortOffset = 54,
        kOutput1 = 55, // output j's row of kTerms at kOutput1 + 8j
        kVelocityMinVoltage = 103,
        kVelocityMaxVoltage,
        kEnv1VelocityDepth, // .. + 2
        kNotePriority = 108,
        kRetriggerMode,
        kPolyMode,
        kPolyphonyVoice,
        kEnv1ResetToZero, // 112 .. + 2
        kOutput1Smoothing = 115, // .. + 5
        kPortamentoMode = 121,
        kPortamentoTime,
        kPortamentoShape,
        kRandomTuning,
        kEnv1Multiplier, // 125 .. + 2
        kBrinkMode = 128,
        kBipolar3, // 129 .. 131: outputs 3, 4, 5
        kTranspose = 132,
        kTriggerLength = 133,
    };
    // Columns of the output matrix.
    enum Term : int32_t {
        kTermOffset,
        kTermPitch,
        kTermGate,
        kTermEnv1,
        kTermEnv2,
        kTermEnv3,
        kTermTrigger,
        kTermVelocity,
    };
    enum PortamentoMode : int32_t { kGlideOff, kGlideAuto, kGlideFingered, kGlideCTAuto, kGlideCTFingered };
    enum ProcessingMode : int32_t { kNormal = 0, kCalibrating = 1, kMaster = 2 };

    // Indicator block (float elements): pitch in notes, calibrated pitch,
    // then per envelope its position and level.
    static constexpr int kIndicatorPitch = 2;       // byte 8
    static constexpr int kIndicatorTarget = 3;      // byte 12
    static constexpr int kIndicatorEnvelope = 4;    // byte 16 + 8e: position; + 4: level

    ObryCorvane(audioMasterCallback audioMaster, bool isSynth);
    ~ObryCorvane() override;
    void close() override;

    // VST operations.
    bool getOutputProperties(int32_t index, VstPinProperties* properties) override;
    int32_t getChunk(void** data, bool isPreset) override;
    int32_t setChunk(void* data, int32_t byteSize, bool isPreset) override;

    // Parameter and property layer.
    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    int32_t GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data) override;
    int32_t GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                            uint8_t* writable) override;
    int32_t SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size) override;

    // Hooks.
    int32_t Initialize() override;
    void BeginSubBlock(int32_t frames) override;
    void ProcessBlockWithEvents(float** inputs, float** outputs, int32_t frames) override;
    void HandleQueuedMessage(QZ::MessageQueueItem* item) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane Voice Controller"; }
    const char* GetGUIScriptName() override { return "gui_voicecontroller.lua"; }
    int32_t SaveExtraState(StateChunk& chunk) override;
    void RestoreExtraState(const StateChunk& records) override;

    // The mono voice's MIDI (audio thread): short messages on any channel.
    void HandleMIDIMessage(const QZ::MessageQueueItem& item);
    // The base's per-message hooks stay unused: every message reaches the
    // voice through HandleMIDIMessage, after the Lua MIDI helper.
    using ObryCorvaneBase::NoteOff;
    using ObryCorvaneBase::NoteOn;

    // Host's or editor's thread: when an auto-calibration has ended since
    // the last call, names the table "<>" through SetPropertyAndNotify so
    // that the listeners of 64121 hear of it on this thread (the audio
    // thread only marks the end). getChunk calls it too; the editor calls it
    // while it idles.
    void PollCalibrationName();

    // For tests and the editor: audio-thread state, read while no block runs.
    const CalibrationTable& Calibration() const { return calibration; }
    const Envelope& EnvelopeAt(int32_t e) const { return envelopes[e]; }
    int32_t Mode() const { return processingMode; }
    bool GateOpen() const { return gateOn; }
    float CurrentNote() const { return currentNote; }
    int32_t HeldCount() const { return notes.HeldCount(); }
    const AutoCalibration& AutoCalibrator() const { return autoCalibration; }
    // Master operation: the note a voice (1..16) was last given, or -1.
    int32_t NoteOfVoice(int32_t voice) const { return voice >= 1 && voice <= kMaxVoices ? voiceToNote[voice] : -1; }
    static constexpr int32_t kMaxVoices = 16;

private:
    // A program value held to its parameter's range (its default when NaN).
    float P(int32_t index);
    int32_t IntP(int32_t index) { return static_cast<int32_t>(P(index)); }
    EnvelopeSettings SettingsOf(int32_t e);
    // Audio thread: every P and each envelope's settings, read again only
    // when SettingsChanged(). True when they were.
    bool RefreshSettings();
    float Cached(int32_t index) const { return cachedValues[index]; }
    int32_t CachedInt(int32_t index) const { return static_cast<int32_t>(cachedValues[index]); }
    ObryProgramCorvVCv1* Program() { return static_cast<ObryProgramCorvVCv1*>(CurrentProgram()); }
    // The host's rate when usable, else 44100.
    double Rate();

    // The mono voice (audio thread).
    void NoteOn(int32_t note, float velocity);
    void NoteOff(int32_t note, float velocity);
    void AllNotesOff();
    void ResetVoice(); // controller 120 and the panic
    void StartEnvelopes(float velocity);
    void ReleaseEnvelopes();

    // Rendering (audio thread); pointers at the piece's first frame.
    void RenderVoice(float* const* outputs, int32_t frames);
    void RenderCalibration(const float* input, float* const* outputs, int32_t frames);
    void RenderOutputs(float* const* outputs, int32_t frames, float pitch, float gate, float velocity, bool glide);
    void PackBrinkWords(float* const* outputs, int32_t frames);
    void StartCalibration(bool frequencyMode);
    void FinishCalibration();

    // Polyphony (audio thread; VoiceControllerPoly.cpp). The master's
    // output position while it handles the events of one frame.
    struct FrameCursor {
        const float* input;
        float* outputs[kNumOutputs];
        int32_t left;
        void Advance(int32_t frames);
    };
    void RenderMasterPiece(FrameCursor& cursor, int32_t frames);
    // The due item and every following queue-A item of its frame; returns
    // the first item of a later frame, already read, or null.
    QZ::MessageQueueItem* HandleMasterEvents(QZ::MessageQueueItem* due, FrameCursor& cursor);
    void HandleMasterItem(const QZ::MessageQueueItem& item, FrameCursor& cursor);
    void QueueToVoice(int32_t voice, uint8_t type, const uint8_t data[4], FrameCursor& cursor);
    void QueueNoteOff(int32_t voice, int32_t note, FrameCursor& cursor);
    // Publishes the open batch and puts its marker at the cursor's frame, or
    // owes it to the next block when no frame is left.
    void CloseBatch(FrameCursor& cursor);
    void WriteMarkerFrame(int32_t batch, FrameCursor& cursor);
    void ReleaseMasterVoice(float velocity);
    void RenderVoicePiece(const float* input, float* const* outputs, int32_t frames);
    void DeliverBatch(int32_t batch);
    void PublishVoiceState();

    // UI side: the name under nameLock. Commits a finished calibration's
    // name ("<>"); with nameLock held.
    void CommitFinishedCalibrationLocked();

    // Largest piece rendered at once; longer pieces are rendered in turns.
    static constexpr int32_t kScratchFrames = 256;
    enum Region : int32_t { kRegionPitch, kRegionEnv1, kRegionEnv2, kRegionEnv3, kRegionTrigger, kRegions };

    // The mono voice.
    MonoNoteStack notes;
    float currentNote = 60.0f;
    float noteOnVelocity = 0.0f;
    float releaseVelocity = 0.0f;
    float pitchBend = 0.0f; // semitones
    float randomValue = 0.0f; // -1 .. 1
    uint32_t randomState = 0;
    float lfoPhase = 0.0f;
    // The phase step of a piece, kept with the length, rate and speed
    // (bits) it was made for: pieces of one length come again and again.
    double lfoStep = 0.0;
    int32_t lfoStepFrames = -1;
    double lfoStepRate = 0.0;
    uint32_t lfoStepSpeed = 0;
    bool gateOn = false;
    bool pedalDown = false;
    uint32_t triggerRemaining = 0;
    uint32_t triggerLength = 1;
    // Portamento.
    bool glideOn = false;
    int32_t glideMode = kGlideOff;
    float glidedPitch = 0.0f;
    float glideCoefficient = 0.0f; // exponential modes
    float glideStep = 0.0f;        // constant-time modes: 1 / length
    uint32_t glideLength = 0;
    uint32_t glideRemaining = 0;
    float glideStart = 0.0f;
    float glideShape = 0.0f;
    Envelope envelopes[kEnvelopes];
    // Output matrix and smoothing.
    float cachedValues[kNumParams] = {};
    EnvelopeSettings cachedEnvelopes[kEnvelopes] = {};
    Envelope::IndicatorSums cachedIndicatorSums[kEnvelopes];
    float matrix[kNumOutputs][kTerms] = {};
    // Each output's mixed terms: those of its row whose coefficient is above
    // 0.001, in column order, with the gliding pitch first in [1] (while a
    // glide runs); made with the matrix. Unused places hold 0 and null.
    struct MixTerms {
        int32_t count;
        float coef[5];
        const float* source[5];
    };
    MixTerms mixTerms[kNumOutputs][2] = {};
    void MakeMixTerms();
    float slewStep[kNumOutputs] = {};
    float lowpassCoef[kNumOutputs] = {};
    float smoothState[kNumOutputs] = {};
    // Per sub-block.
    float pitchTarget = 0.0f;
    float gateValue = 0.0f;
    float triggerOnValue = 1.0f;
    float triggerOffValue = 0.0f;
    float mappedVelocity = 0.0f;
    bool brinkMode = false;
    bool bipolar[3] = {};
    // Roles of several instances playing as one: read every sub-block; each
    // instance still plays its own mono voice.
    int32_t processingMode = kNormal;
    int32_t polyMode = 0;
    int32_t polyphony = 1;
    int32_t voiceNumber = 1;
    int32_t preferredVoice = 1;
    // Master operation: voice given to each held note (0 = not held), the
    // note each voice last got (-1 = none), the pedal.
    int8_t heldVoice[128] = {};
    int32_t polyHeldCount = 0;
    bool masterPedalDown = false;
    int32_t voiceToNote[kMaxVoices + 1] = {};
    int32_t batchIndex = 0;
    // Markers of batches closed with no frame left in the block, written at
    // the start of the next one.
    int32_t owedMarkers[kBatches] = {};
    int32_t owedCount = 0;
    // Voice operation: the master last read and the newest batch taken.
    const PolyphonySlot* readMaster = nullptr;
    uint32_t readGeneration = 0;
    uint32_t lastBatchSerial = 0;
    QZ::MessageQueueItem deliveryItem;
    // This instance's shared face; claimed at construction, never null.
    PolyphonySlot* const polySlot = PolyphonySlots::Claim();

    float scratch[kRegions][kScratchFrames] = {};

    CalibrationTable calibration;
    AutoCalibration autoCalibration;
    // Seconds since 1970 at which an auto-calibration ended and its name is
    // still to be set (0: none). Written by the audio thread.
    std::atomic<uint64_t> calibrationFinishedAt{0};
    std::atomic<bool> nameListenersOwed{false};

    // The calibration name and the time it was set (0 until a non-empty
    // name is set). Host and editor threads only.
    std::mutex nameLock;
    std::string calibrationName;
    uint64_t calibrationTimestamp = 0;

    // What the last setChunk found (host thread): any records at all, and a
    // program chunk among them.
    bool restoredRecords = false;
    bool restoredProgramChunk = false;

    // "VC output arrangement", read on the first pin request (-1 until then).
    std::atomic<int32_t> outputArrangement{-1};
};

} // namespace ObryCorvaneVoiceController
