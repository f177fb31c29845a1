// Real plug-ins built in-process with an editor whose element tree the test
// builds (the editor object's SetUpGUI seam), and the audio they process
// while their editors draw. Header only.
#pragma once

#include <cmath>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "framework/InstanceRegistry.h"
#include "framework/MessageQueue.h"
#include "gui/editor/ObryCorvaneView.h"
#include "gui/toolkit/Manager.h"
#include "gui/toolkit/UIElement.h"
#include "tests/support/InProcessPlugin.h"

namespace corvane::test {

// Builds the displays of one editor into its root group.
using DisplayBuilder = std::function<void(QZ::Manager&, QZ::Group& root)>;

// The editor object with a test's element tree and window size.
class DisplayView : public ObryCorvaneView {
public:
    DisplayView(ObryAuBase* plugin, int width, int height, DisplayBuilder build)
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
        manager.SetBackgroundColour(0.16f, 0.17f, 0.19f);
        auto* root = new QZ::Group(&manager);
        manager.SetRootElement(root);
        build(manager, *root);
    }

private:
    int width, height;
    DisplayBuilder build;
};

// A control change as the instance registry hears of it from the MIDI input
// of `receiver` (what the Learner's display shows).
inline void SendControlChange(ObryAuBase& receiver, int channel, int controller, int value)
{
    QZ::MessageQueueItem item;
    item.type = QZ::MessageQueueItem::kShortMIDI;
    item.data[0] = 0xB0;
    item.data[1] = static_cast<uint8_t>(channel);
    item.data[2] = static_cast<uint8_t>(controller);
    item.data[3] = static_cast<uint8_t>(value);
    InstanceRegistry::HandleMIDIMessage(&item, &receiver);
}

// A plug-in with its view, and the audio it is given: a sine of a frequency
// and level plus a constant on every input, and the host's transport moving
// on with every block.
class DisplayHarness {
public:
    // Plug-in class P (made as a host makes it, with InProcessHost) with a
    // DisplayView as its editor.
    template <class P, class... Args>
    static std::unique_ptr<DisplayHarness> Make(int width, int height, DisplayBuilder build, Args... args)
    {
        auto* made = new P(InProcessHost, args...);
        auto* view = new DisplayView(made, width, height, std::move(build));
        made->ReplaceEditor(view);
        view->InitWindowSize();
        auto harness = std::unique_ptr<DisplayHarness>(new DisplayHarness(made, view));
        made->setSampleRate(48000);
        made->setBlockSize(kBlock);
        made->resume();
        return harness;
    }

    ObryCorvaneBase& Plugin() { return *plugin; }
    DisplayView& View() { return *view; }
    QZ::Manager* Manager() { return view->GetManager(); }

    void SetInput(float frequency, float level, float constant = 0.0f)
    {
        inputFrequency = frequency;
        inputLevel = level;
        inputConstant = constant;
    }

    // Audio thread (whichever thread calls it): `blocks` blocks.
    void Process(int blocks, VstEvents* events = nullptr)
    {
        const size_t inputs = static_cast<size_t>(std::max(plugin->NumInputs(), 1));
        const size_t outputs = static_cast<size_t>(std::max(plugin->NumOutputs(), 1));
        in.assign(inputs, std::vector<float>(kBlock, 0.0f));
        out.assign(outputs, std::vector<float>(kBlock, 0.0f));
        std::vector<float*> inPointers, outPointers;
        for (auto& channel : in)
            inPointers.push_back(channel.data());
        for (auto& channel : out)
            outPointers.push_back(channel.data());
        for (int b = 0; b < blocks; ++b) {
            for (int i = 0; i < kBlock; ++i) {
                const float v = inputConstant + inputLevel * static_cast<float>(std::sin(phase));
                phase += 2.0 * M_PI * inputFrequency / 48000.0;
                if (phase > 2.0 * M_PI)
                    phase -= 2.0 * M_PI;
                for (auto& channel : in)
                    channel[static_cast<size_t>(i)] = v;
            }
            if (events && b == 0)
                plugin->processEvents(events);
            plugin->processReplacing(inPointers.data(), outPointers.data(), kBlock);
            InProcessTime().ppqPos += kBlock / 48000.0 * 2.0;
        }
    }

    static constexpr int kBlock = 256;

private:
    DisplayHarness(ObryCorvaneBase* plugin, DisplayView* view) : plugin(plugin), view(view) {}

    InProcessPlugin<ObryCorvaneBase> plugin;
    DisplayView* view;
    float inputFrequency = 0, inputLevel = 0, inputConstant = 0;
    double phase = 0;
    std::vector<std::vector<float>> in, out;
};

} // namespace corvane::test
