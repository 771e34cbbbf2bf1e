#include <windows.h>

#include <atomic>
#include <gtest/gtest.h>

#include "base/handles_win.h"
#include "net/http_client_win.h"
#include "support/http_test_fixture_win.h"

namespace {

using HttpDownload = HttpTest;

constexpr int32_t kEarlierTotal = 1000;  // bytes that earlier files of the same run had counted

TEST_F(HttpDownload, WritesTheBodyOverAnOlderLongerFileAndCountsItsBytes) {
    const std::string content = patternBytes(300000);
    ASSERT_TRUE(server.publish("files/abc.gz", content));
    ASSERT_TRUE(writeFileBytes(dir / L"abc.gz", patternBytes(500000, 7)));
    struct Case {
        std::string base;
        int32_t earlierTotal;
        int32_t total;
    };
    // A run whose earlier files counted almost 2 GiB: the total stops at the largest value instead
    // of turning negative, as the bundle and the local check do.
    const Case cases[] = {{server.httpsUrl(), kEarlierTotal, kEarlierTotal + 300000},
                          {server.httpUrl(), kEarlierTotal, kEarlierTotal + 300000},
                          {server.httpsUrl(), INT32_MAX - 1000, INT32_MAX}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.base + " after " + std::to_string(c.earlierTotal));
        std::atomic<int32_t> fileBytes{-1};
        std::atomic<int32_t> totalBytes{c.earlierTotal};
        DownloadFailure failure = DownloadFailure::LocalFile;
        EXPECT_TRUE(
            downloadToFile(c.base + "/files/abc.gz", dir / L"abc.gz", &fileBytes, &totalBytes, &failure));
        EXPECT_EQ(failure, DownloadFailure::None);
        EXPECT_TRUE(readFileBytes(dir / L"abc.gz") == content);
        EXPECT_EQ(fileBytes.load(), 300000);
        EXPECT_EQ(totalBytes.load(), c.total);
    }
}

TEST_F(HttpDownload, CreatesMissingFoldersOfTheDestination) {
    ASSERT_TRUE(server.publish("files/abc.gz", "packed"));
    EXPECT_TRUE(downloadToFile(server.httpsUrl() + "/files/abc.gz", dir / L"data\\maps\\deep/abc.gz"));
    EXPECT_EQ(readFileBytes(dir / L"data\\maps\\deep\\abc.gz"), std::string("packed"));
}

TEST_F(HttpDownload, NotFoundIsTriedThreeTimesWithThePausesBetween) {
    std::atomic<int32_t> fileBytes{5};
    std::atomic<int32_t> totalBytes{kEarlierTotal};
    DownloadFailure failure = DownloadFailure::None;
    EXPECT_FALSE(downloadToFile(server.httpsUrl() + "/files/missing.gz", dir / L"missing.gz", &fileBytes,
                                &totalBytes, &failure));
    EXPECT_EQ(failure, DownloadFailure::Network);
    EXPECT_FALSE(fileExists(dir / L"missing.gz")) << "no file is created before a 200 arrives";
    EXPECT_EQ(totalBytes.load(), kEarlierTotal);
    EXPECT_EQ(fileBytes.load(), 0);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    const HttpTimings timings = shortHttpTimings();
    EXPECT_GE(requests[1].seconds - requests[0].seconds, timings.retryPauseMs[0] / 1000.0);
    EXPECT_GE(requests[2].seconds - requests[1].seconds, timings.retryPauseMs[1] / 1000.0);
}

TEST_F(HttpDownload, EmptyBodyLeavesAnEmptyFile) {
    ASSERT_TRUE(server.setRules(R"([{"path":"/files/empty.gz","action":"empty"}])"));
    ASSERT_TRUE(writeFileBytes(dir / L"empty.gz", "old content"));
    EXPECT_TRUE(downloadToFile(server.httpsUrl() + "/files/empty.gz", dir / L"empty.gz"));
    EXPECT_EQ(readFileBytes(dir / L"empty.gz"), std::string());
}

// The stall comes after four full read blocks, so the failed attempt has counted bytes, and well
// before the end, so the block that arrives late is not the last. The pause is five times the
// stall limit: a client that lags behind the server on a busy machine still sees the gap.
constexpr size_t kStallSize = 600000;
constexpr int kBytesBeforeStall = 270000;

