// The texts of the text displays, apart from fonts and GL: note names,
// the Follower's frequency and level lines, the Quantizer's note and the key
// it marks, the info display's entries, and the Learner's MIDI history lines.
//
// Any thread: pure functions. Values may be anything (NaN, infinite, out of
// range, negative note numbers); no table is indexed with such a value.
#pragma once

#include <cstdint>
#include <string>

#include "gui/toolkit/Geometry.h"

namespace QZ::displaytext {

// The two-character name of a note number ("C ", "C#", ... "B "), or null
// for a negative note.
const char* NoteName(int32_t note);
// The octave of a note number: note 60 is in octave 4.
int32_t NoteOctave(int32_t note);

// The Follower's note for a frequency: name, octave and cents ("A 4+0"), or
// "" when the frequency has no note (not a frequency, or below the lowest
// note, about 8.2 Hz).
std::string FollowerNoteText(float frequency);

// The Follower's two lines: the frequency with its note, and the two levels.
struct FollowerLines {
    std::string frequency;
    std::string levels;
};
FollowerLines FollowerText(float frequency, float pitchLevel, float outputLevel);

// What the Follower display shows, rounded as shown (frequency to 0.1,
// levels to 0.001): the lines are made again only when one of these changes.
struct FollowerShown {
    float frequency = 0, pitchLevel = 0, outputLevel = 0;
    bool operator==(const FollowerShown&) const = default;
};
FollowerShown FollowerRounded(float frequency, float pitchLevel, float outputLevel);

// The Quantizer's note: "C 4  60" for note 60, "" for a negative note.
std::string QuantizerText(int32_t note);

// The key of a one-octave keyboard a note marks: 0 for C .. 6 for B, and
// whether it is the sharp above that key. False for a negative note.
struct KeyMark {
    int32_t key = 0;
    bool sharp = false;
};
bool KeyOf(int32_t note, KeyMark& mark);

// Where the Quantizer display marks a note on its keyboard of seven keys
// across `width` from x0, `bottom` its lower edge and 20 pixels high: a
// natural fills the lower half of its key, a sharp the upper half from the
// middle of its key to the middle of the next. False for a negative note.
bool KeyboardMark(int32_t note, float x0, float bottom, float width, Box& mark, bool& sharp);

// The info display: at most 6 entries; fewer than 1 makes none.
int32_t InfoEntryCount(int32_t requested);
// One entry, a signed byte: "  0", " -1" for 255.
std::string InfoEntryText(uint8_t byte);

// A control change as the Learner shows it:
// "Corvane LFO 1 (2) : Ch1 CC7 100" (instance name, per-type and process-wide
// numbers, 1-based channel, controller, value); without a name (the
// receiving instance is gone) only "Ch1 CC7 100".
std::string ControlChangeLine(const std::string& instanceName, uint32_t perType, uint32_t processWide,
                              uint8_t channel, uint8_t controller, uint8_t value);

} // namespace QZ::displaytext
