// Calibration text files as texts: what a reader accepts and refuses (with
// the message the user sees), how a table is filled from a few lines, the
// Quantizer's steps, and the writer's text read back exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "gui/dialogs/CalibrationFile.h"

using QZ::CalibrationLine;
namespace E = QZ::CalibrationFileError;

namespace {

constexpr int32_t kTable = 129;
const std::string kHead = "Corvane Calibration Data\nversion: 1\n";

struct ParseCase {
    const char* name;
    std::string text;
    int32_t maxIndex;
    std::string error; // empty: accepted
    size_t lines;      // when accepted
};

TEST(CalibrationFileTest, ReaderAcceptsAndRefuses)
{
    const std::string longLine = "5 0.5" + std::string(300, '0') + "\n";
    // Lines of exactly n bytes before their line break: the buffer holds 254
    // and its line break and terminator.
    const auto lineOf = [](size_t n) { return "60 0.5" + std::string(n - 6, '0'); };
    const ParseCase cases[] = {
        {"header and version only", kHead, kTable - 1, "", 0},
        {"lines in any order", kHead + "72 0.1\n60 0.0\n", kTable - 1, "", 2},
        {"CR LF and trailing blanks", "Corvane Calibration Data \r\nversion: 1\t\r\n60 0.5  \r\n", kTable - 1, "", 1},
        {"last line without a line break", kHead + "60 0.5", kTable - 1, "", 1},
        {"text after the numbers is not read", kHead + "60 0.5 middle C\n", kTable - 1, "", 1},
        {"signs and exponents", kHead + "+3 -5e-1\n4 +.25\n", kTable - 1, "", 2},
        {"empty file", "", kTable - 1, E::kReadLine, 0},
        {"header without a line break", "Corvane Calibration Data", kTable - 1, E::kHeader, 0},
        {"another header", "Corvane Calibration Data 2\nversion: 1\n", kTable - 1, E::kHeader, 0},
        {"no version line", "Corvane Calibration Data\n", kTable - 1, E::kReadLine, 0},
        {"version without a number", "Corvane Calibration Data\nversion: one\n", kTable - 1, E::kGetVersion, 0},
        {"version 2", "Corvane Calibration Data\nversion: 2\n60 0.5\n", kTable - 1, E::kInvalidVersion, 0},
        {"value above 1", kHead + "3 1.5\n", kTable - 1, E::kValueRange, 0},
        {"value below -1", kHead + "3 -1.0001\n", kTable - 1, E::kValueRange, 0},
        {"nan", kHead + "3 nan\n", kTable - 1, E::kValueRange, 0},
        {"infinity", kHead + "3 -inf\n", kTable - 1, E::kValueRange, 0},
        {"a value too large for a float", kHead + "3 1e60\n", kTable - 1, E::kValueRange, 0},
        {"index -1", kHead + "-1 0.5\n", kTable - 1, E::kIndexRange, 0},
        {"index 129 in a table of 129", kHead + "129 0.5\n", kTable - 1, E::kIndexRange, 0},
        {"index 129 for the Quantizer", kHead + "129 0.5\n", kTable, "", 1},
        {"index 130 for the Quantizer", kHead + "130 0.5\n", kTable, E::kIndexRange, 0},
        {"index that wraps to 5 in 32 bits", kHead + "4294967301 0.5\n", kTable, E::kIndexRange, 0},
        {"index checked before value", kHead + "-1 1.5\n", kTable - 1, E::kIndexRange, 0},
        {"blank line after the data", kHead + "60 0.5\n\n", kTable - 1, std::string(E::kParseLine) + "\"\n\"", 0},
        {"comma for a decimal point", kHead + "60 0,5\n", kTable - 1, "", 1}, // reads 0, as "%f" does
        {"one number", kHead + "60\n", kTable - 1, std::string(E::kParseLine) + "\"60\n\"", 0},
        {"a NUL inside", kHead + std::string("60 0.5\0 x\n", 10), kTable - 1, E::kNotText, 0},
        {"binary bytes", std::string("\x89PNG\r\n\x1a\n", 8), kTable - 1, E::kNotText, 0},
        {"a line longer than the buffer", kHead + longLine, kTable - 1, E::kLineTooLong, 0},
        {"a line of 254 bytes", kHead + lineOf(254) + "\n", kTable - 1, "", 1},
        {"a last line of 254 bytes", kHead + lineOf(254), kTable - 1, "", 1},
        {"a line of 255 bytes", kHead + lineOf(255) + "\n", kTable - 1, E::kLineTooLong, 0},
    };
    for (const ParseCase& c : cases) {
        std::vector<CalibrationLine> lines{{1, 0.5f}};
        std::string error;
        const bool ok = QZ::ParseCalibrationFile(c.text, c.maxIndex, lines, error);
        EXPECT_EQ(ok, c.error.empty()) << c.name << ": " << error;
        if (ok) {
            EXPECT_EQ(lines.size(), c.lines) << c.name;
        } else {
            EXPECT_EQ(error, c.error) << c.name;
        }
    }
}

TEST(CalibrationFileTest, NumbersIgnoreTheHostsLocale)
{
    const char* previous = setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        GTEST_SKIP() << "no de_DE.UTF-8 locale";
    std::vector<CalibrationLine> lines;
    std::string error;
    const bool ok = QZ::ParseCalibrationFile(kHead + "60 0.25\n", kTable - 1, lines, error);
    const float value[1] = {0.125f};
    const uint8_t valid[1] = {1};
    const std::string text = QZ::FormatCalibrationFile(value, valid, 1);
    setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(lines[0].value, 0.25f);
    EXPECT_EQ(text, kHead + "0 0.12500000\n");
}

TEST(CalibrationFileTest, AllInvalidWritesOnlyTheHeaderLines)
{
    std::vector<float> values(kTable, 0.5f);
    std::vector<uint8_t> valid(kTable, 0);
    EXPECT_EQ(QZ::FormatCalibrationFile(values.data(), valid.data(), values.size()), kHead);
}

TEST(CalibrationFileTest, SavedValuesReadBackExactly)
{
    // Values that eight decimals cannot hold, the ends of the range, and
    // -0 as well as 0.
    const std::vector<float> special = {0.0f, -0.0f, 1.0f, -1.0f, 1e-10f, -3.7e-9f, 0.0833333358f,
                                        std::numeric_limits<float>::denorm_min(), 0.1f, -0.99999994f};
    std::vector<float> values(kTable);
    std::vector<uint8_t> valid(kTable, 0);
    uint32_t state = 12345;
    for (int32_t i = 0; i < kTable; ++i) {
        state = state * 1664525u + 1013904223u;
        values[i] = i < static_cast<int32_t>(special.size()) ? special[i]
                                                             : static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
        valid[i] = (i % 3 != 1) ? 1 : 0;
    }
    const std::string text = QZ::FormatCalibrationFile(values.data(), valid.data(), values.size());
    EXPECT_NE(text.find("\n2 1.00000000\n"), std::string::npos) << "eight decimals where they are enough";
    std::vector<CalibrationLine> lines;
    std::string error;
    ASSERT_TRUE(QZ::ParseCalibrationFile(text, kTable - 1, lines, error)) << error;
    const QZ::FilledCalibration filled = QZ::FillCalibration(lines, kTable);
    for (int32_t i = 0; i < kTable; ++i) {
        EXPECT_EQ(filled.read[i], valid[i]) << i;
        if (valid[i]) {
            EXPECT_EQ(memcmp(&filled.values[i], &values[i], sizeof(float)), 0) << i << ": " << values[i];
        }
    }
}

// The fill of a 129-entry table from a few lines, entry by entry.
float Expected60And72(int32_t i)
{
    const float v60 = 0.25f, v72 = 0.5f;
    auto inside = [&](int32_t k) { // 60..72
        return k == 60 ? v60 : k == 72 ? v72 : (v72 - v60) * static_cast<float>(k - 60) / 12.0f + v60;
    };
    if (i < 60)
        return inside(60 + (i - 60 + 120) % 12);
    if (i > 72)
        return inside(61 + (i - 61) % 12);
    return inside(i);
}

TEST(CalibrationFileTest, FillInterpolatesAndCopiesOctaves)
{
    const struct {
        const char* name;
        std::vector<CalibrationLine> lines;
        float (*expected)(int32_t);
        std::vector<int32_t> read;
    } cases[] = {
        {"60 and 72", {{72, 0.5f}, {60, 0.25f}}, Expected60And72, {60, 72}},
        {"only 5", {{5, -0.75f}}, [](int32_t i) { return i % 12 == 5 ? -0.75f : 0.0f; }, {5}},
        {"a later line replaces", {{5, 0.1f}, {5, -0.75f}}, [](int32_t i) { return i % 12 == 5 ? -0.75f : 0.0f; },
         {5}},
        {"none", {}, [](int32_t) { return 0.0f; }, {}},
    };
    for (const auto& c : cases) {
        const QZ::FilledCalibration filled = QZ::FillCalibration(c.lines, kTable);
        ASSERT_EQ(filled.values.size(), static_cast<size_t>(kTable));
        for (int32_t i = 0; i < kTable; ++i) {
            EXPECT_FLOAT_EQ(filled.values[i], c.expected(i)) << c.name << " entry " << i;
            const bool read = std::find(c.read.begin(), c.read.end(), i) != c.read.end();
            EXPECT_EQ(filled.read[i] != 0, read) << c.name << " entry " << i;
        }
    }
    // The octave copies are the same value, not an approximation of it.
    const QZ::FilledCalibration filled = QZ::FillCalibration({{60, 0.25f}, {72, 0.5f}}, kTable);
    EXPECT_EQ(filled.values[84], filled.values[72]);
    EXPECT_EQ(filled.values[73], filled.values[61]);
    EXPECT_EQ(filled.values[0], filled.values[60]);
    EXPECT_EQ(filled.values[125], filled.values[65]);
}

TEST(CalibrationFileTest, QuantizerStepsAreTheDistinctValues)
{
    QuantizerCalibration record{};
    std::string error;
    ASSERT_TRUE(QZ::BuildQuantizerCalibration({{10, 0.5f}, {3, -0.25f}, {7, 0.5f}, {129, 0.5f}, {0, -0.0f}, {1, 0.0f}},
                                              record, error));
    EXPECT_EQ(record.count, 3u);
    EXPECT_EQ(std::vector<float>(record.levels, record.levels + 3), (std::vector<float>{-0.25f, 0.0f, 0.5f}));
    EXPECT_EQ(std::vector<int32_t>(record.notes, record.notes + 3), (std::vector<int32_t>{3, 1, 129}));

    const struct {
        size_t distinct;
        std::string error;
    } limits[] = {{0, E::kNoValues}, {129, ""}, {130, E::kTooManySteps}};
    for (const auto& limit : limits) {
        std::vector<CalibrationLine> lines;
        for (size_t i = 0; i < limit.distinct; ++i)
            lines.push_back({static_cast<int32_t>(i % 130), static_cast<float>(i) / 200.0f});
        QuantizerCalibration built{};
        error.clear();
        EXPECT_EQ(QZ::BuildQuantizerCalibration(lines, built, error), limit.error.empty()) << limit.distinct;
        EXPECT_EQ(error, limit.error) << limit.distinct;
    }
}

} // namespace
