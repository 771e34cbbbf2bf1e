#include "ui/rating_fetch_win.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <memory>
#include <thread>

#include "support/test_env_win.h"
#include "support/test_server_win.h"

namespace {

constexpr int kFetchDeadlineMs = 30000;

// Runs the fetch on a thread of its own, as the launcher does, and waits for `loaded` at most
// until the deadline. The state is shared, so a thread that overruns outlives the test safely.
std::shared_ptr<RatingState> fetchOnThread(const std::string& queryUrl) {
    auto state = std::make_shared<RatingState>();
    std::thread([state, queryUrl] { fetchRatings(*state, queryUrl); }).detach();
    for (int waited = 0; waited < kFetchDeadlineMs && !state->loaded; waited += 10) Sleep(10);
    return state;
}

TestServerOptions ratingServerOptions() {
    TestServerOptions options;
    options.plainHttpPorts = options.untrustedHttpsPorts = 0;
    options.rating = "builtin";
    return options;
}

TEST(RatingFetch, ReadsEachDifficultyOnceAndLeavesFailedOnesEmpty) {
    ScratchDir dir;
    TestServer server(dir / L"server", ratingServerOptions());
    ASSERT_TRUE(server.started()) << server.startFailure();
    const auto state = fetchOnThread(server.ratingQueryUrl());
    ASSERT_TRUE(state->loaded);
    EXPECT_FALSE(state->failed);

    const auto& easy = state->rows[0];  // twelve rows on the server
    ASSERT_EQ(easy.size(), kMaxRatingRows);
    EXPECT_TRUE(easy[0].nick == L"Иван" && easy[0].rank == 1 && easy[0].wave == 59 && easy[0].endless == 4);
    EXPECT_EQ(easy[1].rank, 2);  // sent without rank
    EXPECT_EQ(easy[2].nick, (WString{0xD83D, 0xDC09} + L"dragon"));
    EXPECT_EQ(easy[2].wave, 57);  // not the nested one
    EXPECT_EQ(easy[3].nick, L"Ann \"the\" }{");
    ASSERT_EQ(state->rows[1].size(), 5u);
    EXPECT_EQ(state->rows[1][0].nick, L"Варвар");
    EXPECT_TRUE(state->rows[2].empty());  // 200 without "rows"
    EXPECT_TRUE(state->rows[3].empty());  // 404
    for (const char* difficulty : {"0", "1", "2", "3"}) {
        SCOPED_TRACE(difficulty);
        EXPECT_EQ(server.requestCount(std::string("/v1/top?diff=") + difficulty), 1)
            << "one request, no retry";
    }
}

TEST(RatingFetch, ServiceDownSetsFailedAndLoaded) {
    ScratchDir dir;
    std::string queryUrl;
    {
        TestServer server(dir / L"server", ratingServerOptions());
        ASSERT_TRUE(server.started()) << server.startFailure();
        queryUrl = server.ratingQueryUrl();
    }  // stopped: nothing listens on its port any more
    const auto state = fetchOnThread(queryUrl);
    ASSERT_TRUE(state->loaded);
    EXPECT_TRUE(state->failed);
    for (const auto& rows : state->rows) EXPECT_TRUE(rows.empty());
}

}  // namespace
