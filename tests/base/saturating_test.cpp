#include "base/saturating.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

TEST(Saturating, AddStopsAtTheLimitsAndLosesNothingAcrossThreads) {
    std::atomic<int32_t> number{INT32_MAX - 5};
    addSaturating(number, 10);
    EXPECT_EQ(number.load(), INT32_MAX);
    number = INT32_MIN + 1;
    addSaturating(number, -10);
    EXPECT_EQ(number.load(), INT32_MIN);
    EXPECT_EQ(sumSaturating(2147483647, 2147483647), INT32_MAX);
    EXPECT_EQ(sumSaturating(5, 7), 12);

    // Four threads released together and adding for long enough to overlap on two cores: an add
    // that is not one atomic step loses some of the others' adds.
    number = 0;
    constexpr int kThreads = 4;
    constexpr int kAdds = 100000;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&number, &ready, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            for (int i = 0; i < kAdds; ++i) addSaturating(number, t + 1);
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(number.load(), kAdds * (1 + 2 + 3 + 4));
}

}  // namespace
