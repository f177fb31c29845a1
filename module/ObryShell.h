// ObryShell: the shell plug-in that lists the family to a scanning host.
#pragma once

#include "framework/AudioEffectX.h"

struct ShellEntry {
    int32_t uniqueId;
    const char* displayName;
    bool instrument;
};

// The 25 entries in the order of enumeration.
extern const ShellEntry kShellEntries[];
constexpr int32_t kShellEntryCount = 25;

class ObryShell : public AudioEffectX {
public:
    explicit ObryShell(audioMasterCallback audioMaster);

    void processReplacing(float**, float**, int32_t) override {}
    bool getEffectName(char* text) override;
    bool getProductString(char* text) override;
    bool getVendorString(char* text) override;
    int32_t getVendorVersion() override { return 0x00020100; }
    int32_t getPlugCategory() override { return kPlugCategShell; }
    // Writes the next entry's name and returns its id; "" and 0 past the last.
    // The index is never reset.
    int32_t getNextShellPlugin(char* name) override;

private:
    int32_t enumerationIndex = 0;
};
