#include "platform/NumberText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

using corvane::platform::FormatFixed;
using corvane::platform::FormatGeneral;
using corvane::platform::ParseDouble;
using corvane::platform::ParseInt;

namespace {

// Switches LC_NUMERIC to a locale that hosts may set (a comma-decimal one
// when installed) for the lifetime of the object.
class HostLocale {
public:
    HostLocale()
    {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "C.UTF-8", "C.utf8"}) {
            if (setlocale(LC_NUMERIC, name)) {
                active = name;
                return;
            }
        }
    }
    ~HostLocale() { setlocale(LC_NUMERIC, "C"); }
    const char* Name() const { return active; }

private:
    const char* active = nullptr;
};

std::string Fixed(double value, int decimals, size_t size = 64)
{
    char text[512];
    size_t n = FormatFixed(text, size, value, decimals);
    EXPECT_EQ(n, std::string(text).size());
    return text;
}

} // namespace

TEST(NumberText, FixedMatchesPrintfInTheCLocaleWhateverTheHostSet)
{
    // Expected texts from printf while the locale is still "C".
    std::mt19937_64 random(12345);
    std::uniform_real_distribution<double> magnitude(-12.0, 12.0);
    struct Case {
        double value;
        int decimals;
        std::string expected;
    };
    std::vector<Case> cases;
    auto add = [&](double value, int decimals) {
        char text[512];
        snprintf(text, sizeof text, "%.*f", decimals, value);
        cases.push_back({value, decimals, text});
    };
    for (double v : {0.25, -0.0, 1.005, 2.5, 0.5, -1.5, 1e21, 123456.789, -0.0004, 1e-300,
                     std::numeric_limits<double>::max(), std::nan(""), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity()})
        for (int decimals : {-1, 0, 1, 2, 3, 6, 17})
            add(v, decimals);
    for (int i = 0; i < 2000; ++i) {
        double v = std::pow(10.0, magnitude(random)) * (i % 2 ? -1.0 : 1.0);
        add(v, static_cast<int>(i % 9));
    }

    HostLocale locale;
    if (!locale.Name())
        GTEST_SKIP() << "no locale besides C is installed";
    char probe[32];
    snprintf(probe, sizeof probe, "%.3f", 0.25);
    SCOPED_TRACE(std::string("locale ") + locale.Name() + ", printf gives " + probe);
    for (const Case& c : cases)
        ASSERT_EQ(Fixed(c.value, c.decimals, 512), c.expected) << c.value << " with " << c.decimals;

    char text[64];
    FormatGeneral(text, sizeof text, 0.000125, 6);
    EXPECT_STREQ(text, "0.000125");
    FormatGeneral(text, sizeof text, 1234567.0, 3);
    EXPECT_STREQ(text, "1.23e+06");

    double parsed = 0.0;
    EXPECT_TRUE(ParseDouble("0.25", parsed));
    EXPECT_EQ(parsed, 0.25);
    EXPECT_FALSE(ParseDouble("0,25", parsed));
}

TEST(NumberText, FixedIsCutToTheBuffer)
{
    EXPECT_EQ(Fixed(123.456, 3, 4), "123");
    EXPECT_EQ(Fixed(123.456, 3, 1), "");
    EXPECT_EQ(FormatFixed(nullptr, 0, 1.0, 2), 0u);
    char untouched = 'x';
    EXPECT_EQ(FormatFixed(&untouched, 0, 1.0, 2), 0u);
    EXPECT_EQ(untouched, 'x');
    // Many decimals are capped, not an overflow.
    EXPECT_EQ(Fixed(1.0, 1000, 512).size(), 62u);
}

TEST(NumberText, ParseDoubleTakesWholeFiniteNumbersOnly)
{
    const struct {
        const char* text;
        bool ok;
        double value;
    } cases[] = {
        {"0.25", true, 0.25}, {" 1e3 ", true, 1000.0}, {"+2.5", true, 2.5}, {"-7", true, -7.0},
        {".5", true, 0.5},    {"5.", true, 5.0},       {"1,5", false, 0},   {"1.5x", false, 0},
        {"", false, 0},       {"  ", false, 0},        {"nan", false, 0},   {"inf", false, 0},
        {"-inf", false, 0},   {"1e999", false, 0},     {"--1", false, 0},   {"+-1", false, 0},
        {"0x10", false, 0},   {"1 2", false, 0},       {"+", false, 0},
    };
    for (const auto& c : cases) {
        double value = 42.0;
        EXPECT_EQ(ParseDouble(c.text, value), c.ok) << "'" << c.text << "'";
        EXPECT_EQ(value, c.ok ? c.value : 42.0) << "'" << c.text << "'";
    }
}

TEST(NumberText, ParseIntRejectsJunkAndOverflow)
{
    const struct {
        const char* text;
        bool ok;
        int32_t value;
    } cases[] = {
        {"7000", true, 7000},      {"-2147483648", true, INT32_MIN}, {"2147483647", true, INT32_MAX},
        {"+12 ", true, 12},        {"2147483648", false, 0},         {"-2147483649", false, 0},
        {"1.0", false, 0},         {"12a", false, 0},                {"", false, 0},
        {"1 2", false, 0},         {"0x1f", false, 0},
    };
    for (const auto& c : cases) {
        int32_t value = 99;
        EXPECT_EQ(ParseInt(c.text, value), c.ok) << "'" << c.text << "'";
        EXPECT_EQ(value, c.ok ? c.value : 99) << "'" << c.text << "'";
    }
    int64_t wide = 0;
    EXPECT_TRUE(ParseInt("9223372036854775807", wide));
    EXPECT_EQ(wide, INT64_MAX);
    EXPECT_FALSE(ParseInt("9223372036854775808", wide));
}
