#include "plugins/steplfo/ObryCorvaneStepLFO.h"

#include <cmath>
#include <cstdio>

#include "framework/IndicatorBlock.h"
#include "framework/StepSequenceRange.h"
#include "plugins/common/OffValueTexts.h"
#include "plugins/common/ParameterUnits.h"
#include "plugins/common/SampleLoops.h"
#include "plugins/steplfo/StepLfoShape.h"

namespace ObryCorvaneStepLFO {

namespace {

using namespace ParameterUnit;

#define STEPLFO_GROUP(S)                                                                                             \
    {"Speed Mode " S, kIndexed, 0, 1, 1}, {"Speed " S, kHertz, 0.05f, 20, 5},                                        \
        {"Speed Multiplier " S, kIndexed, 0, 3, 1}, {"Sync " S, kIndexed, 0, 3, 2},                                  \
        {"Beat Divisor " S, kIndexed, 0, 5, 4}, {"Beats " S, kBeatsUnit, 0, 128, 1},                                 \
        {"Triplet " S, kBoolean, 0, 1, 0}, {"Phase " S, kGeneric, 0, 360, 0}, {"Offset " S, kGeneric, -1, 1, 0},      \
        {"Multiplier " S, kGeneric, -2, 2, 1}, {"Asymmetry " S, kPercent, -100, 100, 0},                             \
        {"Range Mode " S, kIndexed, 0, 1, 1}, {"Length Mode " S, kIndexed, 0, 1, 0},                                 \
        {"Start Step " S, kIndexed, 1, 96, 1}, {"Length In Steps " S, kIndexed, 1, 96, 16},                          \
        {"End Step " S, kIndexed, 1, 96, 16}, {"Interpolation " S, kIndexed, 0, 1, 0},                               \
        {"Input Mode " S, kIndexed, 0, 2, 0}, {"Smoothing " S, kMilliseconds, -500, 500, 0},                         \
        {"Swing " S, kPercent, 0, 100, 50}, {"Swing Type " S, kIndexed, 0, 1, 0}

// The parameter table: the two groups, then "Step 1 L" .. "Step 96 L" and
// "Step 1 R" .. "Step 96 R". Built on first use (thread-safe) and kept for
// the life of the process, as are the step names it points to.
struct ParameterTable {
    static constexpr int32_t kStepNameSize = 12;

    ParameterTable()
    {
        const ParameterInfo head[] = {
            {"OSC Port Offset", kIndexed, 0, 100, 0},
            STEPLFO_GROUP("L"),
            STEPLFO_GROUP("R"),
        };
        static_assert(sizeof head / sizeof head[0] == ObryCorvane::kFirstStep);
        for (int32_t i = 0; i < ObryCorvane::kFirstStep; ++i)
            info[i] = head[i];
        for (int32_t c = 0; c < ObryCorvane::kNumChannels; ++c) {
            for (int32_t s = 0; s < ObryCorvane::kNumSteps; ++s) {
                const int32_t index = ObryCorvane::kFirstStep + ObryCorvane::kNumSteps * c + s;
                char* name = stepNames[index - ObryCorvane::kFirstStep];
                snprintf(name, kStepNameSize, "Step %d %s", static_cast<int>(s + 1), c == 0 ? "L" : "R");
                info[index] = {name, kGeneric, -1, 1, 0};
            }
        }
    }

