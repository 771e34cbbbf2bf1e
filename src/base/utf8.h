#pragma once

#include <cstddef>
#include <string_view>

#include "base/wstring.h"

// The one UTF-8 decoder of the platform-free code: the host build's stand-in for the code page
// conversion (config/text_convert_host.cpp) and the rating reader's JSON strings use it.

struct Utf8Sequence {
    char32_t codePoint = 0;
    // The bytes the sequence takes; for an invalid one, the bytes to pass over (at least one).
    size_t length = 1;
    bool valid = false;
};

// The sequence that starts at `at` (inside `text`). Only the shortest form of a Unicode scalar value
// is valid: an overlong form could smuggle in a character that a check on the bytes missed, and a
// surrogate or a value above U+10FFFF has no place in UTF-16 text. An invalid sequence passes over
// its lead byte and the continuation bytes that followed it before the fault.
[[nodiscard]] Utf8Sequence decodeUtf8(std::string_view text, size_t at);

// One UTF-16 unit, or a surrogate pair above U+FFFF.
void appendUtf16(WString& out, char32_t codePoint);
