#include "ui/picture_halving.h"

#include <cstddef>
#include <cstring>

namespace {

uint32_t channel(uint32_t pixel, int shift) { return (pixel >> shift) & 0xFFu; }

uint32_t rgbPixel(const uint8_t* row, int32_t x) {
    const uint8_t* p = row + 3 * static_cast<size_t>(x);
    return 0xFF000000u | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

}  // namespace

uint32_t meanOfFour(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    uint32_t mean = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        mean |= ((channel(a, shift) + channel(b, shift) + channel(c, shift) + channel(d, shift) + 2) / 4)
                << shift;
    }
    return mean;
}

void halveRgbPixels(const uint8_t* source, int32_t sourceStride, uint8_t* target, int32_t targetStride,
                    int32_t width, int32_t height) {
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* upper = source + static_cast<ptrdiff_t>(2 * y) * sourceStride;
        const uint8_t* lower = upper + sourceStride;
        uint8_t* out = target + static_cast<ptrdiff_t>(y) * targetStride;
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t pixel = meanOfFour(rgbPixel(upper, 2 * x), rgbPixel(upper, 2 * x + 1),
                                              rgbPixel(lower, 2 * x), rgbPixel(lower, 2 * x + 1));
            std::memcpy(out + 4 * static_cast<size_t>(x), &pixel, sizeof pixel);
        }
    }
}
