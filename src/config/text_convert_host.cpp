// Host build only: the same conversions as the Windows code page CP_UTF8 without flags, so that
// platform-free code can be run and fuzzed natively. WString holds UTF-16 code units here too.
#include "base/utf8.h"
#include "config/text_convert.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

WString utf8ToWide(std::string_view utf8) {
    WString out;
    for (size_t i = 0; i < utf8.size();) {
        const Utf8Sequence sequence = decodeUtf8(utf8, i);
        appendUtf16(out, sequence.valid ? sequence.codePoint : kReplacement);
        i += sequence.length;
    }
    return out;
}

std::string wideToUtf8(std::wstring_view wide) {
    std::string out;
    for (size_t i = 0; i < wide.size(); ++i) {
        const auto unit = static_cast<char32_t>(wide[i]);
        if (unit > 0xFFFF) {  // a wide literal of this host's 32-bit wchar_t
            appendUtf8(out, unit <= 0x10FFFF ? unit : kReplacement);
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size()) {
            const auto next = static_cast<char32_t>(wide[i + 1]);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? kReplacement : unit);
    }
    return out;
}
