#include "base/utf8.h"

#include <gtest/gtest.h>
#include <string>

namespace {

// What the decoder reads at the start of some bytes: a code point, or an invalid sequence and how
// many bytes it passes over (the host's code page stand-in puts one U+FFFD for them).
TEST(Utf8, TakesShortestFormsOnlyAndPassesOverNoMoreThanABrokenSequence) {
    struct Case {
        std::string bytes;
        bool valid;
        char32_t codePoint;
        size_t length;
    };
    const Case cases[] = {
        {"A", true, U'A', 1},
        {"\xD0\x98", true, 0x418, 2},
        {"\xF0\x9F\x98\x80", true, 0x1F600, 4},
        {"\xE0\x80\xA2", false, 0, 3},      // overlong quote
        {"\xED\xA0\x80", false, 0, 3},      // U+D800
        {"\xF4\x90\x80\x80", false, 0, 4},  // U+110000
        {"\xC0\xAF", false, 0, 1},          // never a lead byte
        {"\x80", false, 0, 1},
        {"\xE2\x82"
         "A",
         false, 0, 2},  // the "A" that broke it is read next
        {"\xE2\x82", false, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "first byte " << static_cast<int>(static_cast<unsigned char>(c.bytes[0])) << ", "
                     << c.bytes.size() << " bytes");
        const Utf8Sequence sequence = decodeUtf8(c.bytes, 0);
        EXPECT_EQ(sequence.valid, c.valid);
        if (c.valid) {
            EXPECT_EQ(sequence.codePoint, c.codePoint);
        }
        EXPECT_EQ(sequence.length, c.length);
    }
    WString pair;
    appendUtf16(pair, 0x1F600);
    EXPECT_EQ(pair, (WString{0xD83D, 0xDE00}));
}

}  // namespace
