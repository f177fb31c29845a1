// Value mapping by unit, texts for the host, listeners and the
// reference-counted strings behind them.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>

#include "framework/CFType.h"
#include "framework/ObryAuBase.h"
#include "tests/framework/TestPlugin.h"

using corvane::test::TestPlugin;

namespace {

std::string Display(TestPlugin& plugin, int32_t index, float real)
{
    plugin.CurrentProgram()->SetParameter(index, real);
    char text[64];
    memset(text, 'x', sizeof text);
    plugin.dispatcher(effGetParamDisplay, index, 0, text, 0);
    return text;
}

// A comma-decimal locale when the machine has one (not every machine does).
bool SetCommaLocale()
{
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8", "ru_RU.UTF-8"})
        if (setlocale(LC_ALL, name))
            return true;
    return false;
}

} // namespace

TEST(ParameterMapping, UnitsMapAsTheHostExpects)
{
    const struct {
        uint32_t unit;
        float min, max, normalized, real;
    } cases[] = {
        {kAudioUnitParameterUnit_Hertz, 20, 20000, 0.5f, 632.456f},
        {kAudioUnitParameterUnit_Hertz, 20, 20000, 0.0f, 20.0f},
        {kAudioUnitParameterUnit_Hertz, 20, 20000, 1.0f, 20000.0f},
        {kAudioUnitParameterUnit_Indexed, 0, 3, 0.49f, 1.0f},
        {kAudioUnitParameterUnit_Indexed, 0, 3, 0.5f, 2.0f},
        {kAudioUnitParameterUnit_Beats, 0, 16, 0.52f, 8.0f},
        {kAudioUnitParameterUnit_Generic, -5, 5, 0.25f, -2.5f},
        {kAudioUnitParameterUnit_Milliseconds, -500, 500, 0.5f, 0.0f},
    };
    for (const auto& c : cases) {
        const float real = DenormalizeParameterValue(c.unit, c.min, c.max, c.normalized);
        EXPECT_NEAR(real, c.real, std::fabs(c.real) * 1e-5f + 1e-5f) << c.unit << " " << c.normalized;
    }
    EXPECT_NEAR(NormalizeParameterValue(kAudioUnitParameterUnit_Hertz, 20, 20000, 632.456f), 0.5f, 1e-5f);
    EXPECT_NEAR(NormalizeParameterValue(kAudioUnitParameterUnit_Generic, -5, 5, 0.0f), 0.5f, 1e-7f);
}

TEST(ParameterMapping, NormalisedValuesAreAlwaysFiniteAndInRange)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        uint32_t unit;
        float min, max, real, expected;
    } cases[] = {
        {kAudioUnitParameterUnit_Generic, 2, 2, 2, 0},      // empty range gives 0, not min
        {kAudioUnitParameterUnit_Generic, 0, 1, nan, 0},    //
        {kAudioUnitParameterUnit_Generic, 0, 1, 7, 1},      //
        {kAudioUnitParameterUnit_Generic, 0, 1, -inf, 0},   //
        {kAudioUnitParameterUnit_Hertz, 20, 20000, 0, 0},   // log of 0
        {kAudioUnitParameterUnit_Hertz, 20, 20000, -3, 0},  //
        {kAudioUnitParameterUnit_Hertz, 20, 20000, inf, 1}, //
    };
    for (const auto& c : cases)
        EXPECT_EQ(NormalizeParameterValue(c.unit, c.min, c.max, c.real), c.expected) << c.real;
    // Denormalising a bad host value stays within the range.
    for (float n : {nan, -1.0f, 2.0f, inf}) {
        const float v = DenormalizeParameterValue(kAudioUnitParameterUnit_Hertz, 20, 20000, n);
        EXPECT_TRUE(v >= 20 && v <= 20000) << n;
    }
}

