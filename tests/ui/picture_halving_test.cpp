#include "ui/picture_halving.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

TEST(PictureHalving, MeanOfFourIsEachChannelsMeanRoundedToNearest) {
    const struct {
        const char* name;
        uint32_t a, b, c, d;
        uint32_t mean;
    } cases[] = {
        {"one colour stays", 0xFF336699, 0xFF336699, 0xFF336699, 0xFF336699, 0xFF336699},
        {"a half rounds up", 0xFF000000, 0xFF000000, 0xFF010101, 0xFF010101, 0xFF010101},
        {"a quarter rounds down", 0xFF000000, 0xFF000000, 0xFF000000, 0xFF010101, 0xFF000000},
        {"three quarters round up", 0xFF000000, 0xFF030303, 0xFF000000, 0xFF000000, 0xFF010101},
        {"each channel on its own", 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF000000, 0xFF404040},
        {"white stays white", 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(meanOfFour(c.a, c.b, c.c, c.d), c.mean) << std::hex << meanOfFour(c.a, c.b, c.c, c.d);
    }
}

TEST(PictureHalving, EachTargetPixelComesFromItsOwnTwoByTwoBlockWhateverTheStrides) {
    // 4 x 4 RGB pixels (blue, green, red) in rows of 14 bytes, the last two of a row padding (0xEE),
    // into 2 x 2 ARGB pixels in rows of 3 pixels.
    const uint32_t colours[4][4] = {
        {0x000000, 0x000004, 0x000100, 0x000300},
        {0x000008, 0x00000C, 0x000500, 0x000700},
        {0x100000, 0x300000, 0x000000, 0xFFFFFF},
        {0x500000, 0x700000, 0xFFFFFF, 0xFFFFFF},
    };
    std::vector<uint8_t> rgb(4 * 14, 0xEE);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            for (int i = 0; i < 3; ++i)
                rgb[y * 14 + x * 3 + i] = static_cast<uint8_t>(colours[y][x] >> (8 * i));
        }
    }
    const uint32_t pad = 0xEEEEEEEE;
    std::vector<uint32_t> target(2 * 3, pad);
    halveRgbPixels(rgb.data(), 14, reinterpret_cast<uint8_t*>(target.data()), 3 * 4, 2, 2);
    EXPECT_EQ(target, (std::vector<uint32_t>{0xFF000006, 0xFF000400, pad,  //
                                             0xFF400000, 0xFFBFBFBF, pad}));
}

}  // namespace
