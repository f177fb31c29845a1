#include "gui/displays/FollowerDisplays.h"

#include <cmath>

namespace QZ {

namespace {

// Indicator f32 elements the Follower writes.
constexpr int kFrequency = 28, kLevel = 29, kEnvelope = 30;

} // namespace

// FollowerTraceDisplay

FollowerTraceDisplay::FollowerTraceDisplay(Manager* manager, float x, float y, float w, float h)
    : DisplayElement(manager, x, y, w, h), trace(w)
{
}

bool FollowerTraceDisplay::CanShow(Manager& manager, const char* function, std::string& error)
{
    if (manager.IndicatorBlock())
        return true;
    error = std::string(function) + ": the plug-in has no indicator block";
    return false;
}

const std::vector<Point>& FollowerTraceDisplay::Points(const graphs::TraceHistory& history,
                                                       std::vector<Point>& points) const
{
    points.resize(static_cast<size_t>(history.Size()));
    for (int32_t i = 0; i < history.Size(); ++i)
        points[static_cast<size_t>(i)] = Point{static_cast<float>(i), history.At(i)};
    return points;
}

void FollowerTraceDisplay::Draw()
{
    if (!IsVisible())
        return;
    FillBackground();
    draw::ValueSpace space(rect.x0, rect.y0, 1.0f, Height());
    draw::SmoothLines smooth;
    const std::vector<Point>& points = Points(trace, tracePoints);
    draw::SetColour(fill.Get());
    draw::AreaUnder(points);
    draw::SetColour(line.Get());
    draw::LineStrip(points);
    DrawOver();
}

// FollowerEnvDisplay

FollowerEnvDisplay* FollowerEnvDisplay::Create(Manager& manager, float x, float y, float w, float h,
                                               std::string& error)
{
    return CanShow(manager, "followerEnvDisplay", error) ? new FollowerEnvDisplay(&manager, x, y, w, h) : nullptr;
}

FollowerEnvDisplay::FollowerEnvDisplay(Manager* manager, float x, float y, float w, float h)
    : FollowerTraceDisplay(manager, x, y, w, h), peak(static_cast<float>(trace.Size() - 1))
{
}

void FollowerEnvDisplay::Update()
{
    trace.Push(graphs::LevelTraceValue(Indicator<float>(kEnvelope, 0.0f)));
    peak.Push(graphs::LevelTraceValue(Indicator<float>(kLevel, 0.0f)));
}

void FollowerEnvDisplay::DrawOver()
{
    draw::SetColour(peakLine.Get());
    draw::LineStrip(Points(peak, peakPoints));
}

// FollowerPitchDisplay

FollowerPitchDisplay* FollowerPitchDisplay::Create(Manager& manager, float x, float y, float w, float h,
                                                   std::string& error)
{
    return CanShow(manager, "followerPitchDisplay", error) ? new FollowerPitchDisplay(&manager, x, y, w, h)
                                                           : nullptr;
}

FollowerPitchDisplay::FollowerPitchDisplay(Manager* manager, float x, float y, float w, float h)
    : FollowerTraceDisplay(manager, x, y, w, h)
{
}

void FollowerPitchDisplay::Update()
{
    trace.Push(graphs::PitchTraceValue(Indicator<float>(kFrequency, 0.0f)));
}

} // namespace QZ
