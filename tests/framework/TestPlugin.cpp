#include "tests/framework/TestPlugin.h"

#include <cstring>

namespace corvane::test {

std::vector<AutomateRecord>& AutomateLog()
{
    static std::vector<AutomateRecord> log;
    return log;
}

intptr_t TestHostCallback(AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float opt)
{
    if (opcode == audioMasterVersion)
        return 2400;
    if (opcode == audioMasterAutomate)
        AutomateLog().push_back({index, opt});
    return 0;
}

const ParameterInfo TestPlugin::kParameters[13] = {
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
    {"Level", kAudioUnitParameterUnit_Generic, -5, 5, 0},
    {"Frequency", kAudioUnitParameterUnit_Hertz, 20, 20000, 1000},
    {"Choice", kAudioUnitParameterUnit_Indexed, 0, 3, 0},
    {"Enabled", kAudioUnitParameterUnit_Boolean, 0, 1, 0},
    {"Positive", kAudioUnitParameterUnit_Generic, 0, 10, 0},
    {"A Very Long Parameter Name", kAudioUnitParameterUnit_Percent, 0, 100, 50},
    {"Beats", kAudioUnitParameterUnit_Beats, 0, 16, 1},
    {"Time", kAudioUnitParameterUnit_Milliseconds, -500, 500, 0},
    {"Big", kAudioUnitParameterUnit_Generic, -3e38f, 3e38f, 0},
    {"Tempo", kAudioUnitParameterUnit_BPM, 20, 300, 120},
    {"Pan", kAudioUnitParameterUnit_Pan, -1, 1, 0},
    {"Odd Unit", 77, 0, 1, 0.5f},
};

namespace {
FactoryPresetTable gTestPresets{{"Defaults", {}}, {"Second", {3, 1.5f}}};
}

TestPlugin::TestPlugin(const char* name, int32_t inputs, int32_t outputs, audioMasterCallback host)
    : ObryCorvaneBase(host, inputs, outputs, false, vst::FourCC("QTst"), 0, 2, &gTestPresets, 13, kParameters,
                      ObryProgramBasic<13>::Create),
      name(name)
{
    Initialize();
}

TestPlugin::~TestPlugin()
{
    close();
}

void TestPlugin::BeginSubBlock(int32_t)
{
}

void TestPlugin::Process(float** inputs, float** outputs, int32_t frames)
{
    lastInputs[0] = inputs[0];
    lastInputs[1] = inputs[1];
    inputSample = inputs[0][frames - 1];
    for (int32_t c = 0; c < numOutputs; ++c)
        for (int32_t i = 0; i < frames; ++i)
            outputs[c][i] = 1.0f;
    if (recordTrace)
        trace.push_back("Process(" + std::to_string(frames) + ")");
}

void TestPlugin::HandleQueuedMessage(QZ::MessageQueueItem* item)
{
    if (recordTrace)
        trace.push_back("Command(" + std::to_string(item->Value()) + ")");
}

void TestPlugin::Record(const char* hook, int a, int b, int c)
{
    if (recordTrace)
        trace.push_back(std::string(hook) + "(" + std::to_string(a) + "," + std::to_string(b) + "," +
                        std::to_string(c) + ")");
}

} // namespace corvane::test
