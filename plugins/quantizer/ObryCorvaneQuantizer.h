// Quantizer: snaps each of two control voltages to steps. "Manual" steps are
// equally spaced over -1..1 (with an offset and a transposition in steps);
// "Calibrated" steps are the levels of a calibration table (levels that play
// known MIDI notes), optionally only those whose note lies in a scale in a
// chosen key. The calibration and its name travel with the program chunk.
//
// Threads:
// - AddScale comes from the instance's Lua MIDI state: while Initialize runs
//   the scripts, and possibly later from Lua timers or OSC threads. Scales
//   go into a fixed table and are published by an atomic count, so the audio
//   thread reads them without a lock; a full table ignores further scales.
// - Calibration properties (64090, 64091, 64120, 64121) and the chunk
//   operations run on the host's or editor's thread and write the host-side
//   calibration under calibrationLock. The audio thread takes a changed
//   table over at the start of a block with a try-lock (never waiting); a
//   busy lock leaves the change for the next block.
// - BeginBlock and Process run on the audio thread: no allocation, no
//   blocking lock, no I/O.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "plugins/base/ObryCorvaneBase.h"
#include "plugins/quantizer/ObryProgramQVqnv1.h"

namespace ObryCorvaneQuantizer {

class ObryCorvane final : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = ObryProgramQVqnv1::kNumParams;
    static constexpr int32_t kChannels = 2;
    static constexpr uint32_t kMaxScales = 64;
    static constexpr size_t kScaleNameSize = 64;                                  // with the NUL
    static constexpr size_t kMaxCalibrationNameLength = ObryProgramQVqnv1::kCalibrationNameSize - 1;
    static constexpr int kIndicatorNote = 24;                                     // i32 element 24 + channel

    // Channel parameters at 1 + 7 * channel + offset.
    enum ChannelParameter : int32_t {
        kEnable = 0, kMode = 1, kSteps = 2, kStepsFine = 3, kOffset = 4, kTranspose = 5, kSmoothing = 6,
    };
    // Scale parameters at 15 + 4 * channel + offset.
    enum ScaleParameter : int32_t { kEnableScale = 0, kKey = 1, kKeyOffset = 2, kScale = 3 };
    static constexpr int32_t ParameterIndex(int32_t channel, ChannelParameter which) { return 1 + 7 * channel + which; }
    static constexpr int32_t ParameterIndex(int32_t channel, ScaleParameter which) { return 15 + 4 * channel + which; }

    explicit ObryCorvane(audioMasterCallback audioMaster);
    ~ObryCorvane() override;

    int32_t getChunk(void** data, bool isPreset) override;
    int32_t setChunk(void* data, int32_t byteSize, bool isPreset) override;
    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    int32_t GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data) override;
    int32_t GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                            uint8_t* writable) override;
    int32_t SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size) override;

    int32_t Initialize() override;
    bool BeginBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;
    // Any thread that runs the Lua MIDI state. Allocates nothing; a mask of
    // 0 (no valid semitone) and scales past kMaxScales are ignored.
    void AddScale(const char* name, uint16_t mask) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane Quantizer"; }
    const char* GetGUIScriptName() override { return "gui_quantizer.lua"; }

    // What the tests and the editor look at (any thread).
    uint32_t ScaleCount() const { return scaleCount.load(std::memory_order_acquire); }
    std::string ScaleName(uint32_t index) const;
    uint16_t ScaleMask(uint32_t index) const;
    std::string CalibrationName() const;
    QuantizerCalibration HostCalibration() const;

    // Brings a table into a usable form: count held to 0..129; entries whose
    // level is no finite number or lies below the previous kept level are
    // dropped, so the levels ascend. Returns how many entries were dropped.
    static uint32_t SanitizeCalibration(QuantizerCalibration& calibration);

private:
    struct ScaleSlot {
        char name[kScaleNameSize];
        uint16_t mask;
    };
    struct Selection {
        bool enabled = false;
        int32_t root = 0;
        uint32_t index = 0;
        bool operator==(const Selection&) const = default;
    };
    struct Channel {
        bool enabled = false;
        int32_t mode = 0;
        float stepsHalf = 48;
        float offset = 0;
        float transpose = 0;
        float slewStep = 0;
        float lowpassCoef = 0;
        Selection selection;
        QuantizerCalibration table{};
        float smoothState = 0;
        int32_t note = -1;
    };

    ObryProgramQVqnv1& Program() { return *static_cast<ObryProgramQVqnv1*>(CurrentProgram()); }
    // Host thread: installs a (sanitised) table for the audio thread.
    void ApplyCalibration(const QuantizerCalibration& calibration);
    void BuildBuiltInCalibration(bool dunmore);
    void SanitizeProgramValues();
    void RebuildChannelTable(Channel& channel) const;
    void ProcessChannel(Channel& channel, const float* in, float* out, int32_t frames) const;
    void ProcessCalibrated(Channel& channel, const float* in, float* out, int32_t frames) const;

    std::array<ParameterInfo, kNumParams> instanceParameters; // the table of this instance (Scale maxima)

    // Written under scaleWriteLock; slots below scaleCount never change again.
    std::mutex scaleWriteLock;
    ScaleSlot scales[kMaxScales] = {};
    std::atomic<uint32_t> scaleCount{0};
    CFArray* scaleNames = nullptr; // under scaleWriteLock; rebuilt when scales were added
    uint32_t scaleNamesCount = 0;

    // Host and editor threads.
    mutable std::mutex calibrationLock;
    QuantizerCalibration hostCalibration{}; // guarded by calibrationLock
    std::string calibrationName;            // guarded by calibrationLock
    std::atomic<bool> calibrationChanged{false};

    // Audio thread.
    QuantizerCalibration liveCalibration{};
    bool prepared = false;            // false: every channel's table is rebuilt
    uint32_t preparedScaleCount = 0;  // ScaleCount() when the settings were derived
    Channel channels[kChannels];
};

} // namespace ObryCorvaneQuantizer
