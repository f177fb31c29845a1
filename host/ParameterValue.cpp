#include "host/ParameterValue.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "host/VstHost.h"

namespace corvane::host {

namespace {

// Grid over the normalised range: fine enough to land on every value name of
// an indexed parameter with up to 256 values.
constexpr int kGridSteps = 256;
constexpr int kBisections = 40;
// Names longer than this are cut by the plug-in when shown to the host.
constexpr size_t kShownNameLength = 15;

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

struct Number {
    double value;
    double halfStep; // half the last shown digit: the display's rounding
};

// The number at the start of `text` (locale-independent). With `whole`, the
// text must be nothing but the number.
std::optional<Number> ParseNumber(const std::string& raw, bool whole)
{
    std::string text = Trim(raw);
    if (!text.empty() && text[0] == '+')
        text.erase(0, 1);
    double value = 0;
    const char* begin = text.c_str();
    const char* end = begin + text.size();
    const auto [stop, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || !std::isfinite(value) || (whole && stop != end))
        return std::nullopt;
    const std::string digits(begin, stop);
    const size_t point = digits.find('.');
    const size_t decimals = point == std::string::npos ? 0 : digits.size() - point - 1;
    return Number{value, 0.5 * std::pow(10.0, -static_cast<double>(decimals))};
}

struct Sample {
    double normalized;
    std::string text;
    std::optional<Number> number;
};

} // namespace

int32_t FindParameterByText(Plugin& plugin, const std::string& rawName, std::string* error)
{
    const std::string name = Trim(rawName);
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return -1;
    };
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
        const int32_t index = name.size() <= 6 ? std::stoi(name) : -1;
        if (index < 0 || index >= plugin.NumParams())
            return fail("the plug-in has no parameter " + name + " (it has " +
                        std::to_string(plugin.NumParams()) + ")");
        return index;
    }
    std::vector<int32_t> matches;
    for (int32_t i = 0; i < plugin.NumParams(); ++i) {
        const std::string shown = plugin.ParameterName(i);
        const bool cut = shown.size() >= kShownNameLength && name.size() > shown.size();
        if (EqualsIgnoringCase(shown, cut ? name.substr(0, shown.size()) : name))
            matches.push_back(i);
    }
    if (matches.empty())
        return fail("the plug-in has no parameter '" + name + "'");
    if (matches.size() > 1) {
        std::string indices;
        for (int32_t i : matches)
            indices += (indices.empty() ? "" : ", ") + std::to_string(i);
        return fail("'" + name + "' could be parameter " + indices + " (the plug-in shows '" +
                    plugin.ParameterName(matches[0]) + "'); give the index");
    }
    return matches[0];
}