    ParameterInfo info[ObryCorvane::kNumParams];
    char stepNames[2 * ObryCorvane::kNumSteps][kStepNameSize];
};

#undef STEPLFO_GROUP

const ParameterInfo* Table()
{
    static const ParameterTable table;
    return table.info;
}

FactoryPresetTable gPresets{{"Defaults", {}}};

// The value names of the indexed group settings: one list each per process,
// shared by every instance and both channels (those the LFO offers too are
// in ClockedOscillator.h).
const char* const kSpeedModeNames[] = {"Cycle", "Step"};
const char* const kSyncNames[] = {"Free", "Tempo", "Transport", "Quadrature"};
const char* const kDivisorNames[] = {"1/1", "1/2", "1/4", "1/8", "1/16", "1/32"};
const char* const kRangeModeNames[] = {"Unipolar", "Bipolar"};
const char* const kLengthModeNames[] = {"Start/Length", "Start/End"};
const char* const kInterpolationNames[] = {"Step", "Linear"};

SharedValueNames gSpeedModeList(kSpeedModeNames);
SharedValueNames gSyncList(kSyncNames);
SharedValueNames gDivisorList(kDivisorNames);
SharedValueNames gRangeModeList(kRangeModeNames);
SharedValueNames gLengthModeList(kLengthModeNames);
SharedValueNames gInterpolationList(kInterpolationNames);

// The list of a group setting (1..21), or null when it has none.
SharedValueNames* ValueNamesOf(int32_t groupIndex)
{
    switch (groupIndex) {
    case ObryCorvane::kSpeedMode: return &gSpeedModeList;
    case ObryCorvane::kSpeedMultiplier: return &SpeedMultiplierNames();
    case ObryCorvane::kSync: return &gSyncList;
    case ObryCorvane::kBeatDivisor: return &gDivisorList;
    case ObryCorvane::kRangeMode: return &gRangeModeList;
    case ObryCorvane::kLengthMode: return &gLengthModeList;
    case ObryCorvane::kInterpolation: return &gInterpolationList;
    case ObryCorvane::kInputMode: return &InputModeNames();
    case ObryCorvane::kSwingType: return &SwingTypeNames();
    default: return nullptr;
    }
}

constexpr OffValueTexts kOffTexts{ObryCorvane::kOSCPortOffset, ObryCorvane::kSmoothing,
                                  ObryCorvane::kSmoothing + ObryCorvane::kGroupSize};

} // namespace

const ParameterInfo* ObryCorvane::Parameters()
{
    return Table();
}

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneBase(audioMaster, 2, 2, false, vst::FourCC("QZs6"), kOSCPortOffset, 1, &gPresets, kNumParams,
                      Table(), ObryProgramBasic<kNumParams>::Create)
{
    Initialize();
}

int32_t ObryCorvane::GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray)
{
    if (!outArray)
        return 0;
    if (scope != 0 || index < 1 || index > static_cast<uint32_t>(2 * kGroupSize))
        return kAudioUnitErr_InvalidParameter;
    SharedValueNames* names = ValueNamesOf((static_cast<int32_t>(index) - 1) % kGroupSize + 1);
    if (!names)
        return kAudioUnitErr_InvalidParameter;
    *outArray = names->Acquire();
    return 0;
}

int32_t ObryCorvane::Initialize()
{
    for (Channel& ch : channels)
        ch = Channel{};
    ForgetSettings();
    return ObryCorvaneBase::Initialize();
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return kOffTexts.Flags(index);
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    return kOffTexts.StringFromValue(*this, request);
}

float ObryCorvane::Param(int32_t index)
{
    const float value = CurrentProgram()->GetParameter(index);
    return std::isfinite(value) ? value : Table()[index].def;
}

// audio thread: no allocation, no blocking lock
bool ObryCorvane::BeginBlock(int32_t frames)
{
    if (!ObryCorvaneBase::BeginBlock(frames))
        return false;
    const double sampleRate = UsableSampleRate(this->sampleRate);
    if (SettingsChanged())
        for (int32_t c = 0; c < kNumChannels; ++c)
            DeriveSettings(c, sampleRate);
    const HostTime time = ReadHostTime(*this);
    for (int32_t c = 0; c < kNumChannels; ++c)
        SetupChannel(c, time, sampleRate);
    return true;
}

