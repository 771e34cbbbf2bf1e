#include "base/utf8.h"

Utf8Sequence decodeUtf8(std::string_view text, size_t at) {
    Utf8Sequence sequence;
    const auto lead = static_cast<unsigned char>(text[at]);
    size_t extra = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        sequence.codePoint = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, sequence.codePoint = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, sequence.codePoint = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, sequence.codePoint = lead & 0x07, minimum = 0x10000;
    } else {
        return sequence;
    }
    for (size_t k = 1; k <= extra; ++k) {
        if (at + k >= text.size() || (static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80)
            return sequence;
        sequence.codePoint = (sequence.codePoint << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
        sequence.length = k + 1;
    }
    const char32_t cp = sequence.codePoint;
    sequence.valid = cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    return sequence;
}

void appendUtf16(WString& out, char32_t codePoint) {
    if (codePoint < 0x10000) {
        out.push_back(static_cast<wchar_t>(codePoint));
    } else {
        codePoint -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
    }
}
