#include "framework/FactoryPreset.h"

FactoryPresetTable::FactoryPresetTable(std::initializer_list<Entry> entries)
{
    for (const Entry& entry : entries)
        presets.push_back({CFStringMakeConstant(entry.name), static_cast<int32_t>(entry.values.size()),
                           std::vector<float>(entry.values)});
}

void FactoryPresetTable::Complete(const ParameterInfo* info, int32_t numParams)
{
    std::call_once(completed, [&] {
        for (FactoryPreset& preset : presets) {
            preset.values.resize(static_cast<size_t>(numParams));
            for (int32_t i = preset.count; i < numParams; ++i)
                preset.values[i] = info[i].def;
        }
    });
}
