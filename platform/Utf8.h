// platform/Utf8.h: where a well-formed UTF-8 sequence ends, for texts that come from outside
// (settings files, what trackers send) and must be checked or shown safely.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

// The length of the UTF-8 sequence that s starts with; 0 when it starts with none (empty, a
// stray continuation byte, a cut or overlong sequence, a surrogate, beyond U+10FFFF).
inline std::size_t utf8SequenceLength(std::string_view s)
{
    if (s.empty())
        return 0;
    const auto byte = [s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = byte(0);
    if (c < 0x80)
        return 1;
    const std::size_t n = c >= 0xC2 && c <= 0xDF   ? 2
                          : c >= 0xE0 && c <= 0xEF ? 3
                          : c >= 0xF0 && c <= 0xF4 ? 4
                                                   : 0;
    if (n == 0 || s.size() < n)
        return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
    // The second byte's range is what rules out the overlong forms, the surrogates and what
    // lies beyond U+10FFFF.
    if ((c == 0xE0 && byte(1) < 0xA0) || (c == 0xED && byte(1) > 0x9F) ||
        (c == 0xF0 && byte(1) < 0x90) || (c == 0xF4 && byte(1) > 0x8F))
        return 0;
    return n;
}

} // namespace platform
