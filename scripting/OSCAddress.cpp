// Addresses the server parses itself: the reply URLs of the requests and the
// "/obry/" parameter addresses that reach any instance of the process.
//
// Listen thread (ParseURL: any thread).
#include "scripting/OSCHelper.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <string_view>

#include <osc/OscException.h>

#include "framework/InstanceRegistry.h"

namespace QZ {

namespace {

constexpr size_t kMaxURLLength = 1024;

// Reads a number the way "%d" does: blanks, an optional sign, then at least
// one digit; whatever follows the digits is ignored. Values beyond 32 bits
// are refused rather than wrapped.
bool ReadDecimal(std::string_view text, int32_t* value)
{
    size_t i = 0;
    while (i < text.size() && isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t number = 0;
    size_t digits = 0;
    while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) {
        number = number * 10 + (text[i++] - '0');
        if (number > static_cast<int64_t>(INT32_MAX) + 1)
            return false;
        ++digits;
    }
    if (digits == 0)
        return false;
    number = negative ? -number : number;
    if (number < INT32_MIN || number > INT32_MAX)
        return false;
    *value = static_cast<int32_t>(number);
    return true;
}

bool StartsWithDigit(std::string_view segment)
{
    return !segment.empty() && isdigit(static_cast<unsigned char>(segment[0]));
}

// One target of a "/obry/" address, with its texts copied out of the packet.
struct ObryTarget {
    bool hasShortName = false;
    std::string shortName;
    int32_t instance = 0;
    bool hasParameterName = false;
    std::string parameterName;
    int32_t parameterIndex = 0;
    int32_t indexOffset = 0;
};

// Splits the text after "/obry/" into its targets. Throws osc::Exception
// carrying the address when any part is malformed; then nothing is applied.
std::vector<ObryTarget> ParseObryAddress(const char* address)
{
    std::vector<std::string_view> segments;
    std::string_view rest(address + 6);
    for (;;) {
        const size_t slash = rest.find('/');
        segments.push_back(rest.substr(0, slash));
        if (slash == std::string_view::npos)
            break;
        rest.remove_prefix(slash + 1);
    }
    size_t at = 0;
    // A segment that must be there and must not be empty (a trailing '/' or
    // "//" cuts a group short).
    auto next = [&]() -> std::string_view {
        if (at >= segments.size() || segments[at].empty())
            throw osc::Exception(address);
        return segments[at++];
    };

    bool multi = false;
    if (!segments[0].empty() && segments[0][0] == '+') {
        if (segments[0] != "+multi1" || segments.size() < 2)
            throw osc::Exception(address);
        multi = true;
        at = 1;
    }

    std::vector<ObryTarget> targets;
    do {
        ObryTarget target;
        const std::string_view group = next();
        if (StartsWithDigit(group)) {
            if (!ReadDecimal(group, &target.instance))
                throw osc::Exception(address);
        } else {
            target.hasShortName = true;
            target.shortName.assign(group);
            const std::string_view instance = next();
            if (instance == "*")
                target.instance = -1;
            else if (!ReadDecimal(instance, &target.instance))
                throw osc::Exception(address);
        }
        const std::string_view parameter = next();
        if (StartsWithDigit(parameter)) {
            if (!ReadDecimal(parameter, &target.parameterIndex))
                throw osc::Exception(address);
        } else {
            target.hasParameterName = true;
            target.parameterName.assign(parameter);
        }
        if (multi) {
            int32_t n = 0;
            if (!ReadDecimal(next(), &n) || n < 1)
                throw osc::Exception(address);
            target.indexOffset = n - 1;
        }
        targets.push_back(std::move(target));
    } while (at < segments.size());
    return targets;
}

} // namespace

std::string OSCHelper::ParseURL(const char* text, int32_t* port)
{
    if (port)
        *port = -1;
    if (!text)
        return {};
    std::string_view url(text, strnlen(text, kMaxURLLength));
    if (url.substr(0, 10) == "osc.udp://")
        url.remove_prefix(10);
    const size_t colon = url.find(':');
    if (colon == std::string_view::npos)
        return std::string(url);
    int32_t number = -1;
    if (port && ReadDecimal(url.substr(colon + 1), &number))
        *port = number;
    return std::string(url.substr(0, colon));
}

void OSCHelper::HandleObryAddress(const osc::ReceivedMessage& message)
{
    const std::vector<ObryTarget> targets = ParseObryAddress(message.AddressPattern());
    osc::ReceivedMessageArgumentStream args = message.ArgumentStream();
    float value = 0;
    args >> value;
    for (const ObryTarget& target : targets) {
        ObryParameterAddress parsed;
        parsed.shortName = target.hasShortName ? target.shortName.c_str() : nullptr;
        parsed.instanceNumber = target.instance;
        parsed.parameterName = target.hasParameterName ? target.parameterName.c_str() : nullptr;
        parsed.parameterIndex = target.parameterIndex;
        parsed.indexOffset = target.indexOffset;
        InstanceRegistry::SetParameterByAddress(parsed, value);
    }
}

} // namespace QZ
