#include "plugins/Placeholder.h"

#include <cstring>

namespace {

const ParameterInfo kPlaceholderParameters[] = {
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
};

FactoryPresetTable gPlaceholderPresets{{"Defaults", {}}};

} // namespace

ObryCorvanePlaceholder::ObryCorvanePlaceholder(audioMasterCallback audioMaster, int32_t uniqueId,
                                               const char* displayName, bool instrument)
    : ObryCorvaneBase(audioMaster, 2, 2, instrument, uniqueId, 0, 1, &gPlaceholderPresets, 1,
                      kPlaceholderParameters, ObryProgramBasic<1>::Create),
      // "QV DC" -> "Corvane DC"
      pluginName(std::string("Corvane ") + (strncmp(displayName, "QV ", 3) == 0 ? displayName + 3 : displayName))
{
    Initialize();
}

// audio thread
void ObryCorvanePlaceholder::Process(float**, float** outputs, int32_t frames)
{
    for (int32_t c = 0; c < numOutputs; ++c)
        memset(outputs[c], 0, sizeof(float) * static_cast<size_t>(frames));
}
