// Reference-counted strings and string lists that cross the property
// interface (value names, property-33 texts, program names).
//
// An object is created with one reference owned by its creator; whoever hands
// a shared object to a caller adds a reference for that caller, and the
// caller releases it when done. Counts are atomic: shared value-name lists
// are handed to callers on several host threads at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

class CFType {
public:
    CFType() = default;
    virtual ~CFType() = default;
    CFType(const CFType&) = delete;
    CFType& operator=(const CFType&) = delete;

    void Retain() { refCount.fetch_add(1, std::memory_order_relaxed); }
    // Deletes the object when the last reference goes.
    void Release()
    {
        if (refCount.fetch_sub(1, std::memory_order_acq_rel) <= 1)
            delete this;
    }
    uint32_t RetainCount() const { return refCount.load(std::memory_order_relaxed); }

private:
    std::atomic<uint32_t> refCount{0};
};

class CFString : public CFType {
public:
    explicit CFString(const char* text);
    ~CFString() override;
    const char* CString() const { return text; }

private:
    char* text;
};

class CFArray : public CFType {
public:
    CFArray() = default;
    ~CFArray() override; // releases every element in order
    // Takes over one reference to `element`.
    void Append(CFType* element) { elements.push_back(element); }
    size_t Count() const { return elements.size(); }
    CFType* At(size_t index) const { return index < elements.size() ? elements[index] : nullptr; }

private:
    std::vector<CFType*> elements;
};

// The shared string for a text literal: the same literal (by address) always
// gives the same object, which lives until module unload. No reference is
// added for the caller, who must not release it. Thread-safe.
CFString* CFStringMakeConstant(const char* literal);

// A new array (count 1, the caller's) of n new string copies (count 1 each,
// held by the array).
CFArray* CFArrayCreateFromStrings(const char* const* strings, size_t n);

// Releases every constant string; run at module unload.
void CFStringReleaseConstants();
