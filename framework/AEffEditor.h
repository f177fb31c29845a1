// The editor object a plug-in owns (VST 2.4 AEffEditor). The dispatcher
// forwards the editor opcodes here on the host's UI thread.
#pragma once

#include <cstdint>

#include "framework/vst/VstAbi.h"

class AudioEffect;

class AEffEditor {
public:
    explicit AEffEditor(AudioEffect* effect) : effect(effect) {}
    virtual ~AEffEditor() = default;

    virtual bool getRect(ERect** rect)
    {
        *rect = nullptr;
        return false;
    }
    virtual bool open(void* parentWindow)
    {
        systemWindow = parentWindow;
        return false;
    }
    virtual void close() { systemWindow = nullptr; }
    virtual bool isOpen() { return systemWindow != nullptr; }
    virtual void idle() {}
    virtual bool onKeyDown(VstKeyCode&) { return false; }
    virtual bool onKeyUp(VstKeyCode&) { return false; }
    virtual bool setKnobMode(int32_t) { return false; }
    virtual bool onWheel(float) { return false; }
    // Told of every parameter change; (index, real value). Any thread.
    virtual void setParameter(int32_t, float) {}

    AudioEffect* getEffect() { return effect; }
    void* getSystemWindow() { return systemWindow; }

protected:
    AudioEffect* effect;
    void* systemWindow = nullptr;
};
