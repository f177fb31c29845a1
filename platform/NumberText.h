// Locale-independent number texts. Hosts often call setlocale(), after which
// printf("%f") and strtod() use the locale's decimal separator; everything
// the module shows, stores or sends uses '.' whatever the locale says.
// Any thread, including the audio thread: no allocation, no locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvane::platform {

// Like snprintf(out, size, "%.*f", decimals, value) in the "C" locale: always
// '.', "nan", "inf" and "-inf" for the special values, a negative decimals
// count means 6. The text is cut to fit and always NUL-terminated when size
// > 0. Returns the length written (without the NUL).
size_t FormatFixed(char* out, size_t size, double value, int decimals);

// Like snprintf(out, size, "%.*g", precision, value) in the "C" locale.
size_t FormatGeneral(char* out, size_t size, double value, int precision);

// Parse a whole text as a number: optional surrounding blanks and a leading
// '+' are accepted, anything else that is not part of the number makes the
// parse fail. ParseDouble accepts decimal and exponent forms and rejects
// values that are not finite ("inf", "nan", overflow). ParseInt rejects
// values outside the target type. On failure value is left unchanged.
bool ParseDouble(std::string_view text, double& value);
bool ParseInt(std::string_view text, int32_t& value);
bool ParseInt(std::string_view text, int64_t& value);

} // namespace corvane::platform
