// The Voice Controller's audio: per sub-block values, the block cut at MIDI
// events, the voice's glide, trigger and envelopes mixed by the output
// matrix, the Brink data words, the queued commands and the rendering of
// the auto-calibration.
//
// audio thread: no allocation, no blocking lock
#include <algorithm>
#include <bit>
#include <cmath>
#include <ctime>

#include "plugins/common/ExpanderDataWords.h"
#include "framework/FastSine.h"
#include "framework/IndicatorBlock.h"
#include "plugins/common/OutputSmoothing.h"
#include "plugins/common/SampleLoops.h"
#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"

namespace ObryCorvaneVoiceController {

namespace {

// out[i] = k + the sum of coef[t] x source[t][i] over N terms, in order.
// The sources are the instance's scratch regions, never the host's output
// buffer: restrict parameters let the compiler take them as unrelated, and
// the groups of fixed length become vector instructions, each lane with the
// same operations in the same order as one sample alone.
template <int N>
void MixApart(float* __restrict out, int32_t frames, float k, const float* coef, const float* __restrict s0,
              const float* __restrict s1, const float* __restrict s2, const float* __restrict s3,
              const float* __restrict s4)
{
    const float c0 = coef[0], c1 = coef[1], c2 = coef[2], c3 = coef[3], c4 = coef[4];
    auto sample = [&](int32_t i) {
        float v = k;
        if constexpr (N > 0)
            v += c0 * s0[i];
        if constexpr (N > 1)
            v += c1 * s1[i];
        if constexpr (N > 2)
            v += c2 * s2[i];
        if constexpr (N > 3)
            v += c3 * s3[i];
        if constexpr (N > 4)
            v += c4 * s4[i];
        return v;
    };
    int32_t i = 0;
    for (; i + SampleLoops::kGroup <= frames; i += SampleLoops::kGroup)
        for (int32_t g = 0; g < SampleLoops::kGroup; ++g)
            out[i + g] = sample(i + g);
    for (; i < frames; ++i)
        out[i] = sample(i);
}

template <int N>
void Mix(float* out, int32_t frames, float k, const float* coef, const float* const* source)
{
    MixApart<N>(out, frames, k, coef, source[0], source[1], source[2], source[3], source[4]);
}

// One Brink byte of an output sample: 0..1 as 0..255, or -1..1 as 1..255
// around 128 when bipolar; held to 0..255 (NaN gives 0).
int32_t BrinkByte(float x, bool isBipolar)
{
    const float v = isBipolar ? x * 127.0f + 128.5f : x * 255.0f + 0.5f;
    if (!(v > 0.0f))
        return 0;
    if (v >= 255.0f)
        return 255;
    return static_cast<int32_t>(v);
}

// Whole samples of a time, held to 0 .. UINT32_MAX (NaN gives 0).
uint32_t Samples(double samples)
{
    if (!(samples > 0.0))
        return 0;
    return samples >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(samples);
}

} // namespace

bool ObryCorvane::RefreshSettings()
{
    if (!SettingsChanged())
        return false;
    for (int32_t i = 0; i < kNumParams; ++i)
        cachedValues[i] = P(i);
    for (int32_t e = 0; e < kEnvelopes; ++e) {
        cachedEnvelopes[e] = SettingsOf(e);
        cachedIndicatorSums[e] = Envelope::IndicatorSums(cachedEnvelopes[e]);
    }
    return true;
}

void ObryCorvane::BeginSubBlock(int32_t frames)
{
    const double rate = Rate();
    const bool changed = RefreshSettings();

    for (int32_t e = 0; e < kEnvelopes; ++e) {
        envelopes[e].FollowSustain(cachedEnvelopes[e].sustain);
        float position, level;
        envelopes[e].Indicator(cachedIndicatorSums[e], rate, &position, &level);
        WriteIndicator<float>(indicatorBlock, kIndicatorEnvelope + 2 * e, position);
        WriteIndicator<float>(indicatorBlock, kIndicatorEnvelope + 2 * e + 1, level);
    }

    polyMode = CachedInt(kPolyMode);
    if (polyMode == 1) {
        polyphony = CachedInt(kPolyphonyVoice);
        // An auto-calibration in progress finishes first.
        if (processingMode == kNormal)
            processingMode = kMaster;
    } else {
        if (polyMode == 2)
            voiceNumber = CachedInt(kPolyphonyVoice);
        if (processingMode == kMaster)
            processingMode = kNormal; // an auto-calibration in progress stays
    }

    const float speed = Cached(kPitchLFOSpeed);
    if (frames != lfoStepFrames || rate != lfoStepRate || std::bit_cast<uint32_t>(speed) != lfoStepSpeed) {
        lfoStep = frames / rate * speed;
        lfoStepFrames = frames;
        lfoStepRate = rate;
        lfoStepSpeed = std::bit_cast<uint32_t>(speed);
    }
    double phase = lfoPhase + lfoStep;
    phase -= std::floor(phase);
    lfoPhase = static_cast<float>(phase);

    const float note = Cached(kOverridePitch) == 0.0f ? Cached(kRandomTuning) * 0.01f * randomValue + currentNote + pitchBend
                                                 : Cached(kPitch);
    float pitch = note + (FastSine(lfoPhase) * Cached(kPitchLFODepth) + Cached(kDetune)) * 0.01f + Cached(kTranspose);
    if (!(pitch > 0.0f))
        pitch = 0.0f;
    if (pitch >= 127.0f)
        pitch = 127.0f;
    pitchTarget = calibration.Lookup(pitch);
    WriteIndicator<float>(indicatorBlock, kIndicatorPitch, pitch);
    WriteIndicator<float>(indicatorBlock, kIndicatorTarget, pitchTarget);

    glideMode = CachedInt(kPortamentoMode);
    const float glideTime = Cached(kPortamentoTime);
    switch (glideMode) {
    case kGlideAuto:
    case kGlideFingered:
        if (glideMode == kGlideAuto)
            glideOn = true;
        // No time: the pitch is at its target from the first sample.
        glideCoefficient = glideTime > 0.0f ? static_cast<float>(std::exp(-4.0 / (glideTime * rate))) : 0.0f;
        break;
    case kGlideCTAuto:
    case kGlideCTFingered:
        glideLength = Samples(glideTime * rate);
        if (glideLength == 0) {
            glideOn = false;
        } else {
            if (glideMode == kGlideCTAuto)
                glideOn = true;
            glideStep = 1.0f / static_cast<float>(glideLength);
            glideShape = Cached(kPortamentoShape);
            // A glide under way when its time is shortened goes on from
            // where it is and ends within the new time; its curve would
            // otherwise run far outside its start and target.
            if (glideRemaining > glideLength) {
                glideRemaining = glideLength;
                glideStart = glidedPitch;
            }
        }
        break;
    default:
        glideOn = false;
        glideCoefficient = 0.0f;
        break;
    }

    gateValue = Cached(kOverrideGate) != 0.0f ? Cached(kGate) : (gateOn ? Cached(kGateOpenVoltage) : Cached(kGateClosedVoltage));
    triggerOnValue = Cached(kTriggerOnVoltage);
    triggerOffValue = Cached(kTriggerOffVoltage);
    triggerLength = std::max<uint32_t>(1, Samples(Cached(kTriggerLength) * rate * 0.001));

    const float velocityMin = Cached(kVelocityMinVoltage);
    mappedVelocity = velocityMin + (Cached(kVelocityMaxVoltage) - velocityMin) * noteOnVelocity;

    if (changed) {
        for (int32_t j = 0; j < kNumOutputs; ++j) {
            for (int32_t t = 0; t < kTerms; ++t)
                matrix[j][t] = Cached(kOutput1 + kTerms * j + t);
            SetupOutputSmoothing(Cached(kOutput1Smoothing + j), static_cast<float>(rate), &slewStep[j],
                                 &lowpassCoef[j]);
        }
        MakeMixTerms();
    }

    brinkMode = Cached(kBrinkMode) != 0.0f;
    if (brinkMode)
        for (int32_t k = 0; k < 3; ++k)
            bipolar[k] = Cached(kBipolar3 + k) != 0.0f;
    // The voice state is published after the piece or event that follows.
}

// The block is cut at every queue-A event, so that each acts at its own
// sample: an event is delivered after the piece that ends at its offset. In
// master operation a frame with messages for the voices costs one output
// frame (its marker), so later events land one frame later each.
void ObryCorvane::ProcessBlockWithEvents(float** inputs, float** outputs, int32_t frames)
{
    FrameCursor cursor{inputs[0], {}, frames};
    for (int32_t c = 0; c < kNumOutputs; ++c)
        cursor.outputs[c] = outputs[c];
    // Markers of the last block's final frame come first.
    int32_t owed = 0;
    for (; owed < owedCount && cursor.left > 0 && processingMode == kMaster; ++owed)
        WriteMarkerFrame(owedMarkers[owed], cursor);
    owedCount = 0; // a role given up meanwhile drops them: no voice reads them

    int64_t position = 0;
    bool settingsRead = false; // an event before the first piece needs them too
    QZ::MessageQueueItem* lookahead = nullptr;
    // An item read ahead is handled even when no frame is left: its batch's
    // marker is then owed to the next block.
    while (cursor.left > 0 || lookahead) {
        QZ::MessageQueueItem* item = lookahead ? lookahead : queueA.Read();
        lookahead = nullptr;
        int32_t piece = cursor.left;
        if (item) {
            const int64_t delta = item->deltaFrame;
            if (delta <= position) {
                piece = 0;
            } else {
                piece = static_cast<int32_t>(std::min<int64_t>(delta - position, cursor.left));
                position = delta;
            }
        }
        if (piece > 0) {
            BeginSubBlock(piece);
            settingsRead = true;
            if (processingMode == kCalibrating)
                RenderCalibration(cursor.input, cursor.outputs, piece);
            else if (processingMode == kMaster)
                RenderMasterPiece(cursor, piece);
            else if (polyMode == 2)
                RenderVoicePiece(cursor.input, cursor.outputs, piece);
            else
                RenderVoice(cursor.outputs, piece);
            cursor.Advance(piece);
            PublishVoiceState();
        }
        if (item) {
            if (!settingsRead) {
                BeginSubBlock(0);
                settingsRead = true;
            }
            luaMIDIHelper.ProcessMidiEvent(item);
            // While calibrating, notes would move nothing but the scripts.
            if (processingMode == kMaster)
                lookahead = HandleMasterEvents(item, cursor);
            else if (processingMode == kNormal)
                HandleMIDIMessage(*item);
            PublishVoiceState();
        }
    }
}

void ObryCorvane::HandleQueuedMessage(QZ::MessageQueueItem* item)
{
    if (!item)
        return;
    if (item->type == QZ::MessageQueueItem::kShortMIDI) {
        if (processingMode == kNormal)
            HandleMIDIMessage(*item);
        return;
    }
    if (item->type != QZ::MessageQueueItem::kValue)
        return;
    switch (item->Value()) {
    case kObryProperty_LoadBrinkCalibration: calibration.BuildBrink(); break;
    case kObryProperty_LoadDunmoreCalibration: calibration.BuildDunmore(); break;
    case kObryProperty_CalibrateVoltsPerOctave: StartCalibration(false); break;
    case kObryProperty_CalibrateHzPerVolt: StartCalibration(true); break;
    case kObryProperty_AllSoundOff: ResetVoice(); break;
    default: break;
    }
}

void ObryCorvane::RenderVoice(float* const* outputs, int32_t frames)
{
    for (int32_t first = 0; first < frames; first += kScratchFrames) {
        const int32_t n = std::min(kScratchFrames, frames - first);
        float* out[kNumOutputs];
        for (int32_t c = 0; c < kNumOutputs; ++c)
            out[c] = outputs[c] + first;

        float* glide = scratch[kRegionPitch];
        if (!glideOn) {
            glidedPitch = pitchTarget;
        } else if (glideMode == kGlideCTAuto || glideMode == kGlideCTFingered) {
            const auto gliding = static_cast<int32_t>(std::min<uint32_t>(static_cast<uint32_t>(n), glideRemaining));
            const float distance = glideStart - pitchTarget;
            const float curve = distance * glideShape;
            float t = static_cast<float>(glideRemaining) * glideStep;
            for (int32_t i = 0; i < gliding; ++i) {
                glide[i] = (curve * t + distance - curve) * t + pitchTarget;
                t -= glideStep;
            }
            glideRemaining -= static_cast<uint32_t>(gliding);
            if (gliding < n) {
                std::fill(glide + gliding, glide + n, pitchTarget);
                glidedPitch = pitchTarget;
            } else {
                glidedPitch = glide[n - 1];
            }
        } else {
            float g = glidedPitch;
            for (int32_t i = 0; i < n; ++i) {
                g = (g - pitchTarget) * glideCoefficient + pitchTarget;
                glide[i] = g;
            }
            glidedPitch = g;
        }

        float* trigger = scratch[kRegionTrigger];
        const auto on = static_cast<int32_t>(std::min<uint32_t>(static_cast<uint32_t>(n), triggerRemaining));
        std::fill(trigger, trigger + on, triggerOnValue);
        std::fill(trigger + on, trigger + n, triggerOffValue);
        triggerRemaining -= static_cast<uint32_t>(on);

        static_assert(kEnvelopes == 3 && kRegionEnv3 == kRegionEnv1 + 2);
        float* const envelopeOut[kEnvelopes] = {scratch[kRegionEnv1], scratch[kRegionEnv1 + 1],
                                                 scratch[kRegionEnv1 + 2]};
        Envelope::RunTogether(envelopes, envelopeOut, n);

        RenderOutputs(out, n, pitchTarget, gateValue, mappedVelocity, glideOn);

        // Outputs 1 and 2 carry data words in Brink mode: never smoothed.
        const int32_t firstSmoothed = brinkMode || processingMode == kMaster ? 2 : 0;
        for (int32_t j = firstSmoothed; j < kNumOutputs; ++j) {
            // Unsmoothed (the usual case): the state is the last sample.
            if (slewStep[j] > 0.0f || lowpassCoef[j] > 0.0f)
                ApplyOutputSmoothing(out[j], n, slewStep[j], lowpassCoef[j], &smoothState[j]);
            else
                smoothState[j] = out[j][n - 1];
        }
    }
}

void ObryCorvane::MakeMixTerms()
{
    for (int32_t j = 0; j < kNumOutputs; ++j)
        for (int32_t glide = 0; glide < 2; ++glide) {
            const float* c = matrix[j];
            MixTerms& m = mixTerms[j][glide];
            m = MixTerms{};
            auto add = [&](float coefficient, const float* region) {
                if (std::fabs(coefficient) > 0.001f) {
                    m.coef[m.count] = coefficient;
                    m.source[m.count] = region;
                    ++m.count;
                }
            };
            if (glide)
                add(c[kTermPitch], scratch[kRegionPitch]);
            add(c[kTermEnv1], scratch[kRegionEnv1]);
            add(c[kTermEnv2], scratch[kRegionEnv2]);
            add(c[kTermEnv3], scratch[kRegionEnv3]);
            add(c[kTermTrigger], scratch[kRegionTrigger]);
        }
}

void ObryCorvane::RenderOutputs(float* const* outputs, int32_t frames, float pitch, float gate, float velocity,
                                bool glide)
{
    const int32_t firstOutput = processingMode == kMaster ? 2 : 0;
    for (int32_t j = firstOutput; j < kNumOutputs; ++j) {
        const float* c = matrix[j];
        float k = c[kTermGate] * gate + c[kTermOffset] + c[kTermVelocity] * velocity;
        if (!glide)
            k += c[kTermPitch] * pitch;
        const MixTerms& m = mixTerms[j][glide ? 1 : 0];
        const float* const* source = m.source;
        const float* coef = m.coef;
        float* out = outputs[j];
        switch (m.count) {
        case 0: Mix<0>(out, frames, k, coef, source); break;
        case 1: Mix<1>(out, frames, k, coef, source); break;
        case 2: Mix<2>(out, frames, k, coef, source); break;
        case 3: Mix<3>(out, frames, k, coef, source); break;
        case 4: Mix<4>(out, frames, k, coef, source); break;
        default: Mix<5>(out, frames, k, coef, source); break;
        }
    }
    // In master operation outputs 1 and 2 carry the markers.
    if (brinkMode && processingMode != kMaster)
        PackBrinkWords(outputs, frames);
}

// Outputs 1..5 become the bytes B1..B5 of a Brink frame, written back as
// its two data words on outputs 1 and 2; outputs 3..6 keep their mix.
void ObryCorvane::PackBrinkWords(float* const* outputs, int32_t frames)
{
    for (int32_t i = 0; i < frames; ++i) {
        const uint8_t bytes[kBrinkFrameBytes] = {
            static_cast<uint8_t>(BrinkByte(outputs[0][i], false)),
            static_cast<uint8_t>(BrinkByte(outputs[1][i], false)),
            static_cast<uint8_t>(BrinkByte(outputs[2][i], bipolar[0])),
            static_cast<uint8_t>(BrinkByte(outputs[3][i], bipolar[1])),
            static_cast<uint8_t>(BrinkByte(outputs[4][i], bipolar[2])),
        };
        WriteBrinkFrame(bytes, ExpanderWordPair{0, 0}, &outputs[0][i], &outputs[1][i]);
    }
}

void ObryCorvane::StartCalibration(bool frequencyMode)
{
    autoCalibration.Start(frequencyMode, Rate(), blockSize, calibration);
    processingMode = kCalibrating;
}

void ObryCorvane::FinishCalibration()
{
    autoCalibration.Finish(calibration);
    processingMode = kNormal;
    // The name ("<>") is set on the host's or editor's thread: see
    // PollCalibrationName.
    calibrationFinishedAt.store(std::max<uint64_t>(1, static_cast<uint64_t>(std::time(nullptr))),
                                std::memory_order_release);
}

// In place of RenderVoice while calibrating: the pitch output steps through
// the levels with the gate open, envelopes at 1 and the trigger off; the
// input is measured. No smoothing: the oscillator must see the level itself.
void ObryCorvane::RenderCalibration(const float* input, float* const* outputs, int32_t frames)
{
    int32_t done = 0;
    while (done < frames) {
        if (autoCalibration.Finishing())
            FinishCalibration();
        float* out[kNumOutputs];
        for (int32_t c = 0; c < kNumOutputs; ++c)
            out[c] = outputs[c] + done;
        if (!autoCalibration.Active()) {
            processingMode = kNormal;
            RenderVoice(out, frames - done);
            return;
        }
        const int32_t n = std::min(autoCalibration.Stretch(frames - done), kScratchFrames);
        const float level = autoCalibration.Level();
        for (int32_t e = 0; e < kEnvelopes; ++e)
            std::fill(scratch[kRegionEnv1 + e], scratch[kRegionEnv1 + e] + n, 1.0f);
        std::fill(scratch[kRegionTrigger], scratch[kRegionTrigger] + n, P(kTriggerOffVoltage));
        // The input first: a host that processes in place hands the same
        // buffer as output 1.
        autoCalibration.Advance(input + done, n, calibration);
        RenderOutputs(out, n, level, P(kGateOpenVoltage), 0.0f, false);
        done += n;
    }
}

} // namespace ObryCorvaneVoiceController
