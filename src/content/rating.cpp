#include "content/rating.h"

#include <algorithm>

#include "base/utf8.h"

namespace {

constexpr int64_t kInt32Limit = int64_t{1} << 31;  // |INT32_MIN|

// Where the value of the first `"key":` begins, or npos.
size_t valueStart(std::string_view text, std::string_view key) {
    std::string pattern;
    pattern.reserve(key.size() + 3);
    pattern.append(1, '"').append(key).append("\":");
    const size_t found = text.find(pattern);
    return found == std::string_view::npos ? found : found + pattern.size();
}

bool isHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A \u escape's unit. A high surrogate waits for the next \u escape (`heldHigh`, 0 for none): a
// low one completes the pair, anything else is dropped together with it.
void addEscapedUnit(WString& out, uint32_t& heldHigh, uint32_t unit) {
    if (heldHigh != 0) {
        if (isLowSurrogate(unit)) {
            out.push_back(static_cast<wchar_t>(heldHigh));
            out.push_back(static_cast<wchar_t>(unit));
        }
        heldHigh = 0;
    } else if (isHighSurrogate(unit)) {
        heldHigh = unit;
    } else {
        out.push_back(static_cast<wchar_t>(unit));
    }
}

}  // namespace

std::vector<std::string_view> findRowObjects(std::string_view body, size_t maxObjects) {
    std::vector<std::string_view> objects;
    const size_t key = body.find("\"rows\":");
    if (key == std::string_view::npos) return objects;
    const size_t open = body.find('[', key);
    if (open == std::string_view::npos) return objects;
    size_t depth = 0;
    size_t objectStart = 0;
    bool inString = false;
    for (size_t i = open + 1; i < body.size() && objects.size() < maxObjects; ++i) {
        const char c = body[i];
        if (inString) {
            if (c == '\\') {
                ++i;  // the escaped character; past the end, the loop ends
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '{') {
            if (depth++ == 0) objectStart = i;
        } else if (c == '}') {
            // A "}" outside any object closes nothing.
            if (depth > 0 && --depth == 0) objects.push_back(body.substr(objectStart, i - objectStart + 1));
        } else if (c == ']' && depth == 0) {
            break;
        }
    }
    return objects;
}

int32_t readJsonInt(std::string_view objectText, std::string_view key, int32_t fallback) {
    size_t i = valueStart(objectText, key);
    if (i == std::string_view::npos) return fallback;
    const bool negative = i < objectText.size() && objectText[i] == '-';
    if (negative) ++i;
    // Accumulated wide and capped just past the 32-bit range, however many digits follow.
    int64_t magnitude = 0;
    bool anyDigit = false;
    for (; i < objectText.size() && objectText[i] >= '0' && objectText[i] <= '9'; ++i) {
        anyDigit = true;
        magnitude = std::min(magnitude * 10 + (objectText[i] - '0'), kInt32Limit + 1);
    }
    if (!anyDigit || magnitude > (negative ? kInt32Limit : kInt32Limit - 1)) return fallback;
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

std::optional<WString> readJsonString(std::string_view objectText, std::string_view key) {
    size_t i = valueStart(objectText, key);
    if (i == std::string_view::npos || i >= objectText.size() || objectText[i] != '"') return std::nullopt;
    ++i;
    WString out;
    uint32_t heldHigh = 0;
    while (i < objectText.size()) {
        const char c = objectText[i];
        if (c == '"') return out;  // a high surrogate still held is dropped
        if (c != '\\') {
            const Utf8Sequence sequence = decodeUtf8(objectText, i);
            if (!sequence.valid) return std::nullopt;
            appendUtf16(out, sequence.codePoint);
            i += sequence.length;
            continue;
        }
        if (i + 1 >= objectText.size()) return std::nullopt;
        const char escape = objectText[i + 1];
        i += 2;
        switch (escape) {
            case '"':
            case '/':
            case '\\':
                out.push_back(static_cast<wchar_t>(escape));
                break;
            case 'b':
                out.push_back(L'\b');
                break;
            case 'f':
                out.push_back(L'\f');
                break;
            case 'n':
                out.push_back(L'\n');
                break;
            case 'r':
                out.push_back(L'\r');
                break;
            case 't':
                out.push_back(L'\t');
                break;
            case 'u': {
                if (objectText.size() - i < 4) return std::nullopt;
                uint32_t unit = 0;
                for (size_t k = 0; k < 4; ++k) {
                    const int digit = hexValue(objectText[i + k]);
                    if (digit < 0) return std::nullopt;
                    unit = unit * 16 + static_cast<uint32_t>(digit);
                }
                i += 4;
                addEscapedUnit(out, heldHigh, unit);
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return std::nullopt;  // no closing quote
}

std::vector<RatingRow> parseRatingRows(std::string_view body) {
    const std::vector<std::string_view> objects = findRowObjects(body, kMaxRatingRows);
    std::vector<RatingRow> rows;
    rows.reserve(objects.size());
    int32_t position = 1;
    for (const std::string_view object : objects) {
        RatingRow row;
        row.rank = readJsonInt(object, "rank", position);
        row.wave = readJsonInt(object, "wave", 0);
        row.endless = readJsonInt(object, "endless", 0);
        row.nick = readJsonString(object, "nick").value_or(L"?");
        cutKeepingPairs(row.nick, kMaxKeptNickLength);
        rows.push_back(std::move(row));
        ++position;
    }
    return rows;
}

void collectRatings(RatingState& state, std::string_view queryUrlPrefix, RatingFetchFunction fetch) noexcept {
    bool anySucceeded = false;
    for (int difficulty = 0; difficulty < kDifficultyCount; ++difficulty) {
        try {
            std::string body;
            std::string url(queryUrlPrefix);
            url += static_cast<char>('0' + difficulty);
            if (!fetch(url, body)) continue;
            std::vector<RatingRow> rows = parseRatingRows(body);
            state.rows[difficulty] = std::move(rows);
            anySucceeded = true;
        } catch (...) {
            // Out of memory or a failure inside the transfer: this difficulty stays empty, and the
            // flags below are still set, so the panel never waits for ever.
        }
    }
    state.failed.exchange(!anySucceeded);
    state.loaded.exchange(true);
}

void cutKeepingPairs(WString& text, size_t length) {
    if (text.size() <= length) return;
    if (length > 0 && isHighSurrogate(static_cast<uint32_t>(text[length - 1]))) --length;
    text.resize(length);
}
