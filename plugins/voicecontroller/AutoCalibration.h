// The Voice Controller's auto-calibration: with its pitch output patched to
// an oscillator and the oscillator's audio back into its input, it steps the
// pitch output through 17 levels from -1.0 to +1.0 in eighths, lets each
// settle for a quarter of a second (at least four blocks), measures the
// frequency that comes back from five periods between rising zero crossings
// (for at most one second), and fills the calibration table between each
// two measured points: by notes (V/oct) or by frequency (Hz/V). Notes
// outside the measured range then get the value of the note one or more
// octaves inside; only the measured notes are marked valid.
//
// Audio thread only (started by a queued command): no allocation, no lock.
#pragma once

#include <cstdint>

#include "plugins/common/Calibration.h"

// The periods between rising zero crossings of a signal, the first five
// after a reset, with the crossing times interpolated between samples.
struct PeriodDetector {
    static constexpr int32_t kPeriods = 5;

    double position = 0.0;      // samples fed since the reset
    double lastCrossing = -1.0; // -1: none yet
    double periods[kPeriods] = {};
    float lastSample = 0.0f;    // of the previous feed, kept across resets
    int32_t count = 0;

    void Reset();
    // Samples that are NaN or infinite make no crossing.
    void Feed(const float* samples, int32_t n);
    bool Full() const { return count >= kPeriods; }
    // Sorts the periods and returns the middle one (0 when none).
    double Median();
};

class AutoCalibration {
public:
    static constexpr int32_t kLastStep = 16; // levels (step - 8) / 8

    // Clears the table and starts at level -1.0. `sampleRate` > 0.
    void Start(bool frequencyMode, double sampleRate, int32_t blockSize, CalibrationTable& table);
    bool Active() const { return phase != kIdle; }
    // All levels are done: Finish() is due.
    bool Finishing() const { return phase == kFinishing; }
    // The pitch output of the current step.
    float Level() const { return static_cast<float>(step - 8) * 0.125f; }
    // How many of `frames` belong to the current stretch (settling or
    // measuring); at least 1 while measuring or settling.
    int32_t Stretch(int32_t frames) const;
    // After `n` frames (n <= Stretch) with the calibration output: while
    // measuring, `input` (n samples, read before the output is written
    // when a host processes in place) goes to the period detector; a step
    // ends after five periods (taking a point) or a second without them.
    void Advance(const float* input, int32_t n, CalibrationTable& table);
    // Fills unmeasured notes from an octave inside and ends the calibration.
    void Finish(CalibrationTable& table);
    // Stops without finishing (the table keeps what was measured).
    void Abort() { phase = kIdle; }

    int32_t Step() const { return step; }
    bool Settling() const { return settleCounter != 0; }

private:
    enum Phase : int32_t { kIdle, kMeasuring, kFinishing };

    void TakePoint(CalibrationTable& table);
    void NextStep();

    Phase phase = kIdle;
    bool frequencyMode = false;
    double sampleRate = 44100.0;
    int32_t step = 0;
    uint32_t settleLength = 0;
    uint32_t settleCounter = 0;
    int32_t measureLength = 0;
    int32_t measureCounter = 0;
    bool havePrevious = false;
    double previousX = 0.0;
    double previousNote = 0.0;
    float previousLevel = 0.0f;
    PeriodDetector detector;
};