// audio thread
void ObryCorvane::DeriveSettings(int32_t c, double sampleRate)
{
    Channel& ch = channels[c];

    // The step values are the program's own storage: an edit from anywhere
    // (host, editor, OSC) is a parameter change and plays from the next
    // block on. A restored state may hold anything: a value that is not
    // finite plays 0.
    ObryProgram* program = CurrentProgram();
    for (int32_t s = 0; s < kNumSteps; ++s) {
        const float v = program->GetParameter(kFirstStep + kNumSteps * c + s);
        ch.steps[s] = std::isfinite(v) ? v : 0.0f;
    }

    // The range. Values from a restored state are not range-checked; the
    // range stays inside the table whatever they are.
    const StepSequenceRange range =
        StepSequenceRangeOf(ChannelParam(c, kStartStep), std::trunc(ChannelParam(c, kLengthMode)) != 0.0f,
                            ChannelParam(c, kLengthInSteps), ChannelParam(c, kEndStep), kNumSteps);
    ch.start = range.first;
    ch.count = range.count;

    ch.swingAmount = ChannelParam(c, kSwing);
    ch.swingType = ChannelParam(c, kSwingType);

    // In "Step" speed mode the rate and the beat length are those of one step.
    const bool perStep = std::trunc(ChannelParam(c, kSpeedMode)) != 0.0f;
    const double stepsPerCycle = perStep ? ch.count : 1.0;
    ch.phaseOffset = ChannelParam(c, kPhase) / 360.0;
    ch.syncMode = IndexedChoice(ChannelParam(c, kSync), 4, kSyncFree);
    ch.beats = BeatsPerCycle(ChannelParam(c, kBeats), ChannelParam(c, kBeatDivisor),
                             ChannelParam(c, kTriplet) != 0.0f) *
               stepsPerCycle;
    ch.freeRate = ChannelParam(c, kSpeed) * SpeedMultiplier(ChannelParam(c, kSpeedMultiplier)) / stepsPerCycle;
    // With both in quadrature neither leads: each takes the other's phase
    // at the block's start only.
    ch.follows = ch.syncMode == kSyncQuadrature &&
                 IndexedChoice(ChannelParam(1 - c, kSync), 4, kSyncFree) != kSyncQuadrature;
    ch.followOffset = ch.phaseOffset;

    ch.offsetSetting = ChannelParam(c, kOffset);
    ch.multiplierSetting = ChannelParam(c, kMultiplier);
    ch.floor = std::trunc(ChannelParam(c, kRangeMode)) != 0.0f ? kBipolarFloor : kUnipolarFloor;
    ch.linear = std::trunc(ChannelParam(c, kInterpolation)) != 0.0f;
    ch.SetupOutput(ChannelParam(c, kAsymmetry), ChannelParam(c, kInputMode), ChannelParam(c, kSmoothing),
                   sampleRate);
}

// audio thread
void ObryCorvane::SetupChannel(int32_t c, const HostTime& time, double sampleRate)
{
    Channel& ch = channels[c];
    const Channel& other = channels[1 - c];

    ch.swing.Setup(time, ch.swingAmount, ch.swingType, sampleRate);

    bool standsAtStart = false;
    double rate = 0.0;
    switch (ch.syncMode) {
    case kSyncTempo:
    case kSyncTransport:
        // A cycle of no length (Beats 0) has no rate and locks to nothing.
        rate = ch.TempoRateOf(time.tempo, ch.beats);
        if (ch.syncMode == kSyncTransport) {
            if (!time.playing)
                standsAtStart = true;
            else if (CanLockToPosition(ch.beats))
                ch.phase = ch.cyclePlace.Phase(ch.swing.Unswing(time.ppq), ch.beats, ch.phaseOffset);
        }
        break;
    case kSyncQuadrature:
        rate = ch.FollowInQuadrature(other, ch.phaseOffset);
        break;
    default:
        rate = ch.freeRate;
        break;
    }
    ch.SetRate(rate, sampleRate);
    ch.offset = ch.offsetSetting;
    ch.multiplier = ch.multiplierSetting;
    if (standsAtStart) {
        // With the transport stopped the sequence contributes nothing and
        // waits at its start.
        ch.increment = 0.0;
        ch.offset = 0.0f;
        ch.multiplier = 0.0f;
        ch.phase = 0.0;
    }
}

// audio thread: no allocation, no blocking lock
void ObryCorvane::Process(float** inputs, float** outputs, int32_t frames)
{
    for (int32_t c = 0; c < kNumChannels; ++c)
        if (channels[c].follows) {
            ProcessInQuadrature(inputs, outputs, frames, c);
            return;
        }
    // Stretch by stretch, the right output is written before the left input
    // is read whole: the two must be apart too.
    if (BothTogether(inputs, outputs, frames) && SampleLoops::Apart(outputs[1], inputs[0], frames)) {
        // Collect moves only the swings' places within their pairs on.
        const double pairPosition0 = channels[0].swing.pairPosition, pairPosition1 = channels[1].swing.pairPosition;
        ClockRuns runs[2];
        if (runs[0].Collect(channels[0], frames) && runs[1].Collect(channels[1], frames)) {
            GenerateBoth(inputs, outputs, frames, runs);
        } else {
            channels[0].swing.pairPosition = pairPosition0;
            channels[1].swing.pairPosition = pairPosition1;
            RunBothChannels(inputs, outputs, frames);
        }
    } else {
        RunBothChannels(inputs, outputs, frames);
    }
    for (int32_t c = 0; c < kNumChannels; ++c)
        WriteIndicator<float>(indicatorBlock, kIndicatorStepPositionF32 + c, channels[c].stepPosition);
}

