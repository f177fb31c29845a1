#include "gui/dialogs/CalibrationFile.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <algorithm>
#include <map>

#include "platform/NumberText.h"

namespace QZ {

namespace E = CalibrationFileError;

namespace {

// The "C" locale for strtof_l and strtoll_l: a host that calls setlocale()
// must not turn "0.5" into 0 in a file meant for every machine.
locale_t CLocale()
{
    static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

bool IsTextByte(unsigned char c)
{
    return c >= 0x20 ? c != 0x7F : (c == '\n' || c == '\t' || c == '\r' || c == '\f' || c == '\v');
}

// One line as a reader gets it: its text without the line end and without
// trailing blanks, and whether a line break ended it.
struct Line {
    std::string text;
    bool ended = false;
};

// Splits the file into lines; false with an error for a file that is not
// text or has a line no line buffer holds.
bool SplitLines(std::string_view text, std::vector<Line>& lines, std::string& error)
{
    for (unsigned char c : text) {
        if (!IsTextByte(c)) {
            error = E::kNotText;
            return false;
        }
    }
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        Line line;
        line.ended = end != std::string_view::npos;
        std::string_view content = text.substr(start, (line.ended ? end : text.size()) - start);
        while (!content.empty() && IsBlank(content.back()))
            content.remove_suffix(1);
        // Room for the line, its line break and the terminator.
        if (content.size() + 2 > kCalibrationLineBufferSize) {
            error = E::kLineTooLong;
            return false;
        }
        line.text.assign(content);
        start = line.ended ? end + 1 : text.size();
        lines.push_back(std::move(line));
    }
    return true;
}

const char* SkipBlanks(const char* p)
{
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v')
        ++p;
    return p;
}

// A decimal integer with an optional sign at p (after blanks); false when
// there is none. Outside 32 bits the result is clamped to INT_MIN/INT_MAX,
// which every caller refuses.
bool ReadInteger(const char*& p, int64_t& value)
{
    p = SkipBlanks(p);
    const char* digits = p + (*p == '+' || *p == '-' ? 1 : 0);
    if (*digits < '0' || *digits > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    long long parsed = strtoll_l(p, &end, 10, CLocale());
    if (errno == ERANGE || parsed > INT_MAX || parsed < INT_MIN)
        parsed = parsed < 0 ? INT_MIN : INT_MAX;
    value = parsed;
    p = end;
    return true;
}

// One data line: index and value, as "%d %f" reads them (what follows them
// on the line is not read).
enum class DataLine { Ok, Unparsed, IndexRange, ValueRange };

DataLine ReadDataLine(const std::string& text, int32_t maxIndex, CalibrationLine& out)
{
    const char* p = text.c_str();
    int64_t index = 0;
    if (!ReadInteger(p, index))
        return DataLine::Unparsed;
    p = SkipBlanks(p);
    char* end = nullptr;
    const float value = strtof_l(p, &end, CLocale());
    if (end == p)
        return DataLine::Unparsed;
    if (index < 0 || index > maxIndex)
        return DataLine::IndexRange;
    // NaN compares false with everything: test for a finite value first.
    if (!std::isfinite(value) || std::fabs(value) > 1.0f)
        return DataLine::ValueRange;
    out.index = static_cast<int32_t>(index);
    out.value = value;
    return DataLine::Ok;
}

bool ReadsBackAs(const char* text, float value)
{
    char* end = nullptr;
    const float back = strtof_l(text, &end, CLocale());
    return std::bit_cast<uint32_t>(back) == std::bit_cast<uint32_t>(value);
}

} // namespace

std::string FormatCalibrationFile(const float* values, const uint8_t* valid, size_t count)
{
    std::string text;
    text.append(kCalibrationFileHeader).append("\n");
    text.append("version: ").append(std::to_string(kCalibrationFileVersion)).append("\n");
    for (size_t i = 0; values && valid && i < count; ++i) {
        if (!valid[i])
            continue;
        char number[kCalibrationLineBufferSize];
        corvane::platform::FormatFixed(number, sizeof number, values[i], 8);
        if (!ReadsBackAs(number, values[i])) {
            // The shortest decimal text that reads back as the same float.
            const std::to_chars_result shortest =
                std::to_chars(number, number + sizeof number - 1, values[i], std::chars_format::fixed);
            *shortest.ptr = '\0';
        }
        text.append(std::to_string(i)).append(" ").append(number).append("\n");
    }
    return text;
}

bool ParseCalibrationFile(std::string_view text, int32_t maxIndex, std::vector<CalibrationLine>& lines,
                          std::string& error)
{
    lines.clear();
    std::vector<Line> read;
    if (!SplitLines(text, read, error))
        return false;
    if (read.empty()) {
        error = E::kReadLine;
        return false;
    }
    if (!read[0].ended || read[0].text != kCalibrationFileHeader) {
        error = E::kHeader;
        return false;
    }
    if (read.size() < 2) {
        error = E::kReadLine;
        return false;
    }
    const std::string& versionLine = read[1].text;
    constexpr std::string_view kVersionPrefix = "version:";
    const char* p = versionLine.c_str() + kVersionPrefix.size();
    int64_t version = 0;
    if (versionLine.compare(0, kVersionPrefix.size(), kVersionPrefix) != 0 || !ReadInteger(p, version)) {
        error = E::kGetVersion;
        return false;
    }
    if (version != kCalibrationFileVersion) {
        error = E::kInvalidVersion;
        return false;
    }
    for (size_t i = 2; i < read.size(); ++i) {
        CalibrationLine line{};
        switch (ReadDataLine(read[i].text, maxIndex, line)) {
        case DataLine::Ok: lines.push_back(line); break;
        case DataLine::Unparsed:
            error = std::string(E::kParseLine) + "\"" + read[i].text + (read[i].ended ? "\n" : "") + "\"";
            lines.clear();
            return false;
        case DataLine::IndexRange:
            error = E::kIndexRange;
            lines.clear();
            return false;
        case DataLine::ValueRange:
            error = E::kValueRange;
            lines.clear();
            return false;
        }
    }
    return true;
}

FilledCalibration FillCalibration(const std::vector<CalibrationLine>& lines, int32_t count)
{
    FilledCalibration table;
    if (count <= 0)
        return table;
    const auto n = static_cast<size_t>(count);
    table.values.assign(n, 0.0f);
    table.read.assign(n, 0);
    for (const CalibrationLine& line : lines) {
        if (line.index < 0 || line.index >= count)
            continue;
        table.values[static_cast<size_t>(line.index)] = line.value;
        table.read[static_cast<size_t>(line.index)] = 1;
    }
    std::vector<uint8_t> filled = table.read;
    int32_t lo = count - 1, hi = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (table.read[static_cast<size_t>(i)]) {
            lo = std::min(lo, i);
            hi = std::max(hi, i);
        }
    }
    if (!table.read[static_cast<size_t>(lo)])
        return table; // nothing read: every entry stays 0
    // Between two read entries p < i < n: a straight line, in single precision.
    int32_t previous = lo;
    for (int32_t i = lo; i <= hi; ++i) {
        if (table.read[static_cast<size_t>(i)]) {
            previous = i;
            continue;
        }
        int32_t next = i + 1;
        while (!table.read[static_cast<size_t>(next)])
            ++next;
        const float vp = table.values[static_cast<size_t>(previous)];
        const float vn = table.values[static_cast<size_t>(next)];
        table.values[static_cast<size_t>(i)] =
            (vn - vp) * static_cast<float>(i - previous) / static_cast<float>(next - previous) + vp;
        filled[static_cast<size_t>(i)] = 1;
    }
    for (int32_t i = count - 13; i >= 0; --i) {
        const auto at = static_cast<size_t>(i);
        if (!filled[at] && filled[at + 12]) {
            table.values[at] = table.values[at + 12];
            filled[at] = 1;
        }
    }
    for (int32_t i = 12; i < count; ++i) {
        const auto at = static_cast<size_t>(i);
        if (!filled[at] && filled[at - 12]) {
            table.values[at] = table.values[at - 12];
            filled[at] = 1;
        }
    }
    return table;
}

bool BuildQuantizerCalibration(const std::vector<CalibrationLine>& lines, QuantizerCalibration& record,
                               std::string& error)
{
    // Ordered by value; an equal value (0 and -0 are equal) takes the later index.
    std::map<float, int32_t> steps;
    for (const CalibrationLine& line : lines)
        steps[line.value] = line.index;
    if (steps.empty()) {
        error = E::kNoValues;
        return false;
    }
    if (steps.size() > QuantizerCalibration::kCapacity) {
        error = E::kTooManySteps;
        return false;
    }
    record = QuantizerCalibration{};
    record.count = static_cast<uint32_t>(steps.size());
    size_t i = 0;
    for (const auto& [value, index] : steps) {
        record.levels[i] = value;
        record.notes[i] = index;
        ++i;
    }
    return true;
}

} // namespace QZ
