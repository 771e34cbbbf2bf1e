// libFuzzer target: the rating reader on any body stays inside it, keeps at most ten rows and
// never passes on a high surrogate without its low half.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "content/rating.h"
#include "ui/rating_panel.h"

namespace {

void checkText(const WString& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const auto unit = static_cast<uint32_t>(text[i]);
        if (unit > 0xFFFF) __builtin_trap();
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) __builtin_trap();
            ++i;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const auto objects = findRowObjects(body);
    if (objects.size() > kMaxRatingRows) __builtin_trap();
    for (const std::string_view object : objects) {
        if (object.data() < body.data() || object.data() + object.size() > body.data() + body.size() ||
            object.size() < 2 || object.front() != '{' || object.back() != '}') {
            __builtin_trap();
        }
    }
    const auto rows = parseRatingRows(body);
    if (rows.size() != objects.size()) __builtin_trap();
    for (const RatingRow& row : rows) {
        checkText(row.nick);
        const RatingRowTexts texts = ratingRowTexts(row, Language::English);
        checkText(texts.left);
    }
    // The whole body as one object, with a key taken from its first bytes.
    const std::string_view key = body.substr(0, std::min<size_t>(body.size(), 4));
    (void)readJsonInt(body, key, 0);
    if (const auto text = readJsonString(body, key)) checkText(*text);
    (void)readJsonString(body, "nick");
    return 0;
}