TEST_F(HttpDownload, StalledAttemptFailsAndTheNextStartsAgainFromByteZero) {
    const std::string content = patternBytes(kStallSize);
    ASSERT_TRUE(server.publish("files/big.gz", content));
    ASSERT_TRUE(server.setRules(R"([{"path":"/files/big.gz","action":"stall","after":)" +
                                std::to_string(kBytesBeforeStall) + R"(,"seconds":1.5,"times":1}])"));
    std::atomic<int32_t> fileBytes{0};
    std::atomic<int32_t> totalBytes{kEarlierTotal};
    EXPECT_TRUE(
        downloadToFile(server.httpsUrl() + "/files/big.gz", dir / L"big.gz", &fileBytes, &totalBytes));
    EXPECT_TRUE(readFileBytes(dir / L"big.gz") == content);
    EXPECT_EQ(fileBytes.load(), static_cast<int32_t>(kStallSize));
    EXPECT_EQ(totalBytes.load(), kEarlierTotal + static_cast<int32_t>(kStallSize))
        << "the failed attempt's bytes must be taken back";
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].connection, requests[1].connection);
}

TEST_F(HttpDownload, StallInEveryAttemptLeavesTheCountersAsTheyWere) {
    ASSERT_TRUE(server.publish("files/big.gz", patternBytes(kStallSize)));
    ASSERT_TRUE(server.setRules(R"([{"path":"/files/big.gz","action":"stall","after":)" +
                                std::to_string(kBytesBeforeStall) + R"(,"seconds":1.5}])"));
    std::atomic<int32_t> fileBytes{0};
    std::atomic<int32_t> totalBytes{kEarlierTotal};
    DownloadFailure failure = DownloadFailure::None;
    EXPECT_FALSE(downloadToFile(server.httpsUrl() + "/files/big.gz", dir / L"big.gz", &fileBytes, &totalBytes,
                                &failure));
    EXPECT_EQ(failure, DownloadFailure::Network);
    EXPECT_EQ(fileBytes.load(), 0);
    EXPECT_EQ(totalBytes.load(), kEarlierTotal);
    EXPECT_EQ(server.requestCount("/files/big.gz"), 3);
}

TEST_F(HttpDownload, BodyCutShortIsANetworkFailure) {
    ASSERT_TRUE(server.publish("files/big.gz", patternBytes(200000)));
    ASSERT_TRUE(server.setRules(R"([{"path":"/files/big.gz","action":"cut","after":150000}])"));
    std::atomic<int32_t> fileBytes{0};
    std::atomic<int32_t> totalBytes{kEarlierTotal};
    DownloadFailure failure = DownloadFailure::None;
    EXPECT_FALSE(downloadToFile(server.httpUrl() + "/files/big.gz", dir / L"big.gz", &fileBytes, &totalBytes,
                                &failure));
    EXPECT_EQ(failure, DownloadFailure::Network);
    EXPECT_EQ(fileBytes.load(), 0);
    EXPECT_EQ(totalBytes.load(), kEarlierTotal);
    EXPECT_EQ(server.requestCount("/files/big.gz"), 3);
}

TEST_F(HttpDownload, DestinationThatCannotBeWrittenFailsAtOnceWithoutRetries) {
    ASSERT_TRUE(server.publish("files/abc.gz", patternBytes(1000)));
    ASSERT_TRUE(writeFileBytes(dir / L"held.gz", "in use"));
    ASSERT_TRUE(writeFileBytes(dir / L"plainfile", "a file where a folder should be"));
    ASSERT_TRUE(CreateDirectoryW((dir / L"locked").c_str(), nullptr));
    // Held by another user without write sharing, as an antivirus or the running game would.
    UniqueKernelHandle held(CreateFileW((dir / L"held.gz").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    ImmutableFolder locked(dir / L"locked");
    if (!locked.active()) GTEST_SKIP() << locked.whyNot();

    const struct {
        const char* what;
        WString path;
    } cases[] = {
        {"file held open", dir / L"held.gz"},
        {"folder that cannot be written", dir / L"locked\\abc.gz"},
        {"folder that cannot be created", dir / L"locked\\new\\abc.gz"},
        {"a file in the way of a folder", dir / L"plainfile\\abc.gz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::atomic<int32_t> fileBytes{5};
        std::atomic<int32_t> totalBytes{kEarlierTotal};
        DownloadFailure failure = DownloadFailure::None;
        EXPECT_FALSE(
            downloadToFile(server.httpsUrl() + "/files/abc.gz", c.path, &fileBytes, &totalBytes, &failure));
        EXPECT_EQ(failure, DownloadFailure::LocalFile);
        EXPECT_EQ(fileBytes.load(), 5);
        EXPECT_EQ(totalBytes.load(), kEarlierTotal);
    }
    EXPECT_EQ(server.requestCount("/files/abc.gz"), 4) << "one attempt per destination";
    EXPECT_EQ(readFileBytes(dir / L"held.gz"), std::string("in use"));
    EXPECT_EQ(readFileBytes(dir / L"plainfile"), std::string("a file where a folder should be"));
}

}  // namespace
