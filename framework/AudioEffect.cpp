#include "framework/AudioEffect.h"

#include <cstring>
#include <exception>

#include "framework/DenormalGuard.h"
#include "platform/Debug.h"

AudioEffect::AudioEffect(audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams)
    : audioMaster(audioMaster), numPrograms(numPrograms), numParams(numParams)
{
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = DispatchEntry;
    cEffect.process = ProcessEntry;
    cEffect.setParameter = SetParameterEntry;
    cEffect.getParameter = GetParameterEntry;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.flags = effFlagsCanReplacing;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = vst::FourCC("NoEf");
    cEffect.version = 1;
    cEffect.processReplacing = ProcessReplacingEntry;
    cEffect.processDoubleReplacing = ProcessDoubleReplacingEntry;
}

AudioEffect::~AudioEffect()
{
    delete editor;
}

void AudioEffect::ReplaceEditor(AEffEditor* newEditor)
{
    if (newEditor == editor)
        return;
    delete editor;
    editor = newEditor;
    SetFlag(effFlagsHasEditor, newEditor != nullptr);
}

AudioEffect* AudioEffect::FromAEffect(AEffect* effect)
{
    if (!effect || effect->magic != kEffectMagic)
        return nullptr;
    return static_cast<AudioEffect*>(effect->object);
}

intptr_t AudioEffect::CallHost(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    if (!audioMaster || hostReleased.load(std::memory_order_acquire))
        return 0;
    return audioMaster(&cEffect, opcode, index, value, ptr, opt);
}

void AudioEffect::setParameterAutomated(int32_t index, float value)
{
    setParameter(index, value);
    CallHost(audioMasterAutomate, index, 0, nullptr, value);
}

int32_t AudioEffect::getMasterVersion()
{
    intptr_t version = CallHost(audioMasterVersion);
    return version ? static_cast<int32_t>(version) : 1;
}

int32_t AudioEffect::getCurrentUniqueId()
{
    return static_cast<int32_t>(CallHost(audioMasterCurrentId));
}

void AudioEffect::masterIdle()
{
    CallHost(audioMasterIdle);
}

bool AudioEffect::isInputConnected(int32_t input)
{
    return CallHost(audioMasterPinConnected, input, 0) == 0;
}

bool AudioEffect::isOutputConnected(int32_t output)
{
    return CallHost(audioMasterPinConnected, output, 1) == 0;
}

intptr_t AudioEffect::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    const bool textTarget = opcode == effSetProgramName || opcode == effGetProgramName ||
                            opcode == effGetParamLabel || opcode == effGetParamDisplay ||
                            opcode == effGetParamName || opcode == effGetChunk || opcode == effSetChunk;
    if (textTarget && !ptr)
        return 0;

    switch (opcode) {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 0;
    case effSetProgram:
        if (value >= 0 && value < numPrograms)
            setProgram(static_cast<int32_t>(value));
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName: {
        // Program names are bounded by what hosts promise (24 bytes with the
        // NUL), the same limit effGetProgramName answers with: the name kept
        // is the name the host reads back.
        char name[kVstMaxProgNameLen];
        strncpy(name, static_cast<const char*>(ptr), kVstMaxProgNameLen - 1);
        name[kVstMaxProgNameLen - 1] = 0;
        setProgramName(name);
        return 0;
    }
    case effGetProgramName:
        getProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
        *static_cast<char*>(ptr) = 0;
        if (!IsValidParameterIndex(index))
            return 0;
        if (opcode == effGetParamLabel)
            getParameterLabel(index, static_cast<char*>(ptr));
        else if (opcode == effGetParamDisplay)
            getParameterDisplay(index, static_cast<char*>(ptr));
        else
            getParameterName(index, static_cast<char*>(ptr));
        return 0;
    case effGetVu:
        return static_cast<intptr_t>(getVu() * 32767.0f);
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(static_cast<int32_t>(value));
        return 0;
    case effMainsChanged:
        if (value)
            resume();
        else
            suspend();
        return 0;
    case effEditGetRect:
        if (!editor || !ptr)
            return 0;
        return editor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
    case effEditOpen:
        return editor ? (editor->open(ptr) ? 1 : 0) : 0;
    case effEditClose:
        if (editor)
            editor->close();
        return 0;
    case effEditIdle:
        if (editor)
            editor->idle();
        return 0;
    case effIdentify:
        return vst::FourCC("NvEf");
    case effGetChunk:
        return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk:
        if (value < 0 || value > INT32_MAX)
            return 0;
        return setChunk(ptr, static_cast<int32_t>(value), index != 0);
    default:
        return 0;
    }
}

// Host entry points. Nothing may unwind into the host: every exception ends
// here with a neutral answer.

intptr_t AudioEffect::DispatchEntry(AEffect* e, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    AudioEffect* effect = FromAEffect(e);
    if (!effect)
        return 0;
    try {
        intptr_t result = effect->dispatcher(opcode, index, value, ptr, opt);
        if (opcode == effClose) {
            e->object = nullptr;
            e->magic = 0;
            effect->ReleaseAfterClose();
            return 1;
        }
        return result;
    } catch (const std::exception& ex) {
        corvane::DebugPrintf("dispatcher(%d): %s\n", opcode, ex.what());
    } catch (...) {
        corvane::DebugPrintf("dispatcher(%d): unknown exception\n", opcode);
    }
    if (opcode == effClose) {
        // The object is in an unknown state; the host will not call it again.
        e->object = nullptr;
        e->magic = 0;
        return 1;
    }
    return 0;
}

void AudioEffect::ProcessEntry(AEffect* e, float** inputs, float** outputs, int32_t sampleFrames)
{
    AudioEffect* effect = FromAEffect(e);
    if (!effect || sampleFrames <= 0 || !outputs)
        return;
    const DenormalGuard denormals;
    try {
        effect->process(inputs, outputs, sampleFrames);
    } catch (...) {
        CORVANE_LOG_ONCE("process: exception\n");
    }
}

void AudioEffect::ProcessReplacingEntry(AEffect* e, float** inputs, float** outputs, int32_t sampleFrames)
{
    AudioEffect* effect = FromAEffect(e);
    if (!effect || sampleFrames <= 0 || !outputs)
        return;
    const DenormalGuard denormals;
    try {
        effect->processReplacing(inputs, outputs, sampleFrames);
    } catch (...) {
        CORVANE_LOG_ONCE("processReplacing: exception\n");
    }
}

void AudioEffect::ProcessDoubleReplacingEntry(AEffect* e, double** inputs, double** outputs, int32_t sampleFrames)
{
    AudioEffect* effect = FromAEffect(e);
    if (!effect || sampleFrames <= 0 || !outputs)
        return;
    const DenormalGuard denormals;
    try {
        effect->processDoubleReplacing(inputs, outputs, sampleFrames);
    } catch (...) {
        CORVANE_LOG_ONCE("processDoubleReplacing: exception\n");
    }
}

void AudioEffect::SetParameterEntry(AEffect* e, int32_t index, float value)
{
    AudioEffect* effect = FromAEffect(e);
    if (!effect || !effect->IsValidParameterIndex(index))
        return;
    try {
        effect->setParameter(index, value);
    } catch (...) {
        CORVANE_LOG_ONCE("setParameter: exception\n");
    }
}

float AudioEffect::GetParameterEntry(AEffect* e, int32_t index)
{
    AudioEffect* effect = FromAEffect(e);
    if (!effect || !effect->IsValidParameterIndex(index))
        return 0;
    try {
        return effect->getParameter(index);
    } catch (...) {
        CORVANE_LOG_ONCE("getParameter: exception\n");
        return 0;
    }
}
