// The editor's controls in a real window under Xvfb, on the test plug-in
// built in-process: a view whose element tree the test builds, a host
// callback that records the edit gestures the host hears, and the helpers
// the control tests share. Header only.
#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "gui/controls/Renderers.h"
#include "gui/editor/ObryCorvaneView.h"
#include "gui/toolkit/Manager.h"
#include "gui/toolkit/Textures.h"
#include "gui/toolkit/UIElement.h"
#include "tests/framework/TestPlugin.h"
#include "tests/gui/HostWindow.h"
#include "tests/gui/Screenshot.h"
#include "tests/support/InProcessPlugin.h"

namespace corvane::test {

// What the host was told: audioMasterBeginEdit, audioMasterAutomate,
// audioMasterEndEdit, in order.
struct GestureCall {
    int32_t opcode;
    int32_t index;
    float value;
};

inline std::mutex& GestureMutex()
{
    static std::mutex mutex;
    return mutex;
}
inline std::vector<GestureCall>& GestureLog()
{
    static std::vector<GestureCall> log;
    return log;
}
inline std::vector<GestureCall> TakeGestures()
{
    std::lock_guard<std::mutex> hold(GestureMutex());
    return std::exchange(GestureLog(), {});
}
inline intptr_t GestureHost(AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float opt)
{
    if (opcode == audioMasterVersion)
        return 2400;
    if (opcode == audioMasterAutomate || opcode == audioMasterBeginEdit || opcode == audioMasterEndEdit) {
        std::lock_guard<std::mutex> hold(GestureMutex());
        GestureLog().push_back({opcode, index, opt});
    }
    return 0;
}

// The test plug-in with what drop-downs and property widgets need: value
// names for "Choice" (Indexed 0..3), a text property and a one-byte one.
class ControlsPlugin : public TestPlugin {
public:
    static constexpr int32_t kChoice = 3;
    static constexpr uint32_t kTextProperty = 64100;
    static constexpr uint32_t kByteProperty = 64130;

    using TestPlugin::TestPlugin;

    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** names) override
    {
        static const char* const kNames[] = {"Sine", "Triangle", "Square", "Noise"};
        if (index != kChoice || !names)
            return TestPlugin::GetParameterValueStrings(scope, index, names);
        *names = CFArrayCreateFromStrings(kNames, 4);
        return 0;
    }
    int32_t GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size, uint8_t* writable) override
    {
        if (id != kTextProperty && id != kByteProperty)
            return TestPlugin::GetPropertyInfo(id, scope, element, size, writable);
        std::lock_guard<std::mutex> hold(lock);
        if (size)
            *size = id == kByteProperty ? 1 : static_cast<uint32_t>(text.size() + 1);
        if (writable)
            *writable = 1;
        return 0;
    }
    int32_t GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data) override
    {
        if (id != kTextProperty && id != kByteProperty)
            return TestPlugin::GetProperty(id, scope, element, data);
        std::lock_guard<std::mutex> hold(lock);
        if (id == kByteProperty)
            *static_cast<uint8_t*>(data) = byte;
        else
            std::memcpy(data, text.c_str(), text.size() + 1);
        return 0;
    }
    int32_t SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size) override
    {
        if (id != kTextProperty && id != kByteProperty)
            return TestPlugin::SetProperty(id, scope, element, data, size);
        std::lock_guard<std::mutex> hold(lock);
        if (id == kByteProperty)
            byte = size ? *static_cast<const uint8_t*>(data) : 0;
        else
            text.assign(static_cast<const char*>(data), strnlen(static_cast<const char*>(data), size));
        return 0;
    }
    uint8_t Byte()
    {
        std::lock_guard<std::mutex> hold(lock);
        return byte;
    }

private:
    std::mutex lock;
    std::string text = "Midi Through";
    uint8_t byte = 0;
};

// The knob atlas of the module, as the built-in scripts load it.
inline QZ::TextureRecord ButtonsTexture()
{
    QZ::TextureRecord record;
    record.resourceId = 120;
    return record;
}

using ControlsBuilder = std::function<void(QZ::Manager&, QZ::Group& root, QZ::TextureRecord& atlas)>;