std::optional<float> FindNormalizedValue(Plugin& plugin, int32_t index, const std::string& rawText,
                                         std::string* error)
{
    const std::string text = Trim(rawText);
    const std::string name = "'" + plugin.ParameterName(index) + "'";
    auto fail = [&](const std::string& why) -> std::optional<float> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (index < 0 || index >= plugin.NumParams())
        return fail("no parameter " + std::to_string(index));
    if (text.empty())
        return fail("empty value for " + name);

    if (text[0] == '@') {
        const auto number = ParseNumber(text.substr(1), true);
        if (!number || number->value < 0 || number->value > 1)
            return fail("normalised value '" + text + "' for " + name + " is not a number from 0 to 1");
        plugin.SetParameter(index, static_cast<float>(number->value));
        return static_cast<float>(number->value);
    }

    const float original = plugin.GetParameter(index);
    auto setAndShow = [&](double normalized) {
        plugin.SetParameter(index, static_cast<float>(normalized));
        return plugin.ParameterDisplay(index);
    };
    auto choose = [&](double normalized) -> std::optional<float> {
        plugin.SetParameter(index, static_cast<float>(normalized));
        return static_cast<float>(normalized);
    };

    std::vector<Sample> grid;
    for (int k = 0; k <= kGridSteps; ++k) {
        const double normalized = static_cast<double>(k) / kGridSteps;
        std::string shown = Trim(setAndShow(normalized));
        auto number = ParseNumber(shown, false);
        grid.push_back(Sample{normalized, std::move(shown), number});
    }
    plugin.SetParameter(index, original);
    const std::string range = "'" + grid.front().text + "' .. '" + grid.back().text + "'";

    const auto target = ParseNumber(text, true);
    if (!target) {
        // A value name: the run of grid points showing it. A run at either end
        // of the range takes that end (a boolean's "On" is 1, not 0.5).
        size_t first = 0;
        while (first < grid.size() && !EqualsIgnoringCase(grid[first].text, text))
            ++first;
        if (first == grid.size())
            return fail(name + " never shows '" + text + "' (it shows " + range + ")");
        size_t last = first;
        while (last + 1 < grid.size() && EqualsIgnoringCase(grid[last + 1].text, text))
            ++last;
        if (first == 0)
            return choose(0.0);
        if (last == grid.size() - 1)
            return choose(1.0);
        return choose((grid[first].normalized + grid[last].normalized) / 2);
    }

    // A number: the displayed number is monotonic in the normalised value,
    // apart from texts such as "Off" at special points, which are skipped.
    const double v = target->value;
    std::vector<size_t> numeric;
    for (size_t k = 0; k < grid.size(); ++k)
        if (grid[k].number)
            numeric.push_back(k);
    if (numeric.size() < 2)
        return fail(name + " shows no numbers (" + range + "); give a value name or @normalised");
    const double sign = grid[numeric.back()].number->value >= grid[numeric.front()].number->value ? 1 : -1;
    auto above = [&](const Number& shown, bool strictly) {
        const double g = sign * (shown.value - v);
        return strictly ? g > 0 : g >= 0;
    };
    // The boundary between lo (not `above`) and hi (`above`); a text that is
    // no number ends the search where it is. Also gives the rounding of the
    // display on the side that shows the target (hi for the lower boundary,
    // lo for the upper one).
    struct Boundary {
        double at;
        double halfStep;
    };
    auto bisect = [&](const Sample& low, const Sample& high, bool strictly) {
        double lo = low.normalized, hi = high.normalized;
        double halfStep = (strictly ? low : high).number->halfStep;
        for (int i = 0; i < kBisections; ++i) {
            const double mid = (lo + hi) / 2;
            const auto shown = ParseNumber(setAndShow(mid), false);
            if (!shown)
                break;
            const bool isAbove = above(*shown, strictly);
            (isAbove ? hi : lo) = mid;
            if (isAbove != strictly)
                halfStep = shown->halfStep;
        }
        return Boundary{(lo + hi) / 2, halfStep};
    };
    auto firstAbove = [&](bool strictly) -> std::optional<size_t> {
        for (size_t j = 0; j < numeric.size(); ++j)
            if (above(*grid[numeric[j]].number, strictly))
                return j;
        return std::nullopt;
    };

    const auto lowerEnd = firstAbove(false);
    if (!lowerEnd) {
        const Sample& end = grid[numeric.back()];
        if (std::fabs(end.number->value - v) <= end.number->halfStep)
            return choose(end.normalized);
        plugin.SetParameter(index, original);
        return fail(text + " is outside the range of " + name + " (" + range + ")");
    }
    const Sample& first = grid[numeric[*lowerEnd]];
    if (*lowerEnd == 0) {
        // The value sits at the start of the shown range (or below it).
        if (std::fabs(first.number->value - v) <= first.number->halfStep)
            return choose(first.normalized);
        plugin.SetParameter(index, original);
        return fail(text + " is outside the range of " + name + " (" + range + ")");
    }
    const Boundary lower = bisect(grid[numeric[*lowerEnd - 1]], first, false);
    const auto upperEnd = firstAbove(true);
    if (!upperEnd) // every value from `lower` to the end shows the number
        return choose(grid[numeric.back()].normalized);
    const Boundary upper = bisect(grid[numeric[*upperEnd - 1]], grid[numeric[*upperEnd]], true);
    // Between the boundaries the display shows the number; the real value
    // runs from v - lower.halfStep to v + upper.halfStep there (the precision
    // may change at a decade, 99.99 then 100.0), so v lies at this fraction
    // for a mapping that is linear over so short a stretch.
    const double fraction = lower.halfStep / (lower.halfStep + upper.halfStep);
    return choose(lower.at + (upper.at - lower.at) * fraction);
}

} // namespace corvane::host
