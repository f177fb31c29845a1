#include "module/ObryShell.h"

#include <cstring>

using vst::FourCC;

const ShellEntry kShellEntries[kShellEntryCount] = {
    {FourCC("QZs0"), "QV DC", false},
    {FourCC("QZs1"), "QV Voice Controller", false},
    {FourCC("QZs2"), "QV LFO", false},
    {FourCC("QZs3"), "QV Trigger", true},
    {FourCC("QZs4"), "QV CV Input", false},
    {FourCC("QZs5"), "QV CV To OSC", false},
    {FourCC("QZs6"), "QV Step LFO", false},
    {FourCC("QZs7"), "QV CV To MIDI", false},
    {FourCC("QZs8"), "QV Quantizer", false},
    {FourCC("QZs9"), "QV AC Encoder", false},
    {FourCC("QZsa"), "QV Voice Controller", true},
    {FourCC("QZsb"), "QV SMUX", false},
    {FourCC("QZsc"), "QV Brink Controller", true},
    {FourCC("QZsd"), "QV Brink Controller", false},
    {FourCC("QZse"), "QV Sync", true},
    {FourCC("QZsf"), "QV Sync", false},
    {FourCC("QZs("), "QV AC Encoder (6ch)", false},
    {FourCC("QZsg"), "QV Carro Controller", true},
    {FourCC("QZsh"), "QV Carro Controller", false},
    {FourCC("QZsi"), "QV Dunmore Combiner", false},
    {FourCC("QZsj"), "QV Follower", false},
    {FourCC("QZsk"), "QV Learner", true},
    {FourCC("QZsl"), "QV Soundplane", true},
    {FourCC("QZsm"), "QV Trigger", false},
    {FourCC("QZsn"), "QV Function", false},
};

ObryShell::ObryShell(audioMasterCallback audioMaster) : AudioEffectX(audioMaster, 1, 1)
{
    setUniqueID(FourCC("QZsh"));
}

bool ObryShell::getEffectName(char* text)
{
    strcpy(text, "Corvane");
    return true;
}

bool ObryShell::getProductString(char* text)
{
    strcpy(text, "Corvane");
    return true;
}

bool ObryShell::getVendorString(char* text)
{
    strcpy(text, "Ormbury");
    return true;
}

int32_t ObryShell::getNextShellPlugin(char* name)
{
    if (enumerationIndex >= kShellEntryCount || enumerationIndex < 0) {
        name[0] = 0;
        return 0;
    }
    const ShellEntry& entry = kShellEntries[enumerationIndex++];
    // Names are far below the 64 bytes hosts give.
    strncpy(name, entry.displayName, kVstMaxShellNameLen - 1);
    name[kVstMaxShellNameLen - 1] = 0;
    isSynth(entry.instrument);
    return entry.uniqueId;
}
