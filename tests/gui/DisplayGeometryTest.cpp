// The displays' geometry and texts as pure functions: the step editor's
// shown range, time warp, curve, bars, grid, marker and pointer picks; the
// waveform, transfer, envelope and trace curves; note names, the Follower's
// lines, the Quantizer's key and the info entries. Bad values (NaN, infinite,
// out of range) are part of every table.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "gui/displays/DisplayText.h"
#include "gui/displays/GraphGeometry.h"
#include "gui/displays/StepEditorGeometry.h"

namespace se = QZ::stepeditor;
namespace graphs = QZ::graphs;
namespace text = QZ::displaytext;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Default Step LFO settings with some replaced.
struct Settings {
    float v[se::kSettingCount] = {0, 1, 0, 1, 0, 1, 16, 16, 0};
    Settings& Set(se::Setting s, float value)
    {
        v[s] = value;
        return *this;
    }
};

bool AllFinite(const std::vector<QZ::Point>& points)
{
    for (const QZ::Point& p : points)
        if (!std::isfinite(p.x) || !std::isfinite(p.y))
            return false;
    return true;
}

TEST(StepEditorGeometry, ShownRangeFollowsStartLengthAndEnd)
{
    struct Case {
        float start, lengthMode, length, end;
        int first, count;
    } cases[] = {
        {90, 0, 16, 16, 89, 7},  // capped at step 96
        {1, 0, 16, 16, 0, 16},
        {5, 1, 16, 12, 4, 8},    // by end
        {10, 1, 16, 5, 9, 1},    // end below start: one step
        {1, 1, 16, 96, 0, 96},
        {3, 0, 0, 16, 2, 1},     // no length
        {0, 0, 4, 16, 0, 4},     // start below the table
        {200, 0, 16, 16, 95, 1}, // start beyond it
        {kNaN, 0, 4, 16, 0, 4},
        {4, 0, kNaN, 16, 3, 1},
        {4, 1, 16, kInf, 3, 93},
        {-kInf, 0, kInf, 16, 0, 96},
        {2.9f, 0, 3.9f, 16, 1, 3}, // settings are truncated
    };
    for (const Case& c : cases) {
        Settings s;
        s.Set(se::kStartStep, c.start).Set(se::kLengthMode, c.lengthMode).Set(se::kLengthInSteps, c.length);
        s.Set(se::kEndStep, c.end);
        const se::StepView view = se::ViewOf(s.v);
        EXPECT_EQ(view.first, c.first) << c.start << " " << c.length << " " << c.end;
        EXPECT_EQ(view.count, c.count) << c.start << " " << c.length << " " << c.end;
    }
}

TEST(StepEditorGeometry, TimeWarpMovesTheMiddleOfTheCycle)
{
    struct Case {
        float asymmetry, t, x;
    } cases[] = {
        {0, 0.25f, 0.25f},   {0, 0.5f, 0.5f},      {0, 1, 1},
        {100, 0.5f, 1},      {100, 0.25f, 0.5f},   {100, 0.9f, 1}, // second half squeezed into the right edge
        {-100, 0.5f, 0},     {-100, 0.25f, 0},     {-100, 0.75f, 0.5f},
        {50, 0.5f, 0.75f},   {-50, 0.5f, 0.25f},   {50, 1, 1},
        {kNaN, 0.3f, 0.3f},  {400, 0.5f, 1},       {-400, 0.5f, 0}, // beyond the range: as at its ends
    };
    for (const Case& c : cases)
        EXPECT_NEAR(se::TimeWarp(c.asymmetry)(c.t), c.x, 1e-6f) << c.asymmetry << " " << c.t;
}

