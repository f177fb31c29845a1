#include "plugins/common/MonoNoteStack.h"

#include <cstring>

void MonoNoteStack::Clear()
{
    memset(order, 0, sizeof order);
    held = 0;
}

int32_t MonoNoteStack::Lowest() const
{
    for (int32_t n = 0; n < kNotes; ++n)
        if (order[n])
            return n;
    return -1;
}

int32_t MonoNoteStack::Highest() const
{
    for (int32_t n = kNotes - 1; n >= 0; --n)
        if (order[n])
            return n;
    return -1;
}

int32_t MonoNoteStack::Press(int32_t note, int32_t priority)
{
    note = ClampNote(note);
    if (!order[note]) {
        ++held; // at most 128: fits the order byte
        order[note] = static_cast<uint8_t>(held);
    }
    if (held >= 2) {
        if (priority == kLowest)
            return Lowest();
        if (priority == kHighest)
            return Highest();
    }
    return note;
}

bool MonoNoteStack::Release(int32_t note)
{
    note = ClampNote(note);
    if (!order[note])
        return false;
    order[note] = 0;
    --held;
    return true;
}

int32_t MonoNoteStack::Fallback(int32_t priority) const
{
    if (held <= 0)
        return -1;
    if (priority == kLowest)
        return Lowest();
    if (priority == kHighest)
        return Highest();
    int32_t newest = -1;
    uint8_t largest = 0;
    for (int32_t n = 0; n < kNotes; ++n)
        if (order[n] > largest) {
            largest = order[n];
            newest = n;
        }
    return newest;
}
