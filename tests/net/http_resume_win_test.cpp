// Downloads of an object known by its SHA-256: a transfer that breaks off goes on where the copy
// ends, in the next attempt and in a later run, when the server answers the range request as it
// should, and starts again from byte 0 when it does not.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <gtest/gtest.h>
#include <vector>

#include "net/http_client_win.h"
#include "support/http_test_fixture_win.h"

namespace {

using HttpResume = HttpTest;

constexpr size_t kSize = 600000;
constexpr size_t kCut = 250000;
constexpr int32_t kEarlierTotal = 1000;
const std::string kIdentity(64, 'a');

std::string cutOnce(const std::string& extra = "") {
    return R"([{"path":"/files/big.gz","action":"cut","after":)" + std::to_string(kCut) + R"(,"times":1})" +
           extra + "]";
}

// What the server answered to each request for the object: "range status".
std::vector<std::string> answers(const TestServer& server) {
    std::vector<std::string> seen;
    for (const ServerRequest& request : server.requests()) {
        if (request.path == "/files/big.gz")
            seen.push_back(request.range + " " + std::to_string(request.status));
    }
    return seen;
}

TEST_F(HttpResume, ABrokenTransferGoesOnWhereTheCopyEndsOrStartsAgainFromZero) {
    const std::string content = patternBytes(kSize);
    ASSERT_TRUE(server.publish("files/big.gz", content));
    const std::string from = "bytes=" + std::to_string(kCut) + "-";
    struct Case {
        const char* name;
        std::string rules;
        std::vector<std::string> answers;
        int restarts;
        int resumed;
    };
    const Case cases[] = {
        {"the server honours the range", cutOnce(), {"- 200", from + " 206"}, 0, 1},
        {"an older server sends the whole object",
         cutOnce(R"(,{"path":"/files/big.gz","ranges":"ignore"})"),
         {"- 200", from + " 200"},
         1,
         0},
        {"another range",
         cutOnce(R"(,{"path":"/files/big.gz","ranges":"shifted","times":1})"),
         {"- 200", from + " 206", "- 200"},
         1,
         0},
        {"416",
         cutOnce(R"(,{"path":"/files/big.gz","action":"status","status":416,"times":1})"),
         {"- 200", from + " 416", "- 200"},
         1,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(server.setRules(c.rules));
        const size_t before = answers(server).size();
        std::atomic<int32_t> fileBytes{0};
        std::atomic<int32_t> totalBytes{kEarlierTotal};
        ResumableObject object{kIdentity, kSize};
        EXPECT_TRUE(downloadToFile(server.httpsUrl() + "/files/big.gz", dir / L"big.gz", &fileBytes,
                                   &totalBytes, nullptr, kSize, &object));
        EXPECT_TRUE(readFileBytes(dir / L"big.gz") == content);
        EXPECT_EQ(fileBytes.load(), static_cast<int32_t>(kSize));
        EXPECT_EQ(totalBytes.load(), kEarlierTotal + static_cast<int32_t>(kSize))
            << "only what the copy holds";
        EXPECT_EQ(object.restarts, c.restarts);
        EXPECT_EQ(object.resumedAttempts, c.resumed);
        EXPECT_EQ(object.resumed, c.resumed > 0);
        EXPECT_FALSE(fileExists(dir / L"big.gz.object")) << "a complete copy has nothing to resume";
        std::vector<std::string> seen = answers(server);
        seen.erase(seen.begin(), seen.begin() + static_cast<std::ptrdiff_t>(before));
        EXPECT_EQ(seen, c.answers);
    }
}

TEST_F(HttpResume, ACopyLeftByAnEarlierRunGoesOnOnlyForTheSameObject) {
    const std::string content = patternBytes(kSize);
    ASSERT_TRUE(server.publish("files/big.gz", content));
    // The earlier run: the transfer breaks off, the server fails the retries, the copy and its note stay.
    ASSERT_TRUE(server.setRules(cutOnce(R"(,{"path":"/files/big.gz","action":"status","status":503})")));
    std::atomic<int32_t> fileBytes{0};
    std::atomic<int32_t> totalBytes{kEarlierTotal};
    ResumableObject earlier{kIdentity, kSize};
    EXPECT_FALSE(downloadToFile(server.httpsUrl() + "/files/big.gz", dir / L"big.gz", &fileBytes, &totalBytes,
                                nullptr, kSize, &earlier));
    EXPECT_EQ(fileBytes.load(), 0);
    EXPECT_EQ(totalBytes.load(), kEarlierTotal) << "a failed download counts nothing";
    EXPECT_EQ(readFileBytes(dir / L"big.gz.object"), kIdentity);
    ASSERT_TRUE(server.clearRules());

    ASSERT_EQ(readFileBytes(dir / L"big.gz").value_or("").size(), kCut);
    struct Case {
        const char* name;
        std::string identity;
        bool fromZero;
        std::string firstAnswer;
    };
    const Case cases[] = {
        {"another object", std::string(64, 'b'), false, "- 200"},
        {"told to start from byte 0", kIdentity, true, "- 200"},
        {"the same object", kIdentity, false, "bytes=" + std::to_string(kCut) + "- 206"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each row starts from the earlier run's copy and note.
        ASSERT_TRUE(writeFileBytes(dir / L"big.gz", content.substr(0, kCut)));
        ASSERT_TRUE(writeFileBytes(dir / L"big.gz.object", kIdentity));
        const size_t before = answers(server).size();
        std::atomic<int32_t> file{0};
        std::atomic<int32_t> total{kEarlierTotal};
        ResumableObject object{c.identity, kSize, c.fromZero};
        EXPECT_TRUE(downloadToFile(server.httpsUrl() + "/files/big.gz", dir / L"big.gz", &file, &total,
                                   nullptr, kSize, &object));
        EXPECT_TRUE(readFileBytes(dir / L"big.gz") == content);
        EXPECT_EQ(total.load(), kEarlierTotal + static_cast<int32_t>(kSize));
        EXPECT_EQ(object.foundOnDisk, c.identity == kIdentity && !c.fromZero ? kCut : 0u);
        const auto all = answers(server);
        ASSERT_EQ(all.size(), before + 1);
        EXPECT_EQ(all.back(), c.firstAnswer);
    }
}

}  // namespace