TEST(StepEditorGeometry, CurveIsAClosedLoopWhenLinearAndAStaircaseWhenHeld)
{
    float steps[se::kStepCount] = {};
    const float values[4] = {0.5f, -0.5f, 1.0f, 0.25f};
    for (int i = 0; i < 4; ++i)
        steps[i] = values[i];
    for (bool linear : {true, false}) {
        Settings s;
        s.Set(se::kLengthInSteps, 4).Set(se::kInterpolation, linear ? 1.0f : 0.0f);
        se::StepGeometry g;
        se::BuildStepGeometry(steps, s.v, 400, g);
        SCOPED_TRACE(linear ? "linear" : "held");
        ASSERT_EQ(g.curve.size(), linear ? 5u : 8u);
        EXPECT_FLOAT_EQ(g.curve.back().x, 400);
        if (linear) {
            for (int i = 0; i < 4; ++i) {
                EXPECT_FLOAT_EQ(g.curve[i].x, 100.0f * i);
                EXPECT_FLOAT_EQ(g.curve[i].y, values[i]);
            }
            EXPECT_FLOAT_EQ(g.curve.back().y, values[0]); // back to the start
        } else {
            // Every segment is horizontal or vertical; the last step is held.
            for (size_t i = 1; i < g.curve.size(); ++i)
                EXPECT_TRUE(g.curve[i].x == g.curve[i - 1].x || g.curve[i].y == g.curve[i - 1].y) << i;
            EXPECT_FLOAT_EQ(g.curve.back().y, values[3]);
            EXPECT_FLOAT_EQ(g.curve[g.curve.size() - 2].y, values[3]);
        }
    }
}

TEST(StepEditorGeometry, CurveAndBarsStayInsideTheRange)
{
    struct Case {
        float step, offset, multiplier, rangeMode;
        float curveY, barTop;
    } cases[] = {
        {0.5f, 0, 1, 1, 0.5f, 0.5f},     {0.5f, 0.25f, 2, 1, 1, 0.5f}, // curve limited to 1
        {-0.5f, 0, 1, 1, -0.5f, -0.5f},  {-0.5f, 0, 1, 0, 0, 0},        // unipolar floor 0
        {0.5f, 0, -1, 1, -0.5f, 0.5f},   {0.2f, -0.5f, 1, 0, 0, 0.2f},
        {5, 0, 1, 1, 1, 1},              {kNaN, 0.25f, 1, 1, 0.25f, 0}, // a step that is not a number plays 0
        {0.5f, kNaN, kNaN, 1, 0.5f, 0.5f}, {-kInf, 0.5f, 1, 1, 0.5f, 0},
    };
    for (const Case& c : cases) {
        float steps[se::kStepCount] = {};
        steps[0] = c.step;
        Settings s;
        s.Set(se::kLengthInSteps, 1).Set(se::kOffset, c.offset).Set(se::kMultiplier, c.multiplier);
        s.Set(se::kRangeMode, c.rangeMode);
        se::StepGeometry g;
        se::BuildStepGeometry(steps, s.v, 100, g);
        ASSERT_EQ(g.bars.size(), 4u);
        EXPECT_FLOAT_EQ(g.curve[0].y, c.curveY) << c.step << " " << c.offset << " " << c.multiplier;
        EXPECT_FLOAT_EQ(g.bars[0].y, c.barTop) << c.step;
        EXPECT_FLOAT_EQ(g.bars[1].y, 0.0f);
        EXPECT_TRUE(AllFinite(g.curve) && AllFinite(g.bars));
    }
}

TEST(StepEditorGeometry, BarsUseTheUnwarpedAxisWhileTheCurveIsWarped)
{
    float steps[se::kStepCount] = {};
    Settings s;
    s.Set(se::kLengthInSteps, 4).Set(se::kAsymmetry, 100).Set(se::kInterpolation, 1);
    se::StepGeometry g;
    se::BuildStepGeometry(steps, s.v, 400, g);
    EXPECT_FLOAT_EQ(g.bars[8].x, 200); // third bar starts half-way
    EXPECT_FLOAT_EQ(g.curve[2].x, 400); // the third step is the middle of the cycle: the right edge
    EXPECT_FLOAT_EQ(g.curve[1].x, 200);
}

