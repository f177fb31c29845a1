#include "gui/displays/GraphDisplays.h"

#include <epoxy/gl.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "framework/ObryAuBase.h"
#include "framework/ObryProperties.h"
#include "gui/displays/DisplayMath.h"

namespace QZ {

namespace {

const char* const kFunctionNames[graphs::kFunctionSettingCount] = {"Function", "Input Scale", "Input Offset",
                                                                   "Output Scale", "Output Offset"};
const char* const kWaveNames[graphs::kWaveSettingCount] = {"Offset", "Sine",   "Triangle",    "Square",   "Saw",
                                                           "Random", "Noise", "Pulse Width", "Asymmetry"};

// The Function plug-in's channel groups: "Enable", then the five shown.
constexpr int32_t kFunctionFirst = 2;
constexpr int32_t kFunctionStride = 6;
// The LFO's channel groups: the shown settings start at "Offset".
constexpr int32_t kWaveFirst = 8;
constexpr int32_t kWaveStride = 17;

// Indicator elements.
constexpr int kCalibrationNote = 2, kCalibrationValue = 3;
constexpr int kEnvelopePosition = 4, kEnvelopeLevel = 5; // + 2 id
constexpr int kInputF32 = 12, kOutputF32 = 14;           // + id (Function, LFO phase and output)
constexpr int kPhaseOffsetF64 = 8, kRateF64 = 10;        // + id

bool ChannelInRange(int32_t id, int32_t count, const char* function, std::string& error)
{
    if (id >= 0 && id < count)
        return true;
    error = std::string(function) + " id out of range";
    return false;
}

// A marker at a position given in fractions of the display; none for a
// position that is not a number.
void MarkerAt(const Box& rect, float fx, float fy)
{
    if (std::isnan(fx) || std::isnan(fy))
        return;
    draw::Marker(rect.x0 + (rect.x1 - rect.x0) * Limit(fx, 0.0f, 1.0f, 0.0f),
                 rect.y0 + (rect.y1 - rect.y0) * Limit(fy, 0.0f, 1.0f, 0.0f));
}

} // namespace

// CalibrationDisplay

CalibrationDisplay* CalibrationDisplay::Create(Manager& manager, float x, float y, float w, float h,
                                               std::string& error)
{
    ObryAuBase* plugin = manager.Plugin();
    const void* entries = nullptr;
    uint32_t length = 0;
    if (!plugin || plugin->GetProperty(kObryProperty_CalibrationValues, 0, 0, &entries) != 0 || !entries ||
        plugin->GetProperty(kObryProperty_CalibrationLength, 0, 0, &length) != 0 ||
        length < static_cast<uint32_t>(graphs::kCalibrationPoints)) {
        error = "calibrationDisplay: the plug-in has no calibration table";
        return nullptr;
    }
    return new CalibrationDisplay(&manager, x, y, w, h, static_cast<const float*>(entries));
}

CalibrationDisplay::CalibrationDisplay(Manager* manager, float x, float y, float w, float h, const float* entries)
    : DisplayElement(manager, x, y, w, h), entries(entries)
{
}

void CalibrationDisplay::Draw()
{
    if (!IsVisible() || !entries)
        return;
    // The table is rewritten in place by other threads (a file load, a
    // transfer, auto-calibration), one word at a time.
    float notes[graphs::kCalibrationPoints], values[graphs::kCalibrationPoints];
    for (int32_t i = 0; i < graphs::kCalibrationPoints; ++i) {
        auto* pair = const_cast<float*>(entries + 2 * i);
        notes[i] = std::atomic_ref<float>(pair[0]).load(std::memory_order_relaxed);
        values[i] = std::atomic_ref<float>(pair[1]).load(std::memory_order_relaxed);
    }
    graphs::BuildCalibrationCurve(notes, values, points);

    FillBackground();
    const float middle = (rect.y0 + rect.y1) * 0.5f;
    const float perNote = Width() / static_cast<float>(graphs::kCalibrationPoints);
    draw::SetColour(line.Get());
    {
        draw::ValueSpace space(rect.x0, middle, perNote, Height() * 0.5f);
        draw::SmoothLines smooth;
        draw::LineStrip(points);
    }
    // The note the plug-in plays, 0 .. 128, and its value, -1 .. 1.
    MarkerAt(rect, Indicator<float>(kCalibrationNote, NAN) / 128.0f,
             (Indicator<float>(kCalibrationValue, NAN) + 1.0f) * 0.5f);
}

// ParameterGraphDisplay

ParameterGraphDisplay::ParameterGraphDisplay(Manager* manager, int32_t id, BoundParameters parameters, float x,
                                             float y, float w, float h)
    : DisplayElement(manager, x, y, w, h), id(id), parameters(std::move(parameters))
{
}

bool ParameterGraphDisplay::BindParameters(Manager& manager, int32_t first, int32_t count, const char* const* names,
                                           const char* function, const char* what, BoundParameters& parameters,
                                           std::string& error)
{
    if (parameters.Bind(manager, first, count, names))
        return true;
    error = std::string(function) + ": the plug-in has no " + what;
    return false;
}

void ParameterGraphDisplay::Update()
{
    if (parameters.Read())
        dirty = true;
}

const std::vector<Point>& ParameterGraphDisplay::Curve()
{
    if (dirty) {
        dirty = false;
        BuildCurve(parameters.Values(), points);
    }
    return points;
}

// EnvDisplay

EnvDisplay* EnvDisplay::Create(Manager& manager, int32_t id, float x, float y, float w, float h, std::string& error)
{
    if (!ChannelInRange(id, 3, "envelopeDisplay", error))
        return nullptr;
    ObryAuBase* plugin = manager.Plugin();
    int32_t layout[2] = {0, 0}; // first envelope parameter, parameters per envelope
    if (!plugin || plugin->GetProperty(kObryProperty_EnvelopeLayout, 0, 0, layout) != 0) {
        error = "envelopeDisplay: the plug-in has no envelopes";
        return nullptr;
    }
    // A plug-in with fewer envelopes has other parameters where envelope
    // `id` would be: its times and levels are named as envelopes' are.
    BoundParameters parameters;
    const int64_t first = static_cast<int64_t>(layout[0]) + static_cast<int64_t>(layout[1]) * id;
    if (first < 0 || first > INT32_MAX ||
        !parameters.Bind(manager, static_cast<int32_t>(first), graphs::kEnvelopeValueCount) ||
        !strstr(parameters.Record(0).name, "Time A1") ||
        !strstr(parameters.Record(graphs::kEnvelopeValueCount - 1).name, "Level R1")) {
        error = "envelopeDisplay id out of range";
        return nullptr;
    }
    return new EnvDisplay(&manager, id, std::move(parameters), x, y, w, h);
}

void EnvDisplay::BuildCurve(const float* values, std::vector<Point>& out)
{
    graphs::BuildEnvelope(values, Width(), out);
}

void EnvDisplay::Draw()
{
    if (!IsVisible())
        return;
    const std::vector<Point>& points = Curve();
    FillBackground();
    {
        draw::ValueSpace space(rect.x0, rect.y0, 1.0f, Height());
        draw::SetColour(fill.Get());
        draw::AreaUnder(points);
        draw::SmoothLines smooth;
        draw::SetColour(line.Get());
        draw::LineStrip(points);
    }
    MarkerAt(rect, Indicator<float>(kEnvelopePosition + 2 * id, NAN), Indicator<float>(kEnvelopeLevel + 2 * id, NAN));
}

// FunctionDisplay

FunctionDisplay* FunctionDisplay::Create(Manager& manager, int32_t id, float x, float y, float w, float h,
                                         std::string& error)
{
    BoundParameters parameters;
    if (!ChannelInRange(id, 2, "functionDisplay", error) ||
        !BindParameters(manager, kFunctionFirst + kFunctionStride * id, graphs::kFunctionSettingCount,
                        kFunctionNames, "functionDisplay", "transfer function settings", parameters, error))
        return nullptr;
    return new FunctionDisplay(&manager, id, std::move(parameters), x, y, w, h);
}

void FunctionDisplay::BuildCurve(const float* values, std::vector<Point>& out)
{
    graphs::BuildFunctionCurve(values, Width(), out);
}

void FunctionDisplay::Draw()
{
    if (!IsVisible())
        return;
    const std::vector<Point>& points = Curve();
    FillBackground();
    draw::SetColour(line.Get());
    {
        draw::ValueSpace space(rect.x0, (rect.y0 + rect.y1) * 0.5f, 1.0f, Height() * 0.5f);
        draw::SmoothLines smooth;
        draw::LineStrip(points);
    }
    // The current input and output, each -1 .. 1.
    MarkerAt(rect, (Indicator<float>(kInputF32 + id, NAN) + 1.0f) * 0.5f,
             (Indicator<float>(kOutputF32 + id, NAN) + 1.0f) * 0.5f);
}

// WaveformDisplay

WaveformDisplay* WaveformDisplay::Create(Manager& manager, int32_t id, float x, float y, float w, float h,
                                         std::string& error)
{
    BoundParameters parameters;
    if (!ChannelInRange(id, 2, "waveformDisplay", error) ||
        !BindParameters(manager, kWaveFirst + kWaveStride * id, graphs::kWaveSettingCount, kWaveNames,
                        "waveformDisplay", "LFO waveform settings", parameters, error))
        return nullptr;
    return new WaveformDisplay(&manager, id, std::move(parameters), x, y, w, h);
}

void WaveformDisplay::BuildCurve(const float* values, std::vector<Point>& out)
{
    graphs::BuildWaveform(values, Width(), out);
}

void WaveformDisplay::Draw()
{
    if (!IsVisible())
        return;
    const std::vector<Point>& points = Curve();
    const float phase = Indicator<float>(kInputF32 + id, NAN);
    const bool flash = graphs::WaveformFlashes(Indicator<double>(kPhaseOffsetF64 + id, NAN), phase,
                                               Indicator<double>(kRateF64 + id, NAN));
    if (flash) {
        const Colour plain = background.Get();
        draw::SetColour(Colour{plain.r * 2.0f, plain.g * 2.5f, plain.b * 2.0f, 1.0f});
        draw::FillBox(rect.x0, rect.y0, rect.x1, rect.y1);
    } else {
        FillBackground();
    }
    const Colour curve = line.Get();
    draw::SetColour(curve);
    {
        draw::ValueSpace space(rect.x0, (rect.y0 + rect.y1) * 0.5f, 1.0f, Height() * 0.5f);
        draw::SmoothLines smooth;
        draw::LineStrip(points);
    }
    draw::SetColour(flash ? Colour{0.3f, 1.0f, 0.5f, 1.0f} : curve);
    MarkerAt(rect, phase, (Indicator<float>(kOutputF32 + id, NAN) + 1.0f) * 0.5f);
}

} // namespace QZ
