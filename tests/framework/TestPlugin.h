// A plug-in class for in-process tests of the framework: a parameter table
// of any size, and a trace of the hooks the base calls.
#pragma once

#include <string>
#include <vector>

#include "plugins/base/ObryCorvaneBase.h"

namespace corvane::test {

// A host callback that answers the version and counts automation.
intptr_t TestHostCallback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
struct AutomateRecord {
    int32_t index;
    float value;
};
std::vector<AutomateRecord>& AutomateLog();

class TestPlugin : public ObryCorvaneBase {
public:
    static const ParameterInfo kParameters[13];

    // 13 parameters: index 0 "OSC Port Offset" (Indexed 0..100), then a mix
    // of units; the name ("Corvane <name>") decides the kind for numbering.
    explicit TestPlugin(const char* name = "Corvane Tester", int32_t inputs = 2, int32_t outputs = 2,
                        audioMasterCallback host = TestHostCallback);
    ~TestPlugin() override;

    void BeginSubBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;
    void HandleQueuedMessage(QZ::MessageQueueItem* item) override;
    void NoteOn(int channel, int note, int velocity) override { Record("NoteOn", channel, note, velocity); }
    void NoteOff(int channel, int note, int velocity) override { Record("NoteOff", channel, note, velocity); }
    void ControlChange(int channel, int controller, int value) override { Record("CC", channel, controller, value); }
    const char* GetPluginName() override { return name.c_str(); }
    const char* GetGUIScriptName() override { return "gui_tester.lua"; }

    // "Process(n)", "NoteOn(c,n,v)", ... in the order they happened.
    std::vector<std::string> trace;
    bool recordTrace = true;
    float* lastInputs[2] = {nullptr, nullptr};
    float inputSample = -1;

private:
    void Record(const char* hook, int a, int b, int c);
    std::string name;
};

} // namespace corvane::test
