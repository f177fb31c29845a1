#include "framework/AudioEffectX.h"

#include <cstring>

AudioEffectX::AudioEffectX(audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams)
    : AudioEffect(audioMaster, numPrograms, numParams)
{
}

void AudioEffectX::resume()
{
    char receive[] = "receiveVstMidiEvent";
    if ((cEffect.flags & effFlagsIsSynth) || canDo(receive) == 1)
        wantEvents();
}

intptr_t AudioEffectX::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    switch (opcode) {
    case effProcessEvents:
        return ptr ? processEvents(static_cast<VstEvents*>(ptr)) : 0;
    case effCanBeAutomated:
        return IsValidParameterIndex(index) && canParameterBeAutomated(index) ? 1 : 0;
    case effString2Parameter:
        return IsValidParameterIndex(index) && ptr && string2parameter(index, static_cast<char*>(ptr)) ? 1 : 0;
    case effGetNumProgramCategories:
        return getNumCategories();
    case effGetProgramNameIndexed:
        return ptr && getProgramNameIndexed(static_cast<int32_t>(value), index, static_cast<char*>(ptr)) ? 1 : 0;
    case effCopyProgram:
        return copyProgram(index) ? 1 : 0;
    case effConnectInput:
        inputConnected(index, value != 0);
        return 1;
    case effConnectOutput:
        outputConnected(index, value != 0);
        return 1;
    case effGetInputProperties:
        return ptr && getInputProperties(index, static_cast<VstPinProperties*>(ptr)) ? 1 : 0;
    case effGetOutputProperties:
        return ptr && getOutputProperties(index, static_cast<VstPinProperties*>(ptr)) ? 1 : 0;
    case effGetPlugCategory:
        return getPlugCategory();
    case effGetCurrentPosition:
        return reportCurrentPosition();
    case effGetDestinationBuffer:
        return reinterpret_cast<intptr_t>(reportDestinationBuffer());
    case effOfflineNotify:
        return offlineNotify(ptr, static_cast<int32_t>(value), index != 0) ? 1 : 0;
    case effOfflinePrepare:
        return offlinePrepare(ptr, static_cast<int32_t>(value)) ? 1 : 0;
    case effOfflineRun:
        return offlineRun(ptr, static_cast<int32_t>(value)) ? 1 : 0;
    case effProcessVarIo:
        return processVariableIo(ptr) ? 1 : 0;
    case effSetSpeakerArrangement:
    case effGetSpeakerArrangement:
        return 0;
    case effSetBlockSizeAndSampleRate:
        setBlockSizeAndSampleRate(static_cast<int32_t>(value), opt);
        return 1;
    case effSetBypass:
        return setBypass(value != 0) ? 1 : 0;
    case effGetEffectName:
        return ptr && getEffectName(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetErrorText:
        return ptr && getErrorText(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetVendorString:
        return ptr && getVendorString(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetProductString:
        return ptr && getProductString(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetVendorVersion:
        return getVendorVersion();
    case effVendorSpecific:
        return vendorSpecific(index, value, ptr, opt);
    case effCanDo:
        return ptr ? canDo(static_cast<char*>(ptr)) : 0;
    case effGetTailSize:
        return getGetTailSize();
    case effIdle:
        return fxIdle();
    case effGetIcon:
        return reinterpret_cast<intptr_t>(getIcon());
    case effSetViewPosition:
        return setViewPosition(index, static_cast<int32_t>(value)) ? 1 : 0;
    case effGetParameterProperties:
        return IsValidParameterIndex(index) && ptr && getParameterProperties(index, static_cast<VstParameterProperties*>(ptr)) ? 1 : 0;
    case effKeysRequired:
        return keysRequired() ? 0 : 1;
    case effGetVstVersion:
        return getVstVersion();
    case effEditKeyDown:
    case effEditKeyUp: {
        if (!editor)
            return 0;
        VstKeyCode key{index, static_cast<unsigned char>(value), static_cast<unsigned char>(static_cast<int32_t>(opt))};
        return (opcode == effEditKeyDown ? editor->onKeyDown(key) : editor->onKeyUp(key)) ? 1 : 0;
    }
    case effSetEditKnobMode:
        return editor ? (editor->setKnobMode(static_cast<int32_t>(value)) ? 1 : 0) : 0;
    case effGetMidiProgramName:
        return getMidiProgramName(index, ptr);
    case effGetCurrentMidiProgram:
        return getCurrentMidiProgram(index, ptr);
    case effGetMidiProgramCategory:
        return getMidiProgramCategory(index, ptr);
    case effHasMidiProgramsChanged:
        return hasMidiProgramsChanged(index) ? 1 : 0;
    case effGetMidiKeyName:
        return getMidiKeyName(index, ptr) ? 1 : 0;
    case effBeginSetProgram:
        return beginSetProgram() ? 1 : 0;
    case effEndSetProgram:
        return endSetProgram() ? 1 : 0;
    case effShellGetNextPlugin:
        return ptr ? getNextShellPlugin(static_cast<char*>(ptr)) : 0;
    case effStartProcess:
        return startProcess();
    case effStopProcess:
        return stopProcess();
    case effSetTotalSampleToProcess:
        return setTotalSampleToProcess(static_cast<int32_t>(value)) ? 1 : 0;
    case effSetPanLaw:
        return setPanLaw(static_cast<int32_t>(value), opt) ? 1 : 0;
    case effBeginLoadBank:
        return beginLoadBank(ptr);
    case effBeginLoadProgram:
        return beginLoadProgram(ptr);
    case effSetProcessPrecision:
        return setProcessPrecision(static_cast<int32_t>(value)) ? 1 : 0;
    case effGetNumMidiInputChannels:
        return getNumMidiInputChannels();
    case effGetNumMidiOutputChannels:
        return getNumMidiOutputChannels();
    default:
        if (opcode >= 0 && opcode <= effSetChunk)
            return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
        return 0;
    }
}

bool AudioEffectX::beginEdit(int32_t index)
{
    return CallHost(audioMasterBeginEdit, index) != 0;
}

bool AudioEffectX::endEdit(int32_t index)
{
    return CallHost(audioMasterEndEdit, index) != 0;
}

bool AudioEffectX::ioChanged()
{
    return CallHost(audioMasterIOChanged) != 0;
}

double AudioEffectX::updateSampleRate()
{
    intptr_t rate = CallHost(audioMasterGetSampleRate);
    if (rate > 0)
        sampleRate = static_cast<float>(rate);
    return sampleRate;
}

int32_t AudioEffectX::updateBlockSize()
{
    intptr_t size = CallHost(audioMasterGetBlockSize);
    if (size > 0)
        blockSize = static_cast<int32_t>(size);
    return blockSize;
}

int32_t AudioEffectX::getInputLatency()
{
    return static_cast<int32_t>(CallHost(audioMasterGetInputLatency));
}

int32_t AudioEffectX::getOutputLatency()
{
    return static_cast<int32_t>(CallHost(audioMasterGetOutputLatency));
}

VstTimeInfo* AudioEffectX::getTimeInfo(int32_t filter)
{
    return reinterpret_cast<VstTimeInfo*>(CallHost(audioMasterGetTime, 0, filter));
}

int32_t AudioEffectX::getCurrentProcessLevel()
{
    return static_cast<int32_t>(CallHost(audioMasterGetCurrentProcessLevel));
}

int32_t AudioEffectX::getAutomationState()
{
    return static_cast<int32_t>(CallHost(audioMasterGetAutomationState));
}

bool AudioEffectX::getHostVendorString(char* text)
{
    return CallHost(audioMasterGetVendorString, 0, 0, text) != 0;
}

bool AudioEffectX::getHostProductString(char* text)
{
    return CallHost(audioMasterGetProductString, 0, 0, text) != 0;
}

int32_t AudioEffectX::getHostVendorVersion()
{
    return static_cast<int32_t>(CallHost(audioMasterGetVendorVersion));
}

intptr_t AudioEffectX::hostVendorSpecific(int32_t lArg1, intptr_t lArg2, void* ptrArg, float floatArg)
{
    return CallHost(audioMasterVendorSpecific, lArg1, lArg2, ptrArg, floatArg);
}

int32_t AudioEffectX::canHostDo(char* text)
{
    return CallHost(audioMasterCanDo, 0, 0, text) != 0 ? 1 : 0;
}

int32_t AudioEffectX::getHostLanguage()
{
    return static_cast<int32_t>(CallHost(audioMasterGetLanguage));
}

void* AudioEffectX::getDirectory()
{
    return reinterpret_cast<void*>(CallHost(audioMasterGetDirectory));
}

int32_t AudioEffectX::getPlugCategory()
{
    return (cEffect.flags & effFlagsIsSynth) ? kPlugCategSynth : kPlugCategUnknown;
}

bool AudioEffectX::updateDisplay()
{
    return CallHost(audioMasterUpdateDisplay) != 0;
}

bool AudioEffectX::sizeWindow(int32_t width, int32_t height)
{
    return CallHost(audioMasterSizeWindow, width, height) != 0;
}

void AudioEffectX::wantEvents(int32_t filter)
{
    CallHost(audioMasterWantMidi, 0, filter);
}