TEST(StepEditorGeometry, GridColoursMarkBeatsAndBars)
{
    const uint8_t bar[4] = {96, 32, 32, 255}, third[4] = {32, 64, 32, 255}, step[4] = {48, 48, 48, 255};
    float steps[se::kStepCount] = {};
    Settings s;
    s.Set(se::kStartStep, 2).Set(se::kLengthInSteps, 12); // steps 2..13
    se::StepGeometry g;
    se::BuildStepGeometry(steps, s.v, 120, g);
    ASSERT_EQ(g.grid.size(), 2u * 11 + 2); // 11 boundaries and the zero line
    struct Case {
        int line; // boundary k: right of step number 1 + k
        const uint8_t* colour;
    } cases[] = {{1, step}, {2, third}, {3, bar}, {5, third}, {7, bar}, {8, third}, {11, bar}};
    for (const Case& c : cases) {
        const se::GridVertex& v = g.grid[2 * (c.line - 1)];
        EXPECT_EQ(std::vector<uint8_t>(v.rgba, v.rgba + 4), std::vector<uint8_t>(c.colour, c.colour + 4)) << c.line;
        EXPECT_FLOAT_EQ(v.x, 10.0f * c.line);
        EXPECT_FLOAT_EQ(v.y, -1.0f);
        EXPECT_FLOAT_EQ(g.grid[2 * (c.line - 1) + 1].y, 1.0f);
    }
    EXPECT_FLOAT_EQ(g.grid.back().x, 120);
    EXPECT_FLOAT_EQ(g.grid.back().y, 0);
}

TEST(StepEditorGeometry, MarkerFollowsTheStepPositionInsideTheShownSteps)
{
    se::StepView held{4, 8, true, false};
    se::StepView linear{4, 8, true, true};
    struct Case {
        se::StepView view;
        float position;
        bool shown;
        float left, right;
    } cases[] = {
        {held, 4, true, 0, 20},      {held, 7, true, 60, 80},   {held, 11, true, 140, 160},
        {held, 3, false, 0, 0},      {held, 12, false, 0, 0},   {held, kNaN, false, 0, 0},
        {held, kInf, false, 0, 0},   {linear, 5.5f, true, 28, 32}, {linear, 4, true, 0, 2}, // kept inside
    };
    for (const Case& c : cases) {
        float left = -1, right = -1;
        EXPECT_EQ(se::MarkerSpan(c.position, c.view, 160, left, right), c.shown) << c.position;
        if (c.shown) {
            EXPECT_FLOAT_EQ(left, c.left) << c.position;
            EXPECT_FLOAT_EQ(right, c.right) << c.position;
        }
    }
}

TEST(StepEditorGeometry, PointerPicksStepAndValueOverTheWholeBox)
{
    const QZ::Box box{10, 20, 0, 170, 120, 0};
    const se::StepView bipolar{8, 16, true, false};
    const se::StepView unipolar{8, 16, false, false};
    struct Case {
        se::StepView view;
        QZ::Point point;
        int step;
        float value;
    } cases[] = {
        {bipolar, {10, 20}, 8, -1},       {unipolar, {10, 20}, 8, 0},     // bottom edge
        {bipolar, {170, 120}, 23, 1},     {unipolar, {170, 120}, 23, 1},  // top right corner: the last step
        {bipolar, {95, 70}, 16, 0},       {unipolar, {95, 70}, 16, 0.5f},
        {bipolar, {-500, -500}, 8, -1},   {bipolar, {900, 900}, 23, 1},   // a drag beyond the box
        {bipolar, {kNaN, kNaN}, 8, -1},
    };
    for (const Case& c : cases) {
        const se::StepPick pick = se::PickStep(c.point, box, c.view);
        EXPECT_EQ(pick.step, c.step) << c.point.x << "," << c.point.y;
        EXPECT_FLOAT_EQ(pick.value, c.value) << c.point.x << "," << c.point.y;
    }
    // An empty box picks the first step at the bottom.
    const se::StepPick flat = se::PickStep({5, 5}, QZ::Box{5, 5, 0, 5, 5, 0}, bipolar);
    EXPECT_EQ(flat.step, 8);
    EXPECT_FLOAT_EQ(flat.value, -1);
}