// Each channel generated whole, left first (as RunBoth orders it).
void ObryCorvane::RunBothChannels(float** inputs, float** outputs, int32_t frames)
{
    RunBoth(channels, inputs, outputs, frames, [&](int32_t c, int32_t first, int32_t count, double increment) {
        Generate(channels[c], inputs[c] + first, outputs[c] + first, count, increment);
    });
}

// The leader runs first, a stretch at a time, and leaves the phase of each of
// its samples for the follower: a phase its swing gives it reaches the
// follower at the same sample, whatever the host's blocks.
void ObryCorvane::ProcessInQuadrature(float** inputs, float** outputs, int32_t frames, int32_t follower)
{
    auto lead = [](Channel& ch, const float* in, float* out, int32_t count, double increment, double* phases) {
        Generate(ch, in, out, count, increment, phases);
    };
    auto follow = [](Channel& ch, const float* in, float* out, int32_t count, const double* phases, double end) {
        Generate(ch, in, out, count, 0.0, nullptr, phases, end);
        ApplyOutputSmoothing(out, count, ch.slewStep, ch.lowpassCoef, &ch.smoothState);
    };
    RunInQuadrature(channels, follower, inputs, outputs, frames, leaderPhases, kFollowRun, lead, follow);
    for (int32_t c = 0; c < kNumChannels; ++c)
        WriteIndicator<float>(indicatorBlock, kIndicatorStepPositionF32 + c, channels[c].stepPosition);
}

namespace {

// StepStretch built for the base instruction set, AVX2 and AVX-512 (the same
// bits on each).
CORVANE_SAMPLE_CLONES void StepStretchClones(const StepShape& shape, const float* phase, const float* in, float* out,
                                             int32_t frames)
{
    StepStretch(shape, phase, in, out, frames);
}

// Both channels' stretches in one call (the constants set up once, the two
// loops' chains side by side), each as StepStretchClones makes it.
CORVANE_SAMPLE_CLONES void StepStretchPairClones(const StepShape* shape, const float* const* phase,
                                                 const float* const* in, float* const* out, int32_t frames)
{
    StepStretch(shape[0], phase[0], in[0], out[0], frames);
    StepStretch(shape[1], phase[1], in[1], out[1], frames);
}

// Samples whose phases are made at once, one after another, before their
// output is made together.
constexpr int32_t kStretch = 64;

// A stretch's output from its phases; `grouped`: in and out are the same
// buffer or apart (else sample by sample, for a broken host's buffers that
// overlap other than exactly).
inline void StepOut(const StepShape& shape, bool grouped, const float* phaseAt, const float* in, float* out, int32_t n)
{
    if (grouped) {
        StepStretchClones(shape, phaseAt, in, out, n);
    } else {
        for (int32_t i = 0; i < n; ++i)
            out[i] = StepSample(shape, phaseAt[i], in[i]);
    }
}

// The step position shown for a channel whose last sample had this phase.
template <class Channel>
float StepPositionAt(const Channel& ch, const StepShape& shape, float phase)
{
    float pos = 0.0f;
    int32_t index = 0;
    StepLevel(shape, phase, pos, index);
    return static_cast<float>(ch.start) + (shape.linear ? pos : static_cast<float>(index));
}

} // namespace

// audio thread: no allocation, no lock
void ObryCorvane::Generate(Channel& ch, const float* in, float* out, int32_t frames, double increment,
                           double* record, const double* leader, double leaderEnd)
{
    if (frames <= 0)
        return;
    const StepShape shape{PhaseWarp(ch.asymmetry), ch.steps + ch.start, ch.count, static_cast<float>(ch.count),
                          ch.floor, ch.multiplier, ch.offset, ch.linear, ch.inputMode};
    float pos = 0.0f;
    int32_t index = 0;
    if (leader) {
        // The follower takes each sample's phase from the leader's.
        const double followOffset = ch.followOffset;
        double phase = WrapPhase(leader[0] + followOffset);
        for (int32_t n = 0; n < frames; ++n) {
            if (record)
                record[n] = phase;
            const float v = StepLevel(shape, static_cast<float>(phase), pos, index);
            phase = WrapPhase((n + 1 < frames ? leader[n + 1] : leaderEnd) + followOffset);
            out[n] = CombineWithInput(shape.inputMode, v * shape.multiplier + shape.offset, in[n]);
        }
        ch.phase = phase;
    } else {
        // The phases of a stretch one after another (a chain from sample to
        // sample), then its output in groups: sample by sample for buffers
        // that overlap other than exactly (a broken host).
        const bool grouped = SampleLoops::SameOrApart(in, out, frames);
        double phase = ch.phase;
        float phaseAt[kStretch];
        RunClockStretches<kStretch>(
            phase, increment, frames, record, phaseAt, [](int32_t, bool) {},
            [&](int32_t first, int32_t n) {
                StepOut(shape, grouped, phaseAt, in + first, out + first, n);
                if (first + n == frames)
                    StepLevel(shape, phaseAt[n - 1], pos, index); // the last sample's position
            });
        ch.phase = phase;
    }
    ch.stepPosition = static_cast<float>(ch.start) + (shape.linear ? pos : static_cast<float>(index));
}

