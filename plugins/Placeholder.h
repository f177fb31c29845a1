// A stand-in for a shell entry whose plug-in class is not built yet: it has
// the entry's id, kind and name, one parameter ("OSC Port Offset") and
// silent outputs.
#pragma once

#include "framework/ObryCorvaneBase.h"

class ObryCorvanePlaceholder : public ObryCorvaneBase {
public:
    ObryCorvanePlaceholder(audioMasterCallback audioMaster, int32_t uniqueId, const char* displayName,
                           bool instrument);

    void Process(float** inputs, float** outputs, int32_t frames) override;
    const char* GetPluginName() override { return pluginName.c_str(); }
    const char* GetGUIScriptName() override { return "gui.lua"; }

private:
    std::string pluginName;
};
