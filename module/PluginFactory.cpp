// The factory: maps the host's current id to a plug-in class.
#include <new>

#include "module/PluginFactory.h"

#include "module/ObryShell.h"
#include "module/PluginClasses.h"
#include "plugins/base/ObryCorvaneBase.h"

namespace {

using vst::FourCC;

struct FactoryEntry {
    int32_t uniqueId;
    AudioEffect* (*create)(audioMasterCallback);
};

template <class Plugin>
AudioEffect* Make(audioMasterCallback audioMaster)
{
    return new Plugin(audioMaster);
}

template <class Plugin, bool Instrument>
AudioEffect* MakeVariant(audioMasterCallback audioMaster)
{
    return new Plugin(audioMaster, Instrument);
}

const FactoryEntry kFactory[] = {
    {FourCC("QZs0"), Make<ObryCorvaneDC::ObryCorvane>},
    {FourCC("QZs1"), MakeVariant<ObryCorvaneVoiceController::ObryCorvane, false>},
    {FourCC("QZs2"), Make<ObryCorvaneLFO::ObryCorvane>},
    {FourCC("QZs3"), MakeVariant<ObryCorvaneTrigger::ObryCorvane, true>},
    {FourCC("QZs4"), Make<ObryCorvaneCVInput::ObryCorvane>},
    {FourCC("QZs5"), Make<ObryCorvaneCVToOSC::ObryCorvane>},
    {FourCC("QZs6"), Make<ObryCorvaneStepLFO::ObryCorvane>},
    {FourCC("QZs7"), Make<ObryCorvaneCVToMIDI::ObryCorvane>},
    {FourCC("QZs8"), Make<ObryCorvaneQuantizer::ObryCorvane>},
    {FourCC("QZs9"), Make<ObryCorvaneACEncoder::ObryCorvane>},
    {FourCC("QZsa"), MakeVariant<ObryCorvaneVoiceController::ObryCorvane, true>},
    {FourCC("QZsb"), Make<ObryCorvaneSMUX::ObryCorvane>},
    {FourCC("QZsc"), MakeVariant<ObryCorvaneBrinkController::ObryCorvane, true>},
    {FourCC("QZsd"), MakeVariant<ObryCorvaneBrinkController::ObryCorvane, false>},
    {FourCC("QZse"), MakeVariant<ObryCorvaneSync::ObryCorvane, true>},
    {FourCC("QZsf"), MakeVariant<ObryCorvaneSync::ObryCorvane, false>},
    {FourCC("QZs("), Make<ObryCorvaneACEncoder6::ObryCorvane>},
    {FourCC("QZsg"), MakeVariant<ObryCorvaneCarroController::ObryCorvane, true>},
    {FourCC("QZsh"), MakeVariant<ObryCorvaneCarroController::ObryCorvane, false>},
    {FourCC("QZsi"), Make<ObryCorvaneDunmoreCombiner::ObryCorvane>},
    {FourCC("QZsj"), Make<ObryCorvaneFollower::ObryCorvane>},
    {FourCC("QZsk"), Make<ObryCorvaneLearner::ObryCorvane>},
    {FourCC("QZsl"), Make<ObryCorvaneSoundplane::ObryCorvane>},
    {FourCC("QZsm"), MakeVariant<ObryCorvaneTrigger::ObryCorvane, false>},
    {FourCC("QZsn"), Make<ObryCorvaneFunction::ObryCorvane>},
};
static_assert(sizeof kFactory / sizeof kFactory[0] == kShellEntryCount);

} // namespace

AudioEffect* createEffectInstance(audioMasterCallback audioMaster)
{
    const intptr_t id = audioMaster ? audioMaster(nullptr, audioMasterCurrentId, 0, 0, nullptr, 0) : 0;
    try {
        if (id == 0)
            return new ObryShell(audioMaster);
        // The shell's own id also names the Carro Controller effect: a
        // non-zero id never makes the shell.
        for (const FactoryEntry& entry : kFactory)
            if (entry.uniqueId == id)
                return entry.create(audioMaster);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return nullptr;
}