TEST(ParameterTexts, DisplaysNamesAndLabels)
{
    TestPlugin plugin;
    struct Case {
        int32_t index;
        float real;
        const char* text;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {1, 0.25f, "0.250"},       {1, -0.25f, "-0.250"},  {1, 99.5f, "99.50"},   {5, 9.5f, "9.500"},
        {1, 1000.0f, "1000"},      {1, -5.0f, "-5.000"},   {1, -500.0f, "-500.0"}, {4, 1.0f, "On"},
        {4, 0.0f, "Off"},          {3, 2.0f, "2"},         {1, nan, "-5.000"},     {10, 120.0f, "120.0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Display(plugin, c.index, c.real), c.text) << c.index << " " << c.real;

    // Huge magnitudes stay inside the host's text.
    const std::string big = Display(plugin, 9, 3e38f);
    EXPECT_LT(big.size(), 24u);
    EXPECT_FALSE(big.empty());

    char text[64];
    plugin.dispatcher(effGetParamName, 6, 0, text, 0);
    EXPECT_STREQ(text, "A Very Long Par");
    const std::pair<int32_t, const char*> labels[] = {{2, "Hz"}, {6, "%"}, {7, "beats"}, {8, "ms"},
                                                      {10, "BPM"}, {11, "L/R"}, {12, ""}, {1, ""}};
    for (const auto& [index, label] : labels) {
        plugin.dispatcher(effGetParamLabel, index, 0, text, 0);
        EXPECT_STREQ(text, label) << index;
    }
}

TEST(ParameterTexts, NumbersIgnoreTheHostsLocale)
{
    if (!SetCommaLocale())
        GTEST_SKIP() << "no comma-decimal locale on this machine";
    TestPlugin plugin;
    EXPECT_EQ(Display(plugin, 1, 0.25f), "0.250");
    EXPECT_EQ(Display(plugin, 1, -0.25f), "-0.250");
    EXPECT_EQ(Display(plugin, 1, 99.5f), "99.50");
    setlocale(LC_ALL, "C");
}

TEST(ParameterTexts, ProgramNamesAreBoundedForTheHost)
{
    TestPlugin plugin;
    char longName[] = "A program name that is much longer than any host buffer";
    plugin.dispatcher(effSetProgramName, 0, 0, longName, 0);
    char text[64];
    memset(text, 'x', sizeof text);
    plugin.dispatcher(effGetProgramName, 0, 0, text, 0);
    EXPECT_LT(strlen(text), 24u);
    memset(text, 'x', sizeof text);
    EXPECT_EQ(plugin.dispatcher(effGetProgramNameIndexed, 1, 0, text, 0), 1);
    EXPECT_STREQ(text, "Second");
}

namespace {
int gListenerCalls = 0;
void CountingListener(void*, ObryAuBase*, uint32_t, uint32_t, uint32_t)
{
    ++gListenerCalls;
}
} // namespace

TEST(Properties, ListenersAndResultCodes)
{
    TestPlugin plugin;
    plugin.AddPropertyListener(64008, CountingListener, nullptr);
    plugin.AddPropertyListener(64008, CountingListener, &plugin);
    gListenerCalls = 0;
    uint8_t one = 1;
    EXPECT_EQ(plugin.SetPropertyAndNotify(64008, &one, 1), 0);
    EXPECT_EQ(gListenerCalls, 2);
    plugin.RemovePropertyListener(64008, CountingListener);
    gListenerCalls = 0;
    plugin.SetPropertyAndNotify(64008, &one, 1);
    EXPECT_EQ(gListenerCalls, 0);
    EXPECT_EQ(plugin.SetPropertyAndNotify(64001, &one, 1), kAudioUnitErr_InvalidProperty);

    // Property 33 hands out nothing for a plug-in without value texts.
    AudioUnitParameterStringFromValue request{1, nullptr, nullptr};
    EXPECT_EQ(plugin.GetProperty(33, 0, 0, &request), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(request.outString, nullptr);
}

TEST(Properties, SetParameterValueTellsTheHostNormalisedValues)
{
    TestPlugin plugin;
    corvane::test::AutomateLog().clear();
    plugin.SetParameterValue(2, 632.456f, true);
    plugin.SetParameterValue(1, 1e9f, true);
    plugin.SetParameterValue(1, std::numeric_limits<float>::quiet_NaN(), true);
    plugin.SetParameterValue(5, 2.0f, false);
    ASSERT_EQ(corvane::test::AutomateLog().size(), 3u);
    EXPECT_NEAR(corvane::test::AutomateLog()[0].value, 0.5f, 1e-5f);
    for (const auto& record : corvane::test::AutomateLog())
        EXPECT_TRUE(record.value >= 0.0f && record.value <= 1.0f);
    EXPECT_FLOAT_EQ(plugin.GetParameterReal(5), 2.0f);
}

namespace {
int gDeleted = 0;
struct TrackedString : CFString {
    using CFString::CFString;
    ~TrackedString() override { ++gDeleted; }
};
struct TrackedArray : CFArray {
    ~TrackedArray() override { ++gDeleted; }
};
} // namespace

TEST(ReferenceCounting, ArraysOwnTheirStringsAndSharedOnesSurviveReceivers)
{
    gDeleted = 0;
    auto* array = new TrackedArray;
    array->Retain();
    for (int i = 0; i < 3; ++i) {
        auto* s = new TrackedString("x");
        s->Retain();
        array->Append(s);
    }
    array->Release();
    EXPECT_EQ(gDeleted, 4);

    const char* texts[] = {"a", "b", "c"};
    CFArray* copies = CFArrayCreateFromStrings(texts, 3);
    EXPECT_EQ(copies->RetainCount(), 1u);
    EXPECT_STREQ(static_cast<CFString*>(copies->At(2))->CString(), "c");
    EXPECT_EQ(copies->At(3), nullptr);
    copies->Release();

    static const char kLiteral[] = "Defaults-test";
    CFString* a = CFStringMakeConstant(kLiteral);
    CFString* b = CFStringMakeConstant(kLiteral);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->RetainCount(), 1u);
    // A receiver of a shared string gets its own reference and gives it back.
    a->Retain();
    a->Release();
    EXPECT_EQ(a->RetainCount(), 1u);

    gDeleted = 0;
    auto* s = new TrackedString("y");
    s->Retain();
    s->Retain();
    s->Release();
    EXPECT_EQ(gDeleted, 0);
    s->Release();
    EXPECT_EQ(gDeleted, 1);
}