TEST(StepEditorGeometry, DragSpansCoverEveryStepBetweenTwoEvents)
{
    struct Case {
        int last, now, from, to;
    } cases[] = {{3, 3, 3, 3}, {3, 9, 3, 9}, {9, 3, 3, 8}, {0, 95, 0, 95}};
    for (const Case& c : cases) {
        const se::StepSpan span = se::DragSpan(c.last, c.now);
        EXPECT_EQ(span.from, c.from) << c.last << "->" << c.now;
        EXPECT_EQ(span.to, c.to) << c.last << "->" << c.now;
    }
}

TEST(GraphGeometry, WaveformDrawsOneCycleOfTheMixedShapes)
{
    using W = graphs::WaveSetting;
    struct Case {
        const char* name;
        std::vector<std::pair<W, float>> settings;
        float t, value;
    } cases[] = {
        {"square 25%", {{graphs::kWaveSquare, 1}, {graphs::kWavePulseWidth, 25}}, 0.0f, 1},
        {"square 25%", {{graphs::kWaveSquare, 1}, {graphs::kWavePulseWidth, 25}}, 0.24f, 1},
        {"square 25%", {{graphs::kWaveSquare, 1}, {graphs::kWavePulseWidth, 25}}, 0.26f, -1},
        {"square 25%", {{graphs::kWaveSquare, 1}, {graphs::kWavePulseWidth, 25}}, 0.99f, -1},
        {"sine", {{graphs::kWaveSine, 1}}, 0.25f, 1},
        {"sine", {{graphs::kWaveSine, 1}}, 0.75f, -1},
        {"triangle", {{graphs::kWaveTriangle, 1}}, 0.0f, -1},
        {"triangle", {{graphs::kWaveTriangle, 1}}, 0.5f, 1},
        {"saw", {{graphs::kWaveSaw, 0.5f}}, 0.0f, -0.5f},
        {"saw + offset", {{graphs::kWaveSaw, 1}, {graphs::kWaveOffset, 0.5f}}, 0.9f, 1}, // limited
        {"random, noise not drawn", {{graphs::kWaveRandom, 1}, {graphs::kWaveNoise, 1}}, 0.3f, 0},
        {"asymmetry 50: the middle at 3/4", {{graphs::kWaveTriangle, 1}, {graphs::kWaveAsymmetry, 50}}, 0.75f, 1},
        {"NaN amounts draw nothing", {{graphs::kWaveSine, kNaN}, {graphs::kWaveOffset, kInf}}, 0.25f, 0},
    };
    for (const Case& c : cases) {
        float settings[graphs::kWaveSettingCount] = {0, 0, 0, 0, 0, 0, 0, 50, 0};
        for (auto [s, v] : c.settings)
            settings[s] = v;
        std::vector<QZ::Point> points;
        graphs::BuildWaveform(settings, 400, points);
        ASSERT_EQ(points.size(), 400u) << c.name;
        const auto i = static_cast<size_t>(c.t * 400);
        EXPECT_FLOAT_EQ(points[i].x, static_cast<float>(i)) << c.name;
        EXPECT_NEAR(points[i].y, c.value, 1e-5f) << c.name << " at " << c.t;
    }
}

TEST(GraphGeometry, CurvesNarrowerThanAPixelAreNotDrawn)
{
    const float wave[graphs::kWaveSettingCount] = {0, 1, 0, 0, 0, 0, 0, 50, 0};
    const float function[graphs::kFunctionSettingCount] = {0, 1, 0, 1, 0};
    for (float width : {0.5f, 0.0f, -10.0f, kNaN, kInf}) {
        std::vector<QZ::Point> points{{1, 1}};
        graphs::BuildWaveform(wave, width, points);
        EXPECT_EQ(points.size(), std::isinf(width) ? 16384u : 0u) << width;
        graphs::BuildFunctionCurve(function, width, points);
        EXPECT_EQ(points.size(), std::isinf(width) ? 8193u : 0u) << width;
    }
}