class ControlsView : public ObryCorvaneView {
public:
    ControlsView(ObryAuBase* plugin, int width, int height, ControlsBuilder build)
        : ObryCorvaneView(plugin), width(width), height(height), build(std::move(build))
    {
    }

protected:
    void GetScriptWindowSize(int32_t& w, int32_t& h) override
    {
        w = width;
        h = height;
    }
    void SetUpGUI(QZ::Manager& manager) override
    {
        // The built-in editors' panel grey.
        manager.SetBackgroundColour(0.4f, 0.4f, 0.4f);
        auto* root = new QZ::Group(&manager);
        manager.SetRootElement(root);
        manager.SetDrawPopups(true);
        atlas = ButtonsTexture();
        build(manager, *root, atlas);
    }

private:
    int width, height;
    ControlsBuilder build;
    QZ::TextureRecord atlas; // outlives the manager's render thread
};

// The test plug-in with a ControlsView as its editor, open in a host window.
class ControlsHarness {
public:
    ControlsHarness(int width, int height, ControlsBuilder build)
        : plugin(new ControlsPlugin("Corvane Tester", 2, 2, GestureHost)), width(width), height(height)
    {
        view = new ControlsView(plugin.get(), width, height, std::move(build));
        plugin->ReplaceEditor(view);
        view->InitWindowSize();
        plugin->setSampleRate(48000);
        plugin->setBlockSize(256);
        plugin->resume();
    }
    ~ControlsHarness()
    {
        if (host)
            view->close();
    }

    // Opens the editor in a host window and waits for two frames.
    bool Open()
    {
        host = std::make_unique<HostWindow>(width, height, 0x00FF00);
        if (!view->open(host->Handle()))
            return false;
        child = host->Child();
        return child != 0 && Frames(2);
    }

    // Idles the editor (its input is read there) until `count` more frames
    // were drawn.
    bool Frames(int count)
    {
        const uint64_t seen = Manager()->FramesDrawn();
        return WaitFor([&] {
            view->idle();
            return Manager()->FramesDrawn() >= seen + static_cast<uint64_t>(count);
        });
    }

    // Input as the X server delivers it; (x, y) from the window's top-left.
    void Press(int x, int y, unsigned state = 0, unsigned button = 1)
    {
        host->SendButton(child, true, button, x, y, state, NextTime());
        Idle();
    }
    void Release(int x, int y, unsigned state = 0, unsigned button = 1)
    {
        host->SendButton(child, false, button, x, y, state, NextTime());
        Idle();
    }
    void Move(int x, int y, unsigned state = Button1Mask)
    {
        host->SendMotion(child, x, y, state);
        Idle();
    }
    void Key(unsigned long keysym, unsigned state = 0)
    {
        host->SendKey(child, keysym, state);
        Idle();
    }
    // Two presses and releases close together in time and place.
    void DoubleClick(int x, int y, unsigned state = 0)
    {
        const Time first = NextTime();
        host->SendButton(child, true, 1, x, y, state, first);
        host->SendButton(child, false, 1, x, y, state, first + 10);
        host->SendButton(child, true, 1, x, y, state, first + 120);
        host->SendButton(child, false, 1, x, y, state, first + 130);
        Idle();
    }
    // A press at (x, y), a drag through `steps` motions to (x + dx, y + dy)
    // and a release there, all with `state` held.
    void Drag(int x, int y, int dx, int dy, unsigned state = 0, int steps = 4)
    {
        Press(x, y, state);
        for (int i = 1; i <= steps; ++i)
            Move(x + dx * i / steps, y + dy * i / steps, state | Button1Mask);
        Release(x + dx, y + dy, state);
    }
    // A wheel notch: button 4 away from the user, 5 towards.
    void Wheel(int x, int y, bool up, unsigned state = 0)
    {
        const unsigned button = up ? 4 : 5;
        host->SendButton(child, true, button, x, y, state, NextTime());
        host->SendButton(child, false, button, x, y, state, NextTime());
        Idle();
    }
    // Motion without a button held (hover).
    void Hover(int x, int y) { Move(x, y, 0); }
    // Lets the editor read what was sent (the server has it once XSync
    // returns; the editor reads it in idle).
    void Idle()
    {
        XSync(host->Connection(), False);
        Frames(1);
    }

    bool Capture(Image& image) { return corvane::test::Capture(host->Connection(), child, image); }

    ControlsPlugin& Plugin() { return *plugin; }
    QZ::Manager* Manager() { return view->GetManager(); }
    float Real(int32_t index) { return plugin->GetParameterReal(index); }
    void SetReal(int32_t index, float value) { plugin->SetParameterValue(index, value, false); }

private:
    Time NextTime()
    {
        time += 1000; // far apart: no two presses make a double click
        return time;
    }

    InProcessPlugin<ControlsPlugin> plugin;
    ControlsView* view;
    int width, height;
    std::unique_ptr<HostWindow> host;
    Window child = 0;
    Time time = 100000;
};

} // namespace corvane::test
