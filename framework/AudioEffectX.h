// AudioEffectX: the extended VST 2.4 opcodes (25 to 79) and the wrappers for
// the host calls the system uses. Defaults are the ones later classes rely
// on; names and strings answer false and leave the text untouched.
#pragma once

#include "framework/AudioEffect.h"

class AudioEffectX : public AudioEffect {
public:
    AudioEffectX(audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams);

    intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) override;
    void resume() override;

    virtual bool canParameterBeAutomated(int32_t) { return true; }
    virtual bool string2parameter(int32_t, char*) { return false; }
    virtual bool getParameterProperties(int32_t, VstParameterProperties*) { return false; }
    virtual bool beginEdit(int32_t index);
    virtual bool endEdit(int32_t index);
    virtual bool getProgramNameIndexed(int32_t, int32_t, char*) { return false; }
    virtual bool beginSetProgram() { return false; }
    virtual bool endSetProgram() { return false; }
    virtual int32_t beginLoadBank(void*) { return 0; }
    virtual int32_t beginLoadProgram(void*) { return 0; }
    virtual bool ioChanged();
    virtual double updateSampleRate();
    virtual int32_t updateBlockSize();
    virtual int32_t getInputLatency();
    virtual int32_t getOutputLatency();
    virtual bool getInputProperties(int32_t, VstPinProperties*) { return false; }
    virtual bool getOutputProperties(int32_t, VstPinProperties*) { return false; }
    virtual bool setBypass(bool) { return false; }
    virtual bool setPanLaw(int32_t, float) { return false; }
    virtual bool setProcessPrecision(int32_t) { return false; }
    virtual int32_t getNumMidiInputChannels() { return 0; }
    virtual int32_t getNumMidiOutputChannels() { return 0; }
    // Null while the host gives no time information (scanning hosts do not).
    virtual VstTimeInfo* getTimeInfo(int32_t filter);
    virtual int32_t getCurrentProcessLevel();
    virtual int32_t getAutomationState();
    virtual int32_t processEvents(VstEvents*) { return 0; }
    virtual int32_t startProcess() { return 0; }
    virtual int32_t stopProcess() { return 0; }
    virtual bool processVariableIo(void*) { return false; }
    virtual bool setTotalSampleToProcess(int32_t value) { return value != 0; }
    virtual bool getHostVendorString(char* text);
    virtual bool getHostProductString(char* text);
    virtual int32_t getHostVendorVersion();
    virtual intptr_t hostVendorSpecific(int32_t lArg1, intptr_t lArg2, void* ptrArg, float floatArg);
    virtual int32_t canHostDo(char* text);
    virtual int32_t getHostLanguage();
    virtual void isSynth(bool state = true) { SetFlag(effFlagsIsSynth, state); }
    virtual void noTail(bool state = true) { SetFlag(effFlagsNoSoundInStop, state); }
    virtual int32_t getGetTailSize() { return 0; }
    virtual void* getDirectory();
    virtual bool getEffectName(char*) { return false; }
    virtual bool getVendorString(char*) { return false; }
    virtual bool getProductString(char*) { return false; }
    virtual int32_t getVendorVersion() { return 0; }
    virtual intptr_t vendorSpecific(int32_t, intptr_t, void*, float) { return 0; }
    virtual int32_t canDo(char*) { return 0; }
    virtual int32_t getVstVersion() { return 2400; }
    virtual int32_t getPlugCategory();
    virtual int32_t getMidiProgramName(int32_t, void*) { return 0; }
    virtual int32_t getCurrentMidiProgram(int32_t, void*) { return -1; }
    virtual int32_t getMidiProgramCategory(int32_t, void*) { return 0; }
    virtual bool hasMidiProgramsChanged(int32_t) { return false; }
    virtual bool getMidiKeyName(int32_t, void*) { return false; }
    virtual bool updateDisplay();
    virtual bool sizeWindow(int32_t width, int32_t height);
    virtual int32_t getNextShellPlugin(char*) { return 0; }
    virtual bool offlineNotify(void*, int32_t, bool) { return false; }
    virtual bool offlinePrepare(void*, int32_t) { return false; }
    virtual bool offlineRun(void*, int32_t) { return false; }
    virtual void wantEvents(int32_t filter = 1);
    virtual int32_t getNumCategories() { return 1; }
    virtual bool copyProgram(int32_t) { return false; }
    virtual void inputConnected(int32_t, bool) {}
    virtual void outputConnected(int32_t, bool) {}
    virtual int32_t reportCurrentPosition() { return 0; }
    virtual float* reportDestinationBuffer() { return nullptr; }
    virtual void setBlockSizeAndSampleRate(int32_t blockSize, float sampleRate)
    {
        this->blockSize = blockSize;
        this->sampleRate = sampleRate;
    }
    virtual bool getErrorText(char*) { return false; }
    virtual void* getIcon() { return nullptr; }
    virtual bool setViewPosition(int32_t, int32_t) { return false; }
    virtual int32_t fxIdle() { return 0; }
    virtual bool keysRequired() { return false; }
};
