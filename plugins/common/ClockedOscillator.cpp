#include "plugins/common/ClockedOscillator.h"

namespace {

// In the order of their indices; the multipliers are those of SpeedMultiplier.
const char* const kSpeedMultiplierTexts[] = {"0.1", "1", "10", "100"};
const char* const kInputModeTexts[] = {"Add", "Multiply", "Combine"};
const char* const kSwingTypeTexts[] = {"16", "8"};

SharedValueNames gSpeedMultiplierList(kSpeedMultiplierTexts);
SharedValueNames gInputModeList(kInputModeTexts);
SharedValueNames gSwingTypeList(kSwingTypeTexts);

} // namespace

SharedValueNames& SpeedMultiplierNames()
{
    return gSpeedMultiplierList;
}

SharedValueNames& InputModeNames()
{
    return gInputModeList;
}

SharedValueNames& SwingTypeNames()
{
    return gSwingTypeList;
}
