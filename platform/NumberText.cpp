#include "platform/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace corvane::platform {

namespace {

// Longest fixed text: 309 integer digits of DBL_MAX, sign, point and the
// decimals, which are capped below.
constexpr int kMaxDecimals = 60;
constexpr size_t kScratchSize = 400;

size_t CopyCut(char* out, size_t size, const char* text, size_t length)
{
    if (!out || size == 0)
        return 0;
    size_t n = length < size - 1 ? length : size - 1;
    std::memcpy(out, text, n);
    out[n] = '\0';
    return n;
}

size_t Format(char* out, size_t size, double value, std::chars_format format, int precision)
{
    char scratch[kScratchSize];
    std::to_chars_result result = std::to_chars(scratch, scratch + sizeof scratch, value, format, precision);
    if (result.ec != std::errc())
        return CopyCut(out, size, "", 0);
    return CopyCut(out, size, scratch, static_cast<size_t>(result.ptr - scratch));
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Strips surrounding blanks and one leading '+'; false when nothing is left
// or a '+' is followed by a second sign.
bool PrepareNumber(std::string_view& text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-'))
            return false;
    }
    return !text.empty();
}

template <typename Int>
bool ParseInteger(std::string_view text, Int& value)
{
    if (!PrepareNumber(text))
        return false;
    Int parsed{};
    std::from_chars_result result = std::from_chars(text.data(), text.data() + text.size(), parsed, 10);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size())
        return false;
    value = parsed;
    return true;
}

} // namespace

size_t FormatFixed(char* out, size_t size, double value, int decimals)
{
    if (decimals < 0)
        decimals = 6;
    if (decimals > kMaxDecimals)
        decimals = kMaxDecimals;
    return Format(out, size, value, std::chars_format::fixed, decimals);
}

size_t FormatGeneral(char* out, size_t size, double value, int precision)
{
    if (precision < 0)
        precision = 6;
    if (precision > kMaxDecimals)
        precision = kMaxDecimals;
    return Format(out, size, value, std::chars_format::general, precision);
}

bool ParseDouble(std::string_view text, double& value)
{
    if (!PrepareNumber(text))
        return false;
    double parsed = 0.0;
    std::from_chars_result result =
        std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

bool ParseInt(std::string_view text, int32_t& value)
{
    return ParseInteger(text, value);
}

bool ParseInt(std::string_view text, int64_t& value)
{
    return ParseInteger(text, value);
}

} // namespace corvane::platform
