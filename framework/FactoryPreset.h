// Factory presets: one table per plug-in class giving each program slot its
// initial name and values. Built at static set-up with the values the table
// names; the rest are completed with the parameter defaults once, by
// whichever instance is constructed first (thread-safe).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "framework/CFType.h"
#include "framework/ParameterInfo.h"

struct FactoryPreset {
    CFString* name;            // a constant string
    int32_t count;             // leading values given by the table
    std::vector<float> values; // one per parameter once completed
};

class FactoryPresetTable {
public:
    struct Entry {
        const char* name;
        std::initializer_list<float> values;
    };

    FactoryPresetTable(std::initializer_list<Entry> entries);

    // Fills every record's values from its count on with the defaults.
    // Safe to call from any number of constructors at once; runs once.
    void Complete(const ParameterInfo* info, int32_t numParams);

    int32_t Count() const { return static_cast<int32_t>(presets.size()); }
    const FactoryPreset& operator[](int32_t index) const { return presets[index]; }

private:
    std::vector<FactoryPreset> presets;
    std::once_flag completed;
};
