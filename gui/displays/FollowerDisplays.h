// The Follower plug-in's displays: scrolling traces of its envelope (with
// the peak level) and of its detected pitch, one sample per frame with the
// newest at the right edge, read from its indicator block (f32 elements 28
// frequency, 29 level, 30 envelope).
//
// Creation (UI thread, while the GUI script builds the editor): Create makes
// nothing and sets `error` (naming the Lua function) when the plug-in has no
// indicator block. A display made belongs to the manager.
//
// Threads: Update and Draw on the render thread; colour setters on the UI
// thread.
#pragma once

#include <string>
#include <vector>

#include "gui/displays/DisplayElement.h"
#include "gui/displays/GraphGeometry.h"

namespace QZ {

// What both traces share: a history as wide as the display, drawn filled.
class FollowerTraceDisplay : public DisplayElement {
public:
    void Draw() override;

protected:
    FollowerTraceDisplay(Manager* manager, float x, float y, float w, float h);
    static bool CanShow(Manager& manager, const char* function, std::string& error);
    // render thread: the trace as points x = 0 .. width, oldest first.
    const std::vector<Point>& Points(const graphs::TraceHistory& history, std::vector<Point>& points) const;
    // Drawn after the filled trace, in the same value space.
    virtual void DrawOver() {}

    graphs::TraceHistory trace;
    std::vector<Point> tracePoints;
};

// The envelope (the line and its fill) and the peak level (a second line).
class FollowerEnvDisplay : public FollowerTraceDisplay {
public:
    // Lua followerEnvDisplay(x, y, w, h).
    static FollowerEnvDisplay* Create(Manager& manager, float x, float y, float w, float h, std::string& error);

    // UI thread, at any time.
    void SetPeakLineColour(const Colour& colour) { peakLine.Set(colour); }

    void Update() override;

private:
    FollowerEnvDisplay(Manager* manager, float x, float y, float w, float h);
    void DrawOver() override;

    SharedColour peakLine{Colour{1, 0, 0, 1}};
    graphs::TraceHistory peak;
    std::vector<Point> peakPoints;
};

// The detected pitch, logarithmic from 50 Hz to 5 kHz.
class FollowerPitchDisplay : public FollowerTraceDisplay {
public:
    // Lua followerPitchDisplay(x, y, w, h).
    static FollowerPitchDisplay* Create(Manager& manager, float x, float y, float w, float h, std::string& error);

    void Update() override;

private:
    FollowerPitchDisplay(Manager* manager, float x, float y, float w, float h);
};

} // namespace QZ
