// A plug-in's indicator block: the values an editor shows (phases, levels,
// positions), laid out by each plug-in in elements of one width.
//
// The audio thread writes the block while an editor's render thread reads
// it, without a lock: every element is one relaxed atomic word, written and
// read whole, so a reader sees either the old or the new value of an element
// (never half of each), though neighbouring elements may come from different
// blocks. Writers: audio thread, no allocation, no lock. Readers: any thread.
// The block is 8-byte aligned, so every element of its own width is aligned.
#pragma once

#include <atomic>
#include <cstdint>

namespace indicator_detail {

template <class T>
std::atomic_ref<T> Element(const uint8_t* block, int element)
{
    static_assert(sizeof(T) <= 8 && std::atomic_ref<T>::is_always_lock_free);
    // The element is only loaded through this reference when `block` is const.
    return std::atomic_ref<T>(*reinterpret_cast<T*>(const_cast<uint8_t*>(block) + element * sizeof(T)));
}

} // namespace indicator_detail

// Element `element` of the block, counted in units of T.
template <class T>
inline void WriteIndicator(uint8_t* block, int element, T value)
{
    indicator_detail::Element<T>(block, element).store(value, std::memory_order_relaxed);
}

template <class T>
inline T ReadIndicator(const uint8_t* block, int element)
{
    return indicator_detail::Element<T>(block, element).load(std::memory_order_relaxed);
}

// `count` single bytes from byte `offset` on.
inline void WriteIndicatorBytes(uint8_t* block, int offset, const uint8_t* bytes, int count)
{
    for (int i = 0; i < count; ++i)
        WriteIndicator<uint8_t>(block, offset + i, bytes[i]);
}
