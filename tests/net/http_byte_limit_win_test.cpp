// The byte limit of file downloads: a body longer than the size the caller knows fails as a
// network failure, and nothing past the limit reaches the disk.
#include <windows.h>

#include <atomic>
#include <gtest/gtest.h>

#include "net/http_client_win.h"
#include "support/http_test_fixture_win.h"

namespace {

using HttpByteLimit = HttpTest;

constexpr uint64_t kLimit = 200000;
constexpr int32_t kEarlierTotal = 1000;

TEST_F(HttpByteLimit, BodyUpToTheLimitArrivesWhole) {
    const std::string content = patternBytes(kLimit);
    ASSERT_TRUE(server.publish("files/exact.gz", content));
    DownloadFailure failure = DownloadFailure::Network;
    EXPECT_TRUE(downloadToFile(server.httpsUrl() + "/files/exact.gz", dir / L"exact.gz", nullptr, nullptr,
                               &failure, kLimit));
    EXPECT_EQ(failure, DownloadFailure::None);
    EXPECT_TRUE(readFileBytes(dir / L"exact.gz") == content);
}

TEST_F(HttpByteLimit, LongerBodyFailsAsANetworkFailureAndStopsAtTheLimit) {
    ASSERT_TRUE(server.publish("files/long.gz", patternBytes(kLimit + 1)));
    ASSERT_TRUE(server.publish("files/long_unannounced.gz", patternBytes(3 * kLimit)));
    struct Case {
        const char* name;
        const char* path;
        const char* rules;
        uint64_t largestFile;  // what may be on disk after the failed attempts
    };
    // The "endless" bodies end after 16 MiB: were the limit broken, the test fails instead of
    // filling the disk.
    const Case cases[] = {
        // Content-Length one above the limit: refused before a byte is written.
        {"announced one byte too many", "/files/long.gz", "[]", 0},
        {"announced more than it sends", "/files/long_unannounced.gz",
         R"([{"path":"/files/long_unannounced.gz","action":"overlong","length":400001}])", 0},
        {"endless, chunked", "/files/endless.gz",
         R"([{"path":"/files/endless.gz","action":"endless","limit":16777216}])", kLimit},
        {"endless, ended by closing", "/files/endless.gz",
         R"([{"path":"/files/endless.gz","action":"endless","framing":"close","limit":16777216}])", kLimit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(server.setRules(c.rules));
        const int before = server.requestCount(c.path);
        std::atomic<int32_t> fileBytes{0};
        std::atomic<int32_t> totalBytes{kEarlierTotal};
        DownloadFailure failure = DownloadFailure::None;
        EXPECT_FALSE(downloadToFile(server.httpsUrl() + c.path, dir / L"out.gz", &fileBytes, &totalBytes,
                                    &failure, kLimit));
        EXPECT_EQ(failure, DownloadFailure::Network);
        EXPECT_EQ(server.requestCount(c.path) - before, kDownloadAttempts);
        const auto onDisk = readFileBytes(dir / L"out.gz");
        ASSERT_TRUE(onDisk);
        EXPECT_LE(onDisk->size(), c.largestFile);
        EXPECT_EQ(totalBytes.load(), kEarlierTotal);
        EXPECT_EQ(fileBytes.load(), 0);
    }
}

TEST_F(HttpByteLimit, WithoutALimitAnUnannouncedBodyIsReadToItsEnd) {
    ASSERT_TRUE(
        server.setRules(R"([{"path":"/files/endless.gz","action":"endless","framing":"close","limit":)" +
                        std::to_string(3 * kLimit) + "}]"));
    EXPECT_TRUE(downloadToFile(server.httpsUrl() + "/files/endless.gz", dir / L"out.gz"));
    EXPECT_EQ(readFileBytes(dir / L"out.gz").value_or("").size(), 3 * kLimit);
}

}  // namespace
