#include "plugins/common/OffValueTexts.h"

#include "plugins/common/OutputSmoothing.h"

bool OffValueTexts::StringFromValue(ObryAuBase& plugin, AudioUnitParameterStringFromValue& request) const
{
    const int32_t index = static_cast<int32_t>(request.inParamID);
    if (!Has(index))
        return false;
    const float value = request.inValue ? *request.inValue : plugin.GetParameterReal(index);
    const bool off = index == portOffset ? value == 0.0f : SmoothingShowsOff(value);
    if (off)
        request.outString = CFStringMakeConstant("Off");
    return true;
}
