#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/wstring.h"

// The season rating: the rows of four difficulties, read from the rating service's compact JSON.
// Platform-free. The fetch thread's body (ui/rating_fetch_win.h) runs collectRatings; the window
// shows the state through ui/rating_panel.h once `loaded` is set.
//
// The reader does not parse JSON in general: it finds texts in a body that the service sends
// compact (no blank around a key's colon). Nothing in a body can make it throw (except for memory),
// read outside the body or keep more than kMaxRatingRows rows.

inline constexpr int kDifficultyCount = 4;
// Rows kept per difficulty, and the most the panel shows.
inline constexpr size_t kMaxRatingRows = 10;
// A rating body is not signed: the fetch takes at most this much of it (ten rows of a difficulty
// are about a kilobyte), and a row keeps at most this many UTF-16 units of its nick, so a broken or
// hostile service cannot make the 32-bit process run out of memory while it paints.
inline constexpr uint32_t kMaxRatingBodyBytes = 256 * 1024;
inline constexpr size_t kMaxKeptNickLength = 64;

struct RatingRow {
    int32_t rank = 0;
    WString nick;
    int32_t wave = 0;
    int32_t endless = 0;  // shown only when positive
};

// Written by the fetch thread: the four lists first, then `failed`, then `loaded`, each flag with an
// atomic exchange. The window thread reads `failed` and the lists only after it has seen `loaded`
// true; they never change after that.
struct RatingState {
    std::atomic<bool> loaded{false};
    std::atomic<bool> failed{false};  // none of the four requests succeeded
    std::array<std::vector<RatingRow>, kDifficultyCount> rows;
};

// The object texts of the body's "rows" array, in array order, at most `maxObjects` of them (views
// into `body`). Starts after the first "[" that follows the first `"rows":`; braces inside strings
// do not count, a "]" outside any object ends the array, and whatever lies between objects (also
// a stray "}") is skipped. An object cut off by the end of the body is not returned.
[[nodiscard]] std::vector<std::string_view> findRowObjects(std::string_view body,
                                                           size_t maxObjects = kMaxRatingRows);

// The integer after the first `"key":` in the object text (anywhere, also in a nested object or a
// string): an optional "-" and decimal digits, nothing else. `fallback` when the key is missing, no
// digit follows, or the number does not fit a signed 32-bit integer.
[[nodiscard]] int32_t readJsonInt(std::string_view objectText, std::string_view key, int32_t fallback);

// The string after the first `"key":`, decoded to UTF-16: the JSON escapes \" \/ \\ \b \f \n \r \t
// and \uXXXX (a high surrogate pairs with a directly following low one, an unpaired high one is
// dropped), the rest as UTF-8. Nothing when the key is missing, the value is not a string, an
// escape is unknown or malformed, the UTF-8 is invalid (bad or cut sequences, overlong forms,
// surrogate code points, values above U+10FFFF) or the closing quote is missing.
[[nodiscard]] std::optional<WString> readJsonString(std::string_view objectText, std::string_view key);

// The rows of one response body, at most kMaxRatingRows: rank defaults to the row's position from
// 1, wave and endless to 0, a nick that cannot be read is "?"; a longer nick keeps its first
// kMaxKeptNickLength units (a surrogate pair is not split).
[[nodiscard]] std::vector<RatingRow> parseRatingRows(std::string_view body);

// One GET into memory: true only for status 200 with the whole body read.
using RatingFetchFunction = bool (*)(const std::string& url, std::string& body);

// The fetch thread's work for difficulties 0 to 3 in order: one request each to `queryUrlPrefix`
// followed by the index, no retry; a failed request leaves its list empty. Catches everything, so
// `failed` (no request succeeded) and `loaded` are always set, in that order, last.
void collectRatings(RatingState& state, std::string_view queryUrlPrefix, RatingFetchFunction fetch) noexcept;

// Cut to at most `length` units; a surrogate pair at the cut goes as a whole.
void cutKeepingPairs(WString& text, size_t length);