// Both channels as RunBoth runs them, from their runs of the block, for
// buffers as Process checks: the two clocks step side by side (two chains
// that do not wait on each other), each with the increment of the run it is
// in; then each stretch's output is made, left then right, and both are
// smoothed. Each sample has the phase and the output bits it has when the
// channels run alone: a sample's output depends only on its phase and the
// block's settings, and the buffers are read and written in the same order.
void ObryCorvane::GenerateBoth(float** inputs, float** outputs, int32_t frames, const ClockRuns* runs)
{
    Channel& left = channels[0];
    Channel& right = channels[1];
    if (frames > 0) {
        const StepShape shape0{PhaseWarp(left.asymmetry), left.steps + left.start, left.count,
                               static_cast<float>(left.count), left.floor, left.multiplier, left.offset, left.linear,
                               left.inputMode};
        const StepShape shape1{PhaseWarp(right.asymmetry), right.steps + right.start, right.count,
                               static_cast<float>(right.count), right.floor, right.multiplier, right.offset,
                               right.linear, right.inputMode};
        const ChannelBuffers buffers(inputs, outputs, frames);
        double phase0 = left.phase, phase1 = right.phase;
        int32_t run0 = 0, run1 = 0;
        float phaseAt0[kStretch], phaseAt1[kStretch];
        for (int32_t first = 0; first < frames; first += kStretch) {
            const int32_t last = frames - first < kStretch ? frames : first + kStretch;
            // Pieces of the stretch within one run of each channel.
            for (int32_t i = first; i < last;) {
                while (runs[0].end[run0] <= i)
                    ++run0;
                while (runs[1].end[run1] <= i)
                    ++run1;
                const int32_t end0 = runs[0].end[run0], end1 = runs[1].end[run1];
                const int32_t end = end0 < end1 ? (end0 < last ? end0 : last) : (end1 < last ? end1 : last);
                const double increment0 = runs[0].increment[run0], increment1 = runs[1].increment[run1];
                for (; i < end; ++i) {
                    phaseAt0[i - first] = static_cast<float>(phase0);
                    AdvancePhase(phase0, increment0);
                    phaseAt1[i - first] = static_cast<float>(phase1);
                    AdvancePhase(phase1, increment1);
                }
            }
            const int32_t n = last - first;
            if (buffers.grouped0 && buffers.grouped1) {
                const StepShape shapes[2] = {shape0, shape1};
                const float* const phases[2] = {phaseAt0, phaseAt1};
                const float* const ins[2] = {buffers.in0 + first, buffers.in1 + first};
                float* const outs[2] = {buffers.out0 + first, buffers.out1 + first};
                StepStretchPairClones(shapes, phases, ins, outs, n);
            } else {
                StepOut(shape0, buffers.grouped0, phaseAt0, buffers.in0 + first, buffers.out0 + first, n);
                StepOut(shape1, buffers.grouped1, phaseAt1, buffers.in1 + first, buffers.out1 + first, n);
            }
            if (last == frames) {
                left.stepPosition = StepPositionAt(left, shape0, phaseAt0[n - 1]);
                right.stepPosition = StepPositionAt(right, shape1, phaseAt1[n - 1]);
            }
        }
        left.phase = phase0;
        right.phase = phase1;
    }
    left.phase = WrapPhase(left.phase);
    right.phase = WrapPhase(right.phase);
    const float slewStep[2] = {left.slewStep, right.slewStep};
    const float lowpassCoef[2] = {left.lowpassCoef, right.lowpassCoef};
    ApplyOutputSmoothingPair(outputs[0], outputs[1], frames, slewStep, lowpassCoef, &left.smoothState,
                             &right.smoothState);
}

} // namespace ObryCorvaneStepLFO
