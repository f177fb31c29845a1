// The module's exported entry: VSTPluginMain, also exported as `main` for
// hosts that look for that name. These two are the only symbols the module
// exports (see exports.map).
#include <exception>

#include "module/PluginFactory.h"
#include "platform/Debug.h"

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback audioMaster)
{
    try {
        // A null host callback answers 0, like a host that knows no version.
        if (!audioMaster || audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0) == 0)
            return nullptr;
        AudioEffect* effect = createEffectInstance(audioMaster);
        return effect ? effect->getAeffect() : nullptr;
    } catch (const std::exception& e) {
        corvane::DebugPrintf("VSTPluginMain: %s\n", e.what());
    } catch (...) {
        corvane::DebugPrintf("VSTPluginMain: unknown exception\n");
    }
    return nullptr;
}

// C++ forbids a ::main of another type; the assembler label gives the symbol
// its name.
extern "C" __attribute__((visibility("default"))) AEffect* corvaneMainAlias(audioMasterCallback audioMaster)
    __asm__("main");
extern "C" AEffect* corvaneMainAlias(audioMasterCallback audioMaster)
{
    return VSTPluginMain(audioMaster);
}
