// The value names of an indexed parameter: one list per process, built on
// first use and shared by every instance. Each caller gets the shared array
// with a reference of its own, which it releases. Thread-safe.
#pragma once

#include <cstddef>
#include <mutex>

#include "framework/CFType.h"

class SharedValueNames {
public:
    template <size_t N>
    explicit SharedValueNames(const char* const (&texts)[N]) : texts(texts), count(N)
    {
    }
    ~SharedValueNames()
    {
        if (array)
            array->Release();
    }
    SharedValueNames(const SharedValueNames&) = delete;
    SharedValueNames& operator=(const SharedValueNames&) = delete;

    CFArray* Acquire()
    {
        std::call_once(built, [this] { array = CFArrayCreateFromStrings(texts, count); });
        array->Retain();
        return array;
    }

private:
    const char* const* texts;
    size_t count;
    std::once_flag built;
    CFArray* array = nullptr;
};
