#include "base/saturating.h"

#include <gtest/gtest.h>
#include <thread>

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

    number = 0;
    std::thread other([&number] {
        for (int i = 0; i < 10000; ++i) addSaturating(number, 1);
    });
    for (int i = 0; i < 10000; ++i) addSaturating(number, 2);
    other.join();
    EXPECT_EQ(number.load(), 30000);
}

}  // namespace
