#pragma once

#include <atomic>
#include <cstdint>

// Progress numbers are 32 bits wide (the window draws them as they are), while the sums they count
// (a release's sizes, a long download) may pass 2 GiB. Every count goes through these, stopping at
// the limit instead of wrapping round to a negative value, so that a progress bar never jumps back.

// Adds to an atomic count with a compare-and-swap loop, so that adds from several threads are
// never lost.
void addSaturating(std::atomic<int32_t>& number, int64_t amount);

// The same for a plain running sum.
[[nodiscard]] int32_t sumSaturating(int32_t sum, int64_t amount);
