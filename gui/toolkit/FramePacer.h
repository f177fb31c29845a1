// When the render thread draws a frame. An editor at rest shows the same
// picture frame after frame, and a software rasteriser pays for every one of
// them in full: after the last change the pacer lets animations settle
// (easing colours, fading tooltips) at the full rate, then draws nothing
// until something changes again. What counts as a change is the manager's
// to say (input, a parameter value, a redraw request, the indicator block
// the displays read, the registry's change count).
//
// render thread only; no allocation.
#pragma once

#include <cstdint>

namespace QZ {

class FramePacer {
public:
    // Passes drawn at the full rate after a change: the slowest easing in
    // the editor (15 % a frame) is within a hundredth of its target by then.
    static constexpr uint32_t kSettlePasses = 45;
    // One render pass (every 33 ms, or on an event): true when it is to draw.
    bool Next(bool changed)
    {
        if (changed)
            quietPasses = 0;
        else if (quietPasses < kSettlePasses)
            ++quietPasses;
        return quietPasses < kSettlePasses;
    }

private:
    uint32_t quietPasses = 0;
};

} // namespace QZ