TEST(GraphGeometry, FunctionCurveFollowsTheTransferOfItsType)
{
    struct Case {
        float type, scale, offset, u, y;
    } cases[] = {
        {0, 1, 0, -1, -1},        {0, 0.5f, 0.25f, 1, 0.75f},
        {1, 1, 0, -1, 0},         {1, 1, 0, 0, 0},            {1, 1, 0, 1e-11f, 0}, // log up to 1e-10 draws 0
        {1, 1, 0, 0.5f, 0},       {1, 1, 0, 1, 1},            {1, 1, 0, 0.25f, -1},
        {2, 1, 0, 1, 1},          {2, 1, 0, -1, 0.25f},       {3, 1, 0, -0.5f, 0.5f},
        {3, -1, 0, -1, -1},       {0, 2, 0, 0.75f, 1},        // limited to -1 .. 1
        {7, 1, 0, 0.5f, 0.5f},    {kNaN, 1, 0, 0.5f, 0.5f},   // unknown types are linear
        {0, kNaN, kNaN, 0.5f, 0.5f},
    };
    for (const Case& c : cases) {
        const float settings[graphs::kFunctionSettingCount] = {c.type, 1, 0, c.scale, c.offset};
        std::vector<QZ::Point> points;
        graphs::BuildFunctionCurve(settings, 400, points); // 201 points, u steps of 0.01
        ASSERT_EQ(points.size(), 201u);
        const auto i = static_cast<size_t>(std::lround((c.u + 1) * 100));
        EXPECT_FLOAT_EQ(points[i].x, 2.0f * i);
        if (c.u == 1e-11f)
            EXPECT_FLOAT_EQ(graphs::Transfer(c.type, c.u), 0.0f);
        else
            EXPECT_NEAR(points[i].y, c.y, 1e-5f) << c.type << " at " << c.u;
    }
}

TEST(GraphGeometry, EnvelopeSegmentsFollowTheirCurveFactor)
{
    struct Case {
        const char* name;
        float y0, target, c, u, level;
    } cases[] = {
        {"straight rising", 0, 1, 1, 0.5f, 0.5f},
        {"straight falling", 1, 0.5f, 1, 0.5f, 0.75f},
        {"0 starts flat rising", 0, 1, 0, 0.1f, 0.01f},
        {"0 starts steep falling", 1, 0, 0, 0.1f, 1 - 0.19f},
        {"2 starts flat falling", 1, 0, 2, 0.1f, 0.99f},
        {"2 starts steep rising", 0, 1, 2, 0.1f, 0.19f},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(graphs::EnvelopeSegmentLevel(c.y0, c.target, c.c, c.u), c.level, 1e-6f) << c.name;
        EXPECT_NEAR(graphs::EnvelopeSegmentLevel(c.y0, c.target, c.c, 1), c.target, 1e-6f) << c.name;
    }
}

TEST(GraphGeometry, EnvelopeShapeSpansTheWidth)
{
    struct Case {
        const char* name;
        float times[5];
        float endLevel;
        float sustainFrom, sustainTo; // x of the sustain hold
    } cases[] = {
        {"five segments", {1, 1, 1, 1, 1}, 0, 300, 400},
        {"fifth time -1: four segments", {1, 1, 1, 1, -1}, 0.25f, 360, 480},
        {"all times 0: the hold takes the width", {0, 0, 0, 0, 0}, 0, 0, 600},
        {"bad times count as 0", {kNaN, -5, kInf, 0, 0}, 0, 0, 600},
    };
    for (const Case& c : cases) {
        float values[graphs::kEnvelopeValueCount] = {};
        for (int i = 0; i < 5; ++i)
            values[i] = c.times[i];
        for (int i = 5; i < 10; ++i)
            values[i] = 1; // straight
        const float levels[4] = {1, 0.5f, 0.75f, 0.25f};
        for (int i = 0; i < 4; ++i)
            values[10 + i] = levels[i];
        std::vector<QZ::Point> points;
        graphs::BuildEnvelope(values, 600, points);
        SCOPED_TRACE(c.name);
        ASSERT_GE(points.size(), 2u);
        EXPECT_TRUE(AllFinite(points));
        EXPECT_FLOAT_EQ(points.front().x, 0);
        EXPECT_FLOAT_EQ(points.front().y, 0);
        EXPECT_NEAR(points.back().x, 600, 1e-3f);
        EXPECT_FLOAT_EQ(points.back().y, c.endLevel);
        // The hold: two consecutive points at the sustain level.
        bool found = false;
        for (size_t i = 1; i < points.size(); ++i)
            if (std::fabs(points[i - 1].x - c.sustainFrom) < 1e-3f && std::fabs(points[i].x - c.sustainTo) < 1e-3f &&
                points[i - 1].y == 0.75f && points[i].y == 0.75f)
                found = true;
        EXPECT_TRUE(found);
        for (size_t i = 1; i < points.size(); ++i)
            EXPECT_GE(points[i].x, points[i - 1].x) << i;
    }
}

