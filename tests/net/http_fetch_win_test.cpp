#include <windows.h>

#include <gtest/gtest.h>

#include "net/http_client_win.h"
#include "support/http_test_fixture_win.h"

namespace {

using HttpFetch = HttpTest;

TEST_F(HttpFetch, ReadsTheWholeBodyOverHttpsAndHttpWithTheQueryInThePath) {
    const std::string content = patternBytes(200000);
    ASSERT_TRUE(server.publish("patch/latest.txt", content));
    for (const std::string& base : {server.httpsUrl(), server.httpUrl()}) {
        SCOPED_TRACE(base);
        std::string body = "previous";
        uint32_t status = 0;
        EXPECT_TRUE(fetchToMemory(base + "/patch/latest.txt?diff=2", body, &status));
        EXPECT_EQ(status, 200u);
        EXPECT_TRUE(body == content) << "received " << body.size() << " bytes";
    }
    EXPECT_EQ(server.requestCount("/patch/latest.txt?diff=2"), 2);
}

TEST_F(HttpFetch, StatusOtherThan200FailsReportsTheStatusAndLeavesTheBody) {
    ASSERT_TRUE(server.publish("latest.txt", "version=145\n"));
    for (const int code : {404, 500, 206, 304}) {
        SCOPED_TRACE(code);
        ASSERT_TRUE(server.setRules(R"([{"path":"/latest.txt","action":"status","status":)" +
                                    std::to_string(code) + "}]"));
        std::string body = "previous";
        uint32_t status = 0;
        EXPECT_FALSE(fetchToMemory(server.httpsUrl() + "/latest.txt", body, &status));
        EXPECT_EQ(status, static_cast<uint32_t>(code));
        EXPECT_EQ(body, "previous");
    }
    std::string body;
    uint32_t status = 0;
    EXPECT_FALSE(fetchToMemory(server.httpsUrl() + "/missing.txt", body, &status));
    EXPECT_EQ(status, 404u);
}

TEST_F(HttpFetch, EmptyBodyIsASuccessWithAnEmptyBody) {
    ASSERT_TRUE(server.setRules(R"([{"path":"/news_v2.txt","action":"empty"}])"));
    std::string body = "previous";
    uint32_t status = 0;
    EXPECT_TRUE(fetchToMemory(server.httpsUrl() + "/news_v2.txt", body, &status));
    EXPECT_EQ(status, 200u);
    EXPECT_EQ(body, "");
}

TEST_F(HttpFetch, ServerCertificateFromAnUntrustedAuthorityFails) {
    ASSERT_TRUE(server.publish("latest.txt", "version=145\n"));
    std::string body = "previous";
    uint32_t status = 7;
    EXPECT_FALSE(fetchToMemory(server.untrustedUrl() + "/latest.txt", body, &status));
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(body, "previous");
    EXPECT_EQ(server.requestCount("/latest.txt"), 0) << "no request may be sent over an untrusted connection";
    EXPECT_GE(server.connectionCount(server.untrustedPort()), 1);
    // The same file from the trusted listener: the failure was the certificate.
    EXPECT_TRUE(fetchToMemory(server.httpsUrl() + "/latest.txt", body, &status));
}

TEST_F(HttpFetch, BodyCutShortFailsAndTheNextRequestConnectsAnew) {
    ASSERT_TRUE(server.publish("checksums.txt", patternBytes(150000)));
    const std::string cutOnce = R"({"path":"/checksums.txt","action":"cut","after":100000,"times":1,"port":)";
    ASSERT_TRUE(server.setRules("[" + cutOnce + std::to_string(server.httpsPort()) + "}," + cutOnce +
                                std::to_string(server.httpPort()) + "}]"));
    for (const std::string& base : {server.httpsUrl(), server.httpUrl()}) {
        SCOPED_TRACE(base);
        std::string body;
        uint32_t status = 0;
        EXPECT_FALSE(fetchToMemory(base + "/checksums.txt", body, &status));
        EXPECT_EQ(status, 200u);
        EXPECT_TRUE(fetchToMemory(base + "/checksums.txt", body, &status));
        EXPECT_EQ(body.size(), 150000u);
    }
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_NE(requests[0].connection, requests[1].connection);
    EXPECT_NE(requests[2].connection, requests[3].connection);
}

TEST_F(HttpFetch, ReceiveTimeOutEndsTheWaitForASilentServer) {
    HttpTimings timings = shortHttpTimings();
    timings.receiveTimeoutMs = 300;
    setHttpTimingsForTests(timings);
    ASSERT_TRUE(server.publish("latest.txt", "version=145\n"));
    ASSERT_TRUE(server.setRules(R"([{"path":"/latest.txt","delay":3}])"));
    std::string body = "previous";
    uint32_t status = 7;
    EXPECT_FALSE(fetchToMemory(server.httpsUrl() + "/latest.txt", body, &status));
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(body, "previous");
}

// A 32-bit process must survive a server that sends without end.
TEST_F(HttpFetch, BodyLargerThan64MiBFailsAndTheServerStaysUsable) {
    ASSERT_TRUE(server.publish("latest.txt", "version=145\n"));
    // Far more than the limit, but not endless, so that a client without the limit fails here
    // instead of running until the test times out.
    const struct {
        const char* framing;
        const char* rule;
    } cases[] = {
        {"chunked, 96 MiB", R"({"path":"/big","action":"endless","limit":100663296})"},
        {"until the connection closes",
         R"({"path":"/big","action":"endless","framing":"close","limit":100663296})"},
        {"chunked, one byte too many", R"({"path":"/big","action":"endless","limit":67108865})"},
        {"announced as 100 MiB",
         R"({"path":"/big","action":"endless","framing":"length","length":104857600})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.framing);
        ASSERT_TRUE(server.setRules(std::string("[") + c.rule + "]"));
        std::string body = "previous";
        uint32_t status = 0;
        EXPECT_FALSE(fetchToMemory(server.httpsUrl() + "/big", body, &status));
        EXPECT_EQ(status, 200u);
        EXPECT_TRUE(body.empty()) << body.size() << " bytes kept";
        EXPECT_TRUE(fetchToMemory(server.httpsUrl() + "/latest.txt", body, &status));
        EXPECT_TRUE(body == "version=145\n") << body.size() << " bytes";
    }
}

TEST_F(HttpFetch, BodyOfExactly64MiBIsAccepted) {
    ASSERT_TRUE(server.setRules(R"([{"path":"/big","action":"endless","limit":67108864}])"));
    std::string body;
    EXPECT_TRUE(fetchToMemory(server.httpsUrl() + "/big", body));
    EXPECT_EQ(body.size(), kMaxFetchBodyBytes);
}

TEST_F(HttpFetch, UrlsThatCannotBeSentFailWithoutAnyTraffic) {
    ASSERT_TRUE(server.publish("latest.txt", "version=145\n"));
    const std::string https = server.httpsUrl();
    const std::string longQuery = "/latest.txt?" + std::string(2047 - 12, 'q');
    const struct {
        const char* what;
        std::string url;
    } cases[] = {
        {"path and query of 2048 characters", https + longQuery + "q"},
        {"ftp scheme", "ftp://localhost:" + std::to_string(server.httpPort()) + "/latest.txt"},
        {"line break in the path", https + "/latest.txt\r\nX-Injected: 1"},
        {"non-ASCII byte", https + "/lat\xC3\xA9st.txt"},
        {"no scheme", "localhost:" + std::to_string(server.httpsPort()) + "/latest.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string body = "previous";
        uint32_t status = 7;
        EXPECT_FALSE(fetchToMemory(c.url, body, &status));
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(body, "previous");
    }
    for (const ServerEvent& event : server.events()) {
        EXPECT_NE(event.event, "connect") << "a connection was opened to port " << event.field("port");
    }
    // The longest path that fits goes out whole.
    std::string body;
    EXPECT_TRUE(fetchToMemory(https + longQuery, body));
    EXPECT_EQ(server.requestCount(longQuery), 1);
}

}  // namespace
