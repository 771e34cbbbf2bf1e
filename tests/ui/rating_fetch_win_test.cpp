#include "ui/rating_fetch_win.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <memory>
#include <thread>

#include "support/test_env_win.h"
#include "support/test_server_win.h"

namespace {

// Runs the fetch on a thread of its own, as the launcher does, and waits for `loaded` at most 30 s.
// The state is shared, so a thread that overruns outlives the test safely.
std::shared_ptr<RatingState> fetchOnThread(const std::string& queryUrl) {
    auto state = std::make_shared<RatingState>();
    std::thread([state, queryUrl] { fetchRatings(*state, queryUrl); }).detach();
    (void)waitUntil([&] { return state->loaded.load(); }, 30000, 10);
    return state;
}

TEST(RatingFetch, ReadsEachDifficultyOnceAndFailsWhenTheServiceIsDown) {
    ScratchDir dir;
    TestServerOptions options;
    options.plainHttpPorts = options.untrustedHttpsPorts = 0;
    options.rating = "builtin";
    auto server = std::make_unique<TestServer>(dir / L"server", options);
    ASSERT_TRUE(server->started()) << server->startFailure();
    const std::string queryUrl = server->ratingQueryUrl();
    const auto state = fetchOnThread(queryUrl);
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
        EXPECT_EQ(server->requestCount(std::string("/v1/top?diff=") + difficulty), 1)
            << "no retry " << difficulty;
    }

    // The body is not signed: past kMaxRatingBodyBytes it is refused, below it read as usual.
    const auto bodyOf = [](size_t bytes) {
        const std::string head = R"({"rows":[{"rank":1,"nick":"Big","wave":9}],"padding":")";
        return head + std::string(bytes - head.size() - 2, 'x') + "\"}";
    };
    ASSERT_TRUE(server->publish("over.json", bodyOf(kMaxRatingBodyBytes + 1)));
    ASSERT_TRUE(server->publish("under.json", bodyOf(kMaxRatingBodyBytes)));
    ASSERT_TRUE(server->setRules(R"([{"path": "/v1/top?diff=1", "action": "file", "file": "over.json"},
                                     {"path": "/v1/top?diff=2", "action": "file", "file": "under.json"}])"));
    const auto capped = fetchOnThread(queryUrl);
    ASSERT_TRUE(capped->loaded);
    EXPECT_TRUE(capped->rows[1].empty());
    ASSERT_EQ(capped->rows[2].size(), 1u);
    EXPECT_EQ(capped->rows[2][0].nick, L"Big");

    server.reset();  // stopped: nothing listens on its port any more
    const auto down = fetchOnThread(queryUrl);
    ASSERT_TRUE(down->loaded);
    EXPECT_TRUE(down->failed);
    for (const auto& rows : down->rows) EXPECT_TRUE(rows.empty());
}

}  // namespace