TEST(GraphGeometry, TracesAndCalibrationPointsStayInRange)
{
    struct Case {
        float value, pitch, level;
    } cases[] = {
        {0, 0, 0},       {-3, 0, 0},      {kNaN, 0, 0},   {50, 0, 1},  {30, 0, 1},
        {500, 0.5f, 1},  {5000, 1, 1},    {1e6f, 1, 1},   {kInf, 1, 1}, {0.5f, 0, 0.5f},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(graphs::PitchTraceValue(c.value), c.pitch, 1e-5f) << c.value;
        EXPECT_FLOAT_EQ(graphs::LevelTraceValue(c.value), c.level) << c.value;
    }

    float notes[graphs::kCalibrationPoints], values[graphs::kCalibrationPoints];
    for (int i = 0; i < graphs::kCalibrationPoints; ++i) {
        notes[i] = static_cast<float>(i);
        values[i] = i / 127.0f;
    }
    notes[3] = kNaN;
    notes[4] = 1e9f;
    values[5] = kNaN;
    values[6] = -4;
    std::vector<QZ::Point> points;
    graphs::BuildCalibrationCurve(notes, values, points);
    ASSERT_EQ(points.size(), 128u);
    EXPECT_FLOAT_EQ(points[3].x, 3);
    EXPECT_FLOAT_EQ(points[4].x, 128);
    EXPECT_FLOAT_EQ(points[5].y, 0);
    EXPECT_FLOAT_EQ(points[6].y, -1);
    EXPECT_FLOAT_EQ(points[127].y, 1);
}

TEST(GraphGeometry, TraceHistoryKeepsTheNewestAtTheRightEdge)
{
    graphs::TraceHistory history(4);
    ASSERT_EQ(history.Size(), 5);
    for (int i = 1; i <= 7; ++i)
        history.Push(static_cast<float>(i));
    const float expected[5] = {3, 4, 5, 6, 7};
    for (int i = 0; i < 5; ++i)
        EXPECT_FLOAT_EQ(history.At(i), expected[i]) << i;
    graphs::TraceHistory none(0);
    none.Push(1);
    EXPECT_EQ(none.Size(), 0);
}

