#include "net/content_range.h"

#include <gtest/gtest.h>

namespace {

TEST(ContentRange, OnlyAWholeRangeToTheEndOfAKnownSizeContinuesACopy) {
    struct Case {
        const char* header;
        uint64_t onDisk;
        uint64_t expectedSize;
        bool continues;
    };
    const Case cases[] = {
        {"bytes 100-199/200", 100, 200, true},
        {"Bytes  100 - 199 / 200", 100, 0, true},
        {"bytes 99-199/200", 100, 200, false},     // starts before the copy's end
        {"bytes 100-150/200", 100, 200, false},    // stops before the object's end
        {"bytes 100-199/200", 100, 300, false},    // another object's size
        {"bytes 100-199/*", 100, 0, false},        // unknown size
        {"bytes */200", 100, 200, false},          // unsatisfied
        {"bytes 100-200/200", 100, 200, false},    // past the end
        {"bytes 150-100/200", 150, 200, false},    // backwards
        {"items 100-199/200", 100, 200, false},    // another unit
        {"bytes 100-199/200 x", 100, 200, false},  // trailing words
        {"bytes 100-18446744073709551616/18446744073709551617", 100, 0, false},  // overflow
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        const auto range = parseContentRange(c.header);
        EXPECT_EQ(range && continuesCopy(*range, c.onDisk, c.expectedSize), c.continues);
    }
}

}  // namespace
