#include <windows.h>

#include <gtest/gtest.h>
#include <set>

#include "net/http_client_win.h"
#include "support/http_test_fixture_win.h"

namespace {

using HttpConnection = HttpTest;

std::set<int> connectionsOn(const std::vector<ServerRequest>& requests, uint16_t port) {
    std::set<int> connections;
    for (const ServerRequest& request : requests) {
        if (request.port == port) connections.insert(request.connection);
    }
    return connections;
}

TEST_F(HttpConnection, RunOfRequestsToOneServerUsesOneConnection) {
    ASSERT_TRUE(server.publish("patch/latest.txt", "version=145\n"));
    ASSERT_TRUE(server.publish("patch/latest.sig", patternBytes(256)));
    ASSERT_TRUE(server.publish("patch/files/a.gz", patternBytes(100000)));
    for (const std::string& base : {server.httpsUrl(0), server.httpUrl(0)}) {
        SCOPED_TRACE(base);
        std::string body;
        EXPECT_TRUE(fetchToMemory(base + "/patch/latest.txt", body));
        EXPECT_TRUE(fetchToMemory(base + "/patch/latest.sig", body));
        EXPECT_TRUE(downloadToFile(base + "/patch/files/a.gz", dir / L"a.gz"));
        EXPECT_TRUE(fetchToMemory(base + "/patch/latest.txt?again", body));
    }
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 8u);
    EXPECT_EQ(connectionsOn(requests, server.httpsPort(0)).size(), 1u);
    EXPECT_EQ(connectionsOn(requests, server.httpPort(0)).size(), 1u);
    EXPECT_EQ(server.connectionCount(server.httpsPort(0)), 1);
    EXPECT_EQ(server.connectionCount(server.httpPort(0)), 1);
}

TEST_F(HttpConnection, RequestToTheOtherServerConnectsToItAndTheFirstKeepsItsOwn) {
    ASSERT_TRUE(server.publish("patch/latest.txt", "version=145\n"));
    std::string body;
    EXPECT_TRUE(fetchToMemory(server.httpsUrl(0) + "/patch/latest.txt", body));
    EXPECT_TRUE(fetchToMemory(server.httpsUrl(0) + "/patch/latest.txt", body));
    EXPECT_TRUE(fetchToMemory(server.httpsUrl(1) + "/patch/latest.txt", body));
    EXPECT_TRUE(fetchToMemory(server.httpsUrl(1) + "/patch/latest.txt", body));
    // Same host and port, other scheme: a server of its own.
    EXPECT_TRUE(fetchToMemory(server.httpUrl(0) + "/patch/latest.txt", body));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].connection, requests[1].connection);
    EXPECT_EQ(requests[2].connection, requests[3].connection);
    EXPECT_NE(requests[1].connection, requests[2].connection);
    EXPECT_EQ(server.connectionCount(server.httpsPort(0)), 1);
    EXPECT_EQ(server.connectionCount(server.httpsPort(1)), 1);
    EXPECT_EQ(server.connectionCount(server.httpPort(0)), 1);
}

}  // namespace
