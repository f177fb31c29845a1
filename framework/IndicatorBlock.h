// Writing a plug-in's indicator block: the values an editor shows (phases,
// levels, positions), laid out by each plug-in in elements of one width.
//
// Audio thread: a plain copy, no allocation, no lock. The editor reads the
// block without a lock while the audio thread writes it; an element is
// written whole with memcpy and read the same way.
#pragma once

#include <cstdint>
#include <cstring>

// Element `element` of the block, counted in units of T.
template <class T>
inline void WriteIndicator(uint8_t* block, int element, T value)
{
    memcpy(block + element * sizeof(T), &value, sizeof value);
}
