#include "crypto/hex_text.h"

#include <gtest/gtest.h>

namespace {

TEST(LowerHex, WritesTwoLowerCaseDigitsPerByteInByteOrder) {
    const uint8_t bytes[] = {0x00, 0x0F, 0xA0, 0xFF, 0x5C, 0xE9};
    EXPECT_EQ(lowerHex(bytes, sizeof bytes), "000fa0ff5ce9");
    EXPECT_EQ(lowerHex(bytes, 0), "");
}

}  // namespace