TEST(DisplayText, FollowerNamesTheNoteWithOctaveAndCents)
{
    struct Case {
        float frequency;
        const char* note;
    } cases[] = {
        {440, "A 4+0"},     {466.2f, "A#4+0"},  {261.63f, "C 4+0"},  {880, "A 5+0"},
        {450, "A 4+39"},    {430, "A 4-40"},    {8.2f, "C -1+5"},    // the lowest note
        {7.5f, ""},         {0, ""},            {-440, ""},          // below it: no note
        {kNaN, ""},         {kInf, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(text::FollowerNoteText(c.frequency), c.note) << c.frequency;
}

TEST(DisplayText, FollowerLinesShowRoundedValues)
{
    struct Case {
        float f, a, b;
        const char* frequency;
        const char* levels;
    } cases[] = {
        {440.04f, 0.5f, -0.25f, " 440.0Hz  A 4+0", " 0.500V  -0.250"},
        {0, 0, 0, "   0.0Hz  ", " 0.000V   0.000"},
        {kNaN, kInf, -kInf, "   0.0Hz  ", " 0.000V   0.000"},
        {99.96f, 0.0004f, 1.2346f, " 100.0Hz  G 2+35", " 0.000V   1.235"},
    };
    for (const Case& c : cases) {
        const text::FollowerLines lines = text::FollowerText(c.f, c.a, c.b);
        EXPECT_EQ(lines.frequency, c.frequency) << c.f;
        EXPECT_EQ(lines.levels, c.levels) << c.a << " " << c.b;
    }
    EXPECT_EQ(text::FollowerRounded(440.04f, 0.5f, 0.25f), text::FollowerRounded(439.96f, 0.5004f, 0.2496f));
    EXPECT_FALSE(text::FollowerRounded(440.04f, 0.5f, 0.25f) == text::FollowerRounded(440.06f, 0.5f, 0.25f));
}

TEST(DisplayText, QuantizerNoteAndKey)
{
    struct Case {
        int note;
        const char* text;
        bool marked;
        int key;
        bool sharp;
    } cases[] = {
        {60, "C 4  60", true, 0, false}, {61, "C#4  61", true, 0, true},  {59, "B 3  59", true, 6, false},
        {69, "A 4  69", true, 5, false}, {66, "F#4  66", true, 3, true},  {0, "C -1  0", true, 0, false},
        {127, "G 9  127", true, 4, false}, {-1, "", false, 0, false},     {-13, "", false, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text::QuantizerText(c.note), c.text) << c.note;
        text::KeyMark mark;
        ASSERT_EQ(text::KeyOf(c.note, mark), c.marked) << c.note;
        if (c.marked) {
            EXPECT_EQ(mark.key, c.key) << c.note;
            EXPECT_EQ(mark.sharp, c.sharp) << c.note;
        }
    }
}

TEST(DisplayText, QuantizerKeyboardMarks)
{
    // Seven keys of 20 pixels from x = 100, the keyboard from y = 50 to 70.
    struct Case {
        int note;
        bool marked, sharp;
        float x0, y0, x1, y1;
    } cases[] = {
        {60, true, false, 100, 50, 119, 60}, // C: the first key, lower half
        {61, true, true, 110, 60, 129, 70},  // C#: half a key to the right, upper half
        {59, true, false, 220, 50, 239, 60}, // B: the seventh key
        {70, true, true, 210, 60, 229, 70},  // A#
        {-1, false, false, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        QZ::Box box;
        bool sharp = false;
        ASSERT_EQ(text::KeyboardMark(c.note, 100, 50, 140, box, sharp), c.marked) << c.note;
        if (!c.marked)
            continue;
        EXPECT_EQ(sharp, c.sharp) << c.note;
        EXPECT_FLOAT_EQ(box.x0, c.x0) << c.note;
        EXPECT_FLOAT_EQ(box.y0, c.y0) << c.note;
        EXPECT_FLOAT_EQ(box.x1, c.x1) << c.note;
        EXPECT_FLOAT_EQ(box.y1, c.y1) << c.note;
    }
}

TEST(DisplayText, InfoEntries)
{
    struct Case {
        int requested, shown;
    } counts[] = {{9, 6}, {6, 6}, {5, 5}, {1, 1}, {0, 0}, {-3, 0}};
    for (const auto& c : counts)
        EXPECT_EQ(text::InfoEntryCount(c.requested), c.shown) << c.requested;
    struct Entry {
        uint8_t byte;
        const char* text;
    } entries[] = {{0, "  0"}, {255, " -1"}, {127, "127"}, {128, "-128"}, {7, "  7"}};
    for (const auto& e : entries)
        EXPECT_EQ(text::InfoEntryText(e.byte), e.text) << int(e.byte);
    EXPECT_EQ(text::ControlChangeLine("Corvane LFO", 1, 2, 0, 7, 100), "Corvane LFO 1 (2) : Ch1 CC7 100");
    EXPECT_EQ(text::ControlChangeLine("Corvane DC", 3, 12, 15, 127, 0), "Corvane DC 3 (12) : Ch16 CC127 0");
    EXPECT_EQ(text::ControlChangeLine("", 0, 0, 1, 64, 1), "Ch2 CC64 1");
}

} // namespace
