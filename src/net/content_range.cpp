#include "net/content_range.h"

#include <cctype>

namespace {

void skipBlanks(std::string_view& text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
}

std::optional<uint64_t> takeNumber(std::string_view& text) {
    skipBlanks(text);
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    uint64_t value = 0;
    while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
        const auto digit = static_cast<uint64_t>(text.front() - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
        text.remove_prefix(1);
    }
    skipBlanks(text);
    return value;
}

bool takeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

}  // namespace

std::optional<ContentRange> parseContentRange(std::string_view text) {
    skipBlanks(text);
    constexpr std::string_view kUnit = "bytes";
    if (text.size() <= kUnit.size()) return std::nullopt;
    for (size_t i = 0; i < kUnit.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != kUnit[i]) return std::nullopt;
    }
    text.remove_prefix(kUnit.size());
    if (text.front() != ' ' && text.front() != '\t') return std::nullopt;
    const std::optional<uint64_t> first = takeNumber(text);
    if (!first || !takeChar(text, '-')) return std::nullopt;
    const std::optional<uint64_t> last = takeNumber(text);
    if (!last || !takeChar(text, '/')) return std::nullopt;
    const std::optional<uint64_t> size = takeNumber(text);
    if (!size || !text.empty() || *last < *first || *last >= *size) return std::nullopt;
    return ContentRange{*first, *last, *size};
}

bool continuesCopy(const ContentRange& range, uint64_t onDisk, uint64_t expectedSize) {
    return range.first == onDisk && range.last + 1 == range.size &&
           (expectedSize == 0 || range.size == expectedSize);
}
