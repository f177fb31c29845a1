// Swing warping: moves musical positions between a straight grid and a
// swung one. A period p holds one pair of notes; with swing fraction s the
// middle of each period (the second note of the pair) moves from 0.5 to s
// while both ends stay put, each half stretched linearly.
//
// Used by the oscillators (LFO, Step LFO) to un-swing the host position and
// by the clocks (Sync, the expander controllers) to place swung ticks.
//
// Pure functions, any thread. t and p share one unit (quarter notes, MIDI
// clocks, ...); p > 0 and 0 < s < 1 (callers keep s within 0.05..0.95).
// Every position, negative ones too (a host's pre-roll), belongs to the
// period that starts at or below it (floor(t / p) x p), so the mapping is
// monotonic everywhere. A non-positive or non-finite period leaves t as it is.
#pragma once

#include <limits>

// The swung place of straight position t.
double SwingWarp(double t, double p, double s);
// The straight place of swung position t: SwingUnwarp(SwingWarp(t)) == t.
double SwingUnwarp(double t, double p, double s);

// SwingUnwarp for a position that moves on a little at a time (a clock's
// place, block after block): the start of the period it was last in is
// kept, and while the position stays in that period its remainder is one
// subtraction instead of fmod. The same bits as SwingUnwarp: the kept start
// is a whole number of periods exactly (checked when it is taken), and the
// subtraction is exact (the position lies between the start and twice it),
// so it gives fmod's remainder, which is exact too.
class SwingUnwarper {
public:
    double Unwarp(double t, double p, double s);

private:
    double start = std::numeric_limits<double>::quiet_NaN(); // NaN: none kept
    double period = 0.0;
};
