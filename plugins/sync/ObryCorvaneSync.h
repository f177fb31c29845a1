// Sync ('QZse' as an instrument entry, 'QZsf' as an effect) makes a clock and
// a run signal for analogue sequencers and drum machines from the host's
// tempo and transport: DIN sync at 24 or 48 pulses per quarter note or a
// custom rate, with divisor, multiplier, swing, a timing offset, a delayed
// first pulse and an adjustable pulse length. The clock starts on the next
// bar line when the transport starts and follows loop jumps. The signals are
// added to the audio passing through or, in hardware mode, set as levels or
// gate bits in the Brink or Carro expander's data words merged into the
// stream passing through.
//
// Pulses are numbered: pulse n falls at song position n / q quarter notes
// (q pulses per quarter note), moved by swing and the offset. The counters
// `lastPulse` (the last pulse given) and `nextPulse` carry the clock across
// blocks, so a pulse is neither lost nor given twice when the host's position
// jitters; two pulses due at once come out as a short double pulse.
//
// Threads: BeginBlock, BeginSubBlock and Process run on the audio thread (no
// allocation, no blocking lock). The host's time is read once per block and
// checked; parameter values are held to their ranges before use. The
// value-text hooks run on the host's UI thread.
#pragma once

#include <cstdint>

#include "plugins/base/ObryCorvaneBase.h"
#include "plugins/common/Swing.h"

namespace ObryCorvaneSync {

class ObryCorvane : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = 18;

    enum Parameter : int32_t {
        kDINsyncType = 0,
        kClockOutput,
        kRunOutput,
        kSwing,
        kSwingType,
        kOffset,
        kPPQN,
        kDivisor,
        kFirstDelay,
        kClockLow,
        kClockHigh,
        kRunLow,
        kRunHigh,
        kTriggerLength,
        kOSCPortOffset,
        kHardwareMode,
        kMultiplier,
        kMuteClocks,
    };
    enum SyncType : int32_t { kTypeOff = 0, kType24, kType48, kTypeCustom };
    enum HardwareMode : int32_t { kHardwareOff = 0, kHardwareBrink, kHardwareCarro };
    // "Clock Output" / "Run Output": 0 off, 1..6 outputs, then Gates k/j.
    static constexpr int32_t kFirstGateAssignment = 7;
    // Indicator block: the expander frame bytes B1..B6 from this byte on.
    static constexpr int kIndicatorFrameBytes = 40;

    ObryCorvane(audioMasterCallback audioMaster, bool isSynth);

    int32_t Initialize() override;
    uint32_t GetParameterFlags(int32_t index) override;
    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane Sync"; }
    const char* GetGUIScriptName() override { return "gui_sync.lua"; }

    // audio thread
    bool BeginBlock(int32_t frames) override;
    void BeginSubBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;

    static const ParameterInfo* Parameters();

private:
    enum PulseState : int32_t {
        kIdle = 0,
        kLow = 1,
        kLowBeforeShort = 2,
        kHigh = 4,
        kHighDouble = 5,
        kHighShort = 6,
    };

    // audio thread
    float P(int32_t index);
    double Rate();
    double PulsesPerQuarter() const;
    // The sample (from the start of the piece) of pulse n: its warped time
    // less the piece's position x, in samples, truncated and held to a
    // range that a block can never reach past.
    int64_t OffsetOf(int64_t n, double x, double samplesPerPulse);
    // Pulse n's swung time in pulses (n itself without swing).
    double SwungPulse(int64_t n);
    void EnterPulseState(int32_t state, int64_t samples);
    void EndOfPulseState();
    void RenderStretch(float** inputs, float** outputs, int32_t first, int32_t frames);

    // Transport, read by BeginBlock.
    bool playing = false;
    double tempo = 0.0;    // quarter notes per minute; 0 = unknown
    double position = 0.0; // song position in quarter notes at the block's start
    double lastBlockPosition = 0.0;
    int64_t blockOffset = 0; // samples of this block already processed

    // The clock.
    bool started = false; // transport started, no pulse given yet
    bool run = false;
    int32_t pulseState = kIdle;
    int64_t pulseRemaining = 0;
    bool highAtLastSample = false; // the pulse state of the last sample rendered
    int64_t pulsePeriod = 0;
    int64_t lastPulse = 0;
    int64_t nextPulse = 1;
    double storedQ = 0.0; // pulses per quarter note of the counters

    // From the parameters and the sample rate, when one of them changed
    // (BeginSubBlock).
    int32_t hardwareMode = kHardwareOff;
    int32_t type = kTypeOff;
    int32_t clockAssignment = 0;
    int32_t runAssignment = 0;
    double offsetSeconds = 0.0;
    double ppqn = 1.0;
    double divisorFactor = 1.0;
    int64_t triggerLength = 0;
    float clockLow = 0.0f, clockHigh = 1.0f, runLow = 0.0f, runHigh = 1.0f;
    int32_t multiplier = 1;
    bool mute = false;
    bool swingOn = false;
    double swingFraction = 0.5;
    double swingPeriod = 0.0; // pulses per swung pair
    double pulsesPerQuarter = 1.0;

    // Derived from the tempo, the sample rate and the settings, kept while
    // their bits stay (Process).
    struct Timing {
        bool valid = false;
        double rate = 0.0, q = 0.0, tempo = 0.0, offsetSeconds = 0.0;
        double samplesPerPulse = 0.0; // rate x (60 / q) / tempo
        double offsetPulses = 0.0;    // offsetSeconds x tempo x q / 60
    } timing;
    // The last two pulses' swung times, with the swing they were made with.
    struct WarpedPulse {
        bool valid = false;
        int64_t n = 0;
        double period = 0.0, fraction = 0.0;
        double t = 0.0;
    } warped[2];
    int32_t nextWarped = 0;
    // The straight place of the piece's start, its swing period kept (the
    // place moves on by a little every block).
    SwingUnwarper unwarper;
};

} // namespace ObryCorvaneSync
