#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The part of an object that a 206 response carries, as its Content-Range header states it:
// "bytes FIRST-LAST/SIZE".
struct ContentRange {
    uint64_t first = 0;
    uint64_t last = 0;  // inclusive
    uint64_t size = 0;  // of the whole object
};

// "bytes 100-199/200" (blanks around the parts allowed, the unit in any case). Nothing for any other
// form: an unknown size ("/*"), an unsatisfied range ("bytes */200"), a last byte before the first
// or at or past the size, a number that overflows.
[[nodiscard]] std::optional<ContentRange> parseContentRange(std::string_view text);

// Whether a 206 continues a copy of `onDisk` bytes: it starts exactly there, runs to the object's
// end, and the object has `expectedSize` bytes (when that is known, i.e. not 0).
[[nodiscard]] bool continuesCopy(const ContentRange& range, uint64_t onDisk, uint64_t expectedSize);
