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

// The swung place of straight position t.
double SwingWarp(double t, double p, double s);
// The straight place of swung position t: SwingUnwarp(SwingWarp(t)) == t.
double SwingUnwarp(double t, double p, double s);
