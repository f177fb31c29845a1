// VST 2.4 plug-in classes: AudioEffect holds the host record and dispatches
// the basic effect opcodes; AudioEffectX adds the extended opcodes and one
// wrapper per host call.
//
// Threads: the dispatcher runs on whichever thread the host calls from (UI
// thread for most opcodes, the audio thread for effProcessEvents); process
// and parameter entries may come from the audio thread. Nothing here
// allocates after construction. No exception leaves an entry point: the
// static trampolines catch everything and answer a neutral value.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/AEffEditor.h"
#include "framework/vst/VstAbi.h"

class AudioEffect {
public:
    AudioEffect(audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams);
    virtual ~AudioEffect();

    virtual intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

    virtual void open() {}
    virtual void close() {}
    // After close(), for effClose: the host lets go of the object, and no
    // request goes to the host from then on. The object is deleted: here at
    // once; a class whose threads may outlive close (MustOutliveClose) frees
    // it once they have ended, never under them.
    virtual void ReleaseAfterClose()
    {
        ForgetHost();
        delete this;
    }
    // Asked after close(): whether a thread of the object could not be
    // stopped and still comes back into it.
    virtual bool MustOutliveClose() const { return false; }
    virtual void suspend() {}
    virtual void resume() {}

    virtual void setSampleRate(float sampleRate) { this->sampleRate = sampleRate; }
    virtual void setBlockSize(int32_t blockSize) { this->blockSize = blockSize; }

    virtual void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) = 0;
    virtual void processDoubleReplacing(double**, double**, int32_t) {}

    virtual void setParameter(int32_t, float) {}
    virtual float getParameter(int32_t) { return 0; }
    virtual void setParameterAutomated(int32_t index, float value);

    virtual int32_t getProgram() { return curProgram; }
    virtual void setProgram(int32_t program) { curProgram = program; }
    virtual void setProgramName(char*) {}
    virtual void getProgramName(char* name) { *name = 0; }
    virtual void getParameterLabel(int32_t, char* label) { *label = 0; }
    virtual void getParameterDisplay(int32_t, char* text) { *text = 0; }
    virtual void getParameterName(int32_t, char* text) { *text = 0; }
    virtual int32_t getChunk(void**, bool) { return 0; }
    virtual int32_t setChunk(void*, int32_t, bool) { return 0; }

    virtual void setUniqueID(int32_t id) { cEffect.uniqueID = id; }
    virtual void setNumInputs(int32_t inputs) { cEffect.numInputs = inputs; }
    virtual void setNumOutputs(int32_t outputs) { cEffect.numOutputs = outputs; }
    virtual void canProcessReplacing(bool state = true) { SetFlag(effFlagsCanReplacing, state); }
    virtual void canDoubleReplacing(bool state = true) { SetFlag(effFlagsCanDoubleReplacing, state); }
    virtual void programsAreChunks(bool state = true) { SetFlag(effFlagsProgramChunks, state); }
    virtual void setInitialDelay(int32_t delay) { cEffect.initialDelay = delay; }

    virtual AEffEditor* getEditor() { return editor; }
    // Replaces the editor object, which this object owns from then on (the
    // old one is deleted). Only while no editor is open; tests give a plug-in
    // an editor of their own this way.
    void ReplaceEditor(AEffEditor* newEditor);
    virtual AEffect* getAeffect() { return &cEffect; }
    virtual float getSampleRate() { return sampleRate; }
    virtual int32_t getBlockSize() { return blockSize; }

    virtual int32_t getMasterVersion();
    virtual int32_t getCurrentUniqueId();
    virtual void masterIdle();
    virtual bool isInputConnected(int32_t input);
    virtual bool isOutputConnected(int32_t output);

    virtual void process(float**, float**, int32_t) {}
    virtual float getVu() { return 0; }
    virtual void hasVu(bool state = true) { SetFlag(effFlagsHasVu, state); }
    virtual void hasClip(bool state = true) { SetFlag(effFlagsHasClip, state); }
    virtual void canMono(bool state = true) { SetFlag(effFlagsCanMono, state); }
    virtual void setRealtimeQualities(int32_t qualities) { cEffect.realQualities = qualities; }
    virtual void setOfflineQualities(int32_t qualities) { cEffect.offQualities = qualities; }

    audioMasterCallback getHostCallback() const { return audioMaster; }
    int32_t getNumPrograms() const { return numPrograms; }
    int32_t getNumParams() const { return numParams; }
    bool IsValidParameterIndex(int32_t index) const { return index >= 0 && index < numParams; }
    bool IsValidProgramIndex(int32_t index) const { return index >= 0 && index < numPrograms; }

    // Sends one request to the host; a missing host, or one that let go of
    // the object, answers 0.
    intptr_t CallHost(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0);

    static AudioEffect* FromAEffect(AEffect* effect);

protected:
    void ForgetHost() { hostReleased.store(true, std::memory_order_release); }
    void SetFlag(int32_t flag, bool state)
    {
        if (state)
            cEffect.flags |= flag;
        else
            cEffect.flags &= ~flag;
    }

    audioMasterCallback audioMaster;
    AEffEditor* editor = nullptr; // owned; deleted by the destructor
    float sampleRate = 44100.0f;
    int32_t blockSize = 1024;
    int32_t numPrograms;
    int32_t numParams;
    int32_t curProgram = 0;
    AEffect cEffect{};
    std::atomic<bool> hostReleased{false};

private:
    // The host record's entry points.
    static intptr_t DispatchEntry(AEffect* e, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
    static void ProcessEntry(AEffect* e, float** inputs, float** outputs, int32_t sampleFrames);
    static void ProcessReplacingEntry(AEffect* e, float** inputs, float** outputs, int32_t sampleFrames);
    static void ProcessDoubleReplacingEntry(AEffect* e, double** inputs, double** outputs, int32_t sampleFrames);
    static void SetParameterEntry(AEffect* e, int32_t index, float value);
    static float GetParameterEntry(AEffect* e, int32_t index);
};
