#pragma once

#include <cstdint>

// Halving an opaque picture exactly: at a scale of one half (the window of a 1080-line screen) each
// pixel of the result covers 2 x 2 pixels of the artwork, and their mean is what a resampling
// filter gives there, for a fraction of its cost. No Windows header, so the host build checks it.

// The mean of four opaque ARGB pixels, channel by channel, rounded to nearest.
[[nodiscard]] uint32_t meanOfFour(uint32_t a, uint32_t b, uint32_t c, uint32_t d);

// Writes `width` x `height` opaque ARGB pixels (4 bytes each) from 2 * width x 2 * height RGB
// pixels (3 bytes each: blue, green, red, as ARGB's lower three bytes). Strides are in bytes and may
// be larger than a row's pixels.
void halveRgbPixels(const uint8_t* source, int32_t sourceStride, uint8_t* target, int32_t targetStride,
                    int32_t width, int32_t height);
