#include "update/server_layout.h"

#include <gtest/gtest.h>

namespace {

TEST(ServerLayout, BranchAndReleaseBaseUrls) {
    const std::string branch = branchBaseUrl("https://updates.example/patch", "/lurra");
    EXPECT_EQ(branch, "https://updates.example/patch/lurra");
    EXPECT_EQ(releaseBaseUrl(branch, 144), "https://updates.example/patch/lurra/144");
    EXPECT_EQ(releaseBaseUrl(branchBaseUrl("https://h:8444/patch", "/ktvx"), 7),
              "https://h:8444/patch/ktvx/7");
}

}  // namespace
