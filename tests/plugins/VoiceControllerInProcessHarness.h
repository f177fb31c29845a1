// The Voice Controller built in-process for the tests: an instance with its
// MIDI events queued as a host hands them, blocks run with an input signal
// and the six outputs kept, and the property and name readers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

namespace vcinprocess {

using ObryCorvaneVoiceController::ObryCorvane;

struct Out {
    std::vector<float> ch[6];
    bool Finite() const
    {
        for (const auto& c : ch)
            for (float v : c)
                if (!std::isfinite(v))
                    return false;
        return true;
    }
    // Samples of output c that start a trigger pulse (rise above `level`).
    int Rises(int c, float level = 0.5f) const
    {
        int rises = 0;
        for (size_t i = 0; i < ch[c].size(); ++i)
            if (ch[c][i] > level && (i == 0 || ch[c][i - 1] <= level))
                ++rises;
        return rises;
    }
};

class Vc {
public:
    explicit Vc(bool instrument = false, float rate = 48000, int32_t block = 512)
        : block(block), plugin(new ObryCorvane(corvane::test::InProcessHost, instrument))
    {
        plugin->setSampleRate(rate);
        plugin->setBlockSize(block);
        plugin->resume();
    }
    ObryCorvane* operator->() const { return plugin.get(); }
    ObryCorvane& operator*() const { return *plugin; }

    void Set(int32_t index, float real) { plugin->SetParameterValue(index, real, false); }
    void Midi(int delta, int status, int data1, int data2)
    {
        events.push_back(corvane::test::ShortMidiEvent(delta, status, data1, data2));
    }
    void Note(int note, int velocity = 100, int delta = 0) { Midi(delta, 0x90, note, velocity); }
    void Off(int note, int delta = 0, int velocity = 0) { Midi(delta, 0x80, note, velocity); }
    void Cc(int controller, int value, int delta = 0) { Midi(delta, 0xB0, controller, value); }
    void Command(uint32_t id) { EXPECT_EQ(plugin->SetProperty(id, 0, 0, nullptr, 0), 0) << id; }

    // Hands the events waiting to the plug-in, as the host does before a block.
    void SendEvents() { corvane::test::SendEvents(*plugin, events); }

    // One processReplacing of `frames` with the input given.
    void Block(float* input, int32_t frames, float** outputs)
    {
        SendEvents();
        float* inputs[1] = {input};
        plugin->processReplacing(inputs, outputs, frames);
    }

    Out Run(int64_t frames, const std::function<float(int64_t)>& input = {})
    {
        Out out;
        std::vector<float> in(static_cast<size_t>(block));
        std::vector<std::vector<float>> buffers(6, std::vector<float>(static_cast<size_t>(block)));
        float* outputs[6];
        for (int c = 0; c < 6; ++c)
            outputs[c] = buffers[static_cast<size_t>(c)].data();
        for (int64_t done = 0; done < frames;) {
            const auto n = static_cast<int32_t>(std::min<int64_t>(block, frames - done));
            for (int32_t i = 0; i < n; ++i)
                in[static_cast<size_t>(i)] = input ? input(done + i) : 0.0f;
            Block(in.data(), n, outputs);
            for (int c = 0; c < 6; ++c)
                out.ch[c].insert(out.ch[c].end(), outputs[c], outputs[c] + n);
            done += n;
        }
        return out;
    }

    int32_t block;

private:
    corvane::test::InProcessPlugin<ObryCorvane> plugin;
    std::vector<VstMidiEvent> events;
};

template <class T>
T Property(ObryCorvane& vc, uint32_t id)
{
    T value{};
    EXPECT_EQ(vc.GetProperty(id, 0, 0, &value), 0) << id;
    return value;
}

inline std::string Name(ObryCorvane& vc)
{
    uint32_t size = 0;
    uint8_t writable = 0;
    EXPECT_EQ(vc.GetPropertyInfo(kObryProperty_CalibrationName, 0, 0, &size, &writable), 0);
    std::vector<char> text(size + 64, 'x');
    EXPECT_EQ(vc.GetProperty(kObryProperty_CalibrationName, 0, 0, text.data()), 0);
    EXPECT_EQ(text[size - 1], 0);
    return std::string(text.data());
}

// A Voice Controller with the Dunmore table, whose values are linear in the
// note: output 1 then reads back the pitch in notes.
inline Vc WithDunmoreTable()
{
    Vc vc;
    vc.Command(kObryProperty_LoadDunmoreCalibration);
    vc.Run(64);
    return vc;
}

inline float Last(const std::vector<float>& v)
{
    return v.back();
}

} // namespace vcinprocess
