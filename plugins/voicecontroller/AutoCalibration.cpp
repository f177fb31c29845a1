#include "plugins/voicecontroller/AutoCalibration.h"

#include <algorithm>
#include <cmath>

// audio thread: no allocation, no lock

void PeriodDetector::Reset()
{
    position = 0.0;
    lastCrossing = -1.0;
    count = 0;
}

void PeriodDetector::Feed(const float* samples, int32_t n)
{
    float y = lastSample;
    for (int32_t i = 0; i < n; ++i) {
        const float x = samples[i];
        // An infinite sample would make the crossing time NaN, and a NaN
        // period would break the sort of the median.
        if (y < 0.0f && x >= 0.0f && std::isfinite(x) && std::isfinite(y)) {
            const double t = (position + i) - 1.0 + (-static_cast<double>(y) / (static_cast<double>(x) - y));
            if (lastCrossing != -1.0 && count < kPeriods)
                periods[count++] = t - lastCrossing;
            lastCrossing = t;
        }
        y = x;
    }
    position += n;
    if (n > 0)
        lastSample = y;
}

double PeriodDetector::Median()
{
    if (count <= 0)
        return 0.0;
    std::sort(periods, periods + count);
    return periods[count / 2];
}

void AutoCalibration::Start(bool inFrequencyMode, double rate, int32_t blockSize, CalibrationTable& table)
{
    phase = kMeasuring;
    frequencyMode = inFrequencyMode;
    sampleRate = rate;
    step = 0;
    table.Clear();
    const double quarter = rate * 0.25;
    const uint32_t settle = quarter >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(quarter);
    const int64_t blocks = 4 * static_cast<int64_t>(blockSize > 0 ? blockSize : 0);
    settleLength = std::max<uint32_t>(settle, static_cast<uint32_t>(std::min<int64_t>(blocks, 4294967295)));
    if (settleLength == 0)
        settleLength = 1;
    measureLength = rate >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(rate);
    if (measureLength < 1)
        measureLength = 1;
    settleCounter = settleLength;
    measureCounter = measureLength;
    havePrevious = false;
    detector.Reset();
}

int32_t AutoCalibration::Stretch(int32_t frames) const
{
    if (phase != kMeasuring || frames <= 0)
        return 0;
    if (settleCounter != 0)
        return settleCounter < static_cast<uint32_t>(frames) ? static_cast<int32_t>(settleCounter) : frames;
    return measureCounter < frames ? measureCounter : frames;
}

void AutoCalibration::Advance(const float* input, int32_t n, CalibrationTable& table)
{
    if (phase != kMeasuring || n <= 0)
        return;
    if (settleCounter != 0) {
        settleCounter -= static_cast<uint32_t>(n);
        if (settleCounter == 0)
            detector.Reset();
        return;
    }
    detector.Feed(input, n);
    measureCounter -= n;
    if (detector.Full()) {
        TakePoint(table);
        NextStep();
    } else if (measureCounter <= 0) {
        NextStep();
    }
}

void AutoCalibration::NextStep()
{
    ++step;
    settleCounter = settleLength;
    measureCounter = measureLength;
    if (step > kLastStep)
        phase = kFinishing;
}

void AutoCalibration::TakePoint(CalibrationTable& table)
{
    const double median = detector.Median();
    if (!(median > 0.0))
        return;
    const double f = sampleRate / median;
    const double note = std::log(f * 0.0022727272727272726) * 1.4426950408889634 * 12.0 + 69.0;
    const double x = frequencyMode ? f : note;
    const float level = Level();
    if (!std::isfinite(note) || !std::isfinite(x))
        return;
    // Entries are filled between this point and the previous one only when
    // the measurement rose with the level; equal x would divide by zero.
    if (havePrevious && previousNote < 127.0 && note > 0.0 && x > previousX) {
        const auto lo = static_cast<int32_t>(std::clamp(std::ceil(previousNote), 0.0, 127.0));
        const auto hi = static_cast<int32_t>(std::clamp(std::floor(note), 0.0, 127.0));
        for (int32_t i = lo; i <= hi; ++i) {
            const double xi = frequencyMode ? 440.0 * std::pow(2.0, (i - 69) / 12.0) : static_cast<double>(i);
            const double value = (xi - previousX) / (x - previousX) * (level - previousLevel) + previousLevel;
            table.SetValue(i, static_cast<float>(value));
            table.SetValid(i, true);
        }
    }
    havePrevious = true;
    previousX = x;
    previousNote = note;
    previousLevel = level;
}

void AutoCalibration::Finish(CalibrationTable& table)
{
    bool filled[CalibrationTableLength];
    for (int32_t i = 0; i < CalibrationTableLength; ++i)
        filled[i] = table.IsValid(i);
    for (int32_t i = CalibrationTableLength - 1 - 12; i >= 0; --i) {
        if (!filled[i] && filled[i + 12]) {
            table.SetValue(i, table.Value(i + 12));
            filled[i] = true;
        }
    }
    for (int32_t i = 12; i < CalibrationTableLength; ++i) {
        if (!filled[i] && filled[i - 12]) {
            table.SetValue(i, table.Value(i - 12));
            filled[i] = true;
        }
    }
    phase = kIdle;
}
