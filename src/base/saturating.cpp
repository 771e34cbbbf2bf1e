#include "base/saturating.h"

#include <algorithm>

int32_t sumSaturating(int32_t sum, int64_t amount) {
    const int64_t total = static_cast<int64_t>(sum) + amount;
    return static_cast<int32_t>(std::clamp<int64_t>(total, INT32_MIN, INT32_MAX));
}

void addSaturating(std::atomic<int32_t>& number, int64_t amount) {
    int32_t seen = number.load();
    while (!number.compare_exchange_weak(seen, sumSaturating(seen, amount))) {
    }
}
