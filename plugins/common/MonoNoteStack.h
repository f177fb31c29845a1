// The held notes of a monophonic voice and the note priority that picks the
// sounding one: "Newest" (0), "Lowest" (1) or "Highest" (2). Each held note
// carries the held count at the moment it was pressed as its order number;
// "Newest" falls back to the held note with the largest number (the lowest
// such note on a tie).
//
// Used by the expander controllers' voice channels; the same rules serve a
// monophonic voice anywhere. Owned by one voice, one thread (the audio
// thread); no allocation.
#pragma once

#include <cstdint>

class MonoNoteStack {
public:
    enum Priority : int32_t { kNewest = 0, kLowest = 1, kHighest = 2 };
    static constexpr int32_t kNotes = 128;

    void Clear();

    // Holds `note` (held to 0..127) and returns the note that sounds now:
    // with two or more held, the lowest ("Lowest"), the highest ("Highest")
    // or this one ("Newest"); with one held, this one.
    int32_t Press(int32_t note, int32_t priority);
    // Lets go of `note`; false when it was not held.
    bool Release(int32_t note);
    // The held note to fall back to by priority; -1 when none is held.
    int32_t Fallback(int32_t priority) const;

    bool IsHeld(int32_t note) const { return note >= 0 && note < kNotes && order[note] != 0; }
    int32_t HeldCount() const { return held; }

    static int32_t ClampNote(int32_t note) { return note < 0 ? 0 : (note >= kNotes ? kNotes - 1 : note); }

private:
    int32_t Lowest() const;
    int32_t Highest() const;

    uint8_t order[kNotes] = {}; // 0 = not held; else the held count when pressed (1..128)
    int32_t held = 0;
};
