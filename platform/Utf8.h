// Cutting UTF-8 text to a byte limit without splitting a character.
// Any thread; no allocation.
#pragma once

#include <cstddef>
#include <string_view>

namespace corvane {

// The longest prefix of `text` of at most maxBytes bytes that does not end
// inside a multi-byte sequence. Text that is not UTF-8 is cut the same way
// (stepping back over at most the continuation bytes in front of the cut).
inline std::string_view Utf8Prefix(std::string_view text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    size_t cut = maxBytes;
    // The byte at `cut` is the first one dropped: while it continues a
    // sequence, that sequence started inside the prefix and goes too.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

} // namespace corvane
