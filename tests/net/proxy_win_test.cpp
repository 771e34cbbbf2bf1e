// The user's proxy: each server is reached the way the user's Internet Options say, through a
// real CONNECT proxy on loopback that alone resolves the update server's name.
#include "net/proxy_win.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <map>
#include <set>
#include <vector>

#include "net/http_client_win.h"
#include "support/http_test_fixture_win.h"
#include "support/log_capture_win.h"
#include "support/user_proxy_win.h"

namespace {

// Resolved by the test proxy alone; the test certificate names it.
constexpr char kProxiedHost[] = "updates.varnhold.test";

TestServerOptions proxyServerOptions() {
    TestServerOptions options;
    options.trustedHttpsPorts = 1;
    options.plainHttpPorts = 1;
    options.untrustedHttpsPorts = 0;
    options.proxyPorts = 1;
    options.proxyHosts = {kProxiedHost};
    return options;
}

class UserProxyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.started()) << server.startFailure();
        ASSERT_TRUE(user.ready()) << user.whyNot();
        ASSERT_TRUE(log.ready());
        setHttpTimingsForTests(shortHttpTimings());
        resetConnection();
        ASSERT_TRUE(server.publish("patch/hello.txt", "hello"));
        // The auto-config script: the proxy for the update server's name, direct for the rest.
        ASSERT_TRUE(server.publish("proxy.pac",
                                   "function FindProxyForURL(url, host) {\n"
                                   "  if (host == \"" +
                                       std::string(kProxiedHost) + "\") return \"PROXY " + proxyAddress() +
                                       "\";\n"
                                       "  return \"DIRECT\";\n}\n"));
    }
    void TearDown() override {
        resetConnection();
        setHttpTimingsForTests(HttpTimings{});
    }

    [[nodiscard]] std::string proxyAddress() const {
        return "127.0.0.1:" + std::to_string(server.proxyPort());
    }
    [[nodiscard]] std::string proxiedUrl() const {
        return "https://" + std::string(kProxiedHost) + ":" + std::to_string(server.httpsPort()) +
               "/patch/hello.txt";
    }
    [[nodiscard]] std::string directUrl() const { return server.httpsUrl() + "/patch/hello.txt"; }
    [[nodiscard]] std::string scriptUrl(const char* name) const { return server.httpUrl() + "/" + name; }

    // For each request for hello.txt since `from` events, whether it came through the proxy: its
    // connection's peer is the proxy's own end of a tunnel. (Wine's WinHTTP may send a request over
    // a tunnel opened for another server behind the same proxy, so tunnels alone do not tell.)
    [[nodiscard]] std::vector<bool> throughTheProxy(size_t from) const {
        const auto events = server.events();
        std::set<std::string> upstreams;
        std::map<std::string, std::string> peers;
        for (const ServerEvent& event : events) {
            if (event.event == "tunnel") upstreams.insert(event.field("upstream"));
            if (event.event == "connect") peers[event.field("conn")] = event.field("peer");
        }
        std::vector<bool> through;
        for (size_t i = from; i < events.size(); ++i) {
            if (events[i].event != "request" || events[i].field("path") != "/patch/hello.txt") continue;
            through.push_back(upstreams.count(peers[events[i].field("conn")]) == 1);
        }
        return through;
    }

    ScratchDir dir;
    TestServer server{dir / L"server", proxyServerOptions()};
    ProxyUser user;
    LogCapture log{dir.path()};
};

TEST_F(UserProxyTest, EachServerGoesTheWayTheUsersSettingsSay) {
    struct Case {
        const char* name;
        UserProxy settings;
        // For the update server under the name only the proxy knows, then under localhost: whether
        // each request that reached it came through the proxy (the first does not arrive at all
        // when the way is direct).
        std::vector<bool> through;
        std::string logged;  // in each server's line
    };
    const std::string proxy = proxyAddress();
    const Case cases[] = {
        {"fixed proxy", {false, "", proxy, ""}, {true, true}, "(the user's proxy)"},
        {"fixed proxy, localhost on the bypass list",
         {false, "", proxy, "localhost;<local>"},
         {true, false},
         ", bypass list \"localhost;<local>\" (the user's proxy)"},
        {"auto-config script",
         {false, scriptUrl("proxy.pac"), "", ""},
         {true, false},
         "(from the auto-config script)"},
        {"auto-detection finds nothing, the fixed proxy is used",
         {true, "", proxy, ""},
         {true, true},
         "(the user's proxy; auto-detection failed: error 12180 ERROR_WINHTTP_AUTODETECTION_FAILED)"},
        {"discovery fails, nothing else is set: direct",
         {true, scriptUrl("missing.pac"), "", ""},
         {false},
         "auto-config script failed: error 12167 ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT)"},
        {"no settings: direct", {false, "", "", ""}, {false}, "(no proxy set)"},
    };
    for (const WindowsForTests windows : {WindowsForTests::Actual, WindowsForTests::Windows7}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) +
                         (windows == WindowsForTests::Actual ? ", this system" : ", Windows 7"));
            ASSERT_TRUE(user.set(c.settings, windows));
            const size_t before = server.events().size();
            const size_t logged = log.mark();
            std::string body;
            EXPECT_EQ(fetchToMemory(proxiedUrl(), body), c.through.size() == 2);
            EXPECT_TRUE(fetchToMemory(directUrl(), body));
            EXPECT_EQ(body, "hello");
            EXPECT_EQ(throughTheProxy(before), c.through);
            EXPECT_EQ(log.linesWith(c.logged, logged).size(), 2u) << "one line for each server";
        }
    }
    // Under Wine the automatic proxy ignores the user: the launcher finds each proxy itself.
    EXPECT_FALSE(log.linesWith("the launcher finds each server's proxy from them").empty());
    EXPECT_TRUE(log.linesWith("the system's automatic proxy").empty());
}

TEST_F(UserProxyTest, OnWindows81AndLaterTheSystemsAutomaticProxyFollowsTheUser) {
    ASSERT_TRUE(user.set({false, "", proxyAddress(), ""}, WindowsForTests::Windows81));
    std::string body;
    EXPECT_TRUE(fetchToMemory(directUrl(), body));
    EXPECT_EQ(log.linesWith("the system's automatic proxy follows them (Windows 8.1 and later)").size(), 1u);
    EXPECT_TRUE(log.linesWith("proxy for ").empty()) << "the launcher searches for no proxy itself";
    if (runningUnderWine()) {
        GTEST_SKIP() << "Wine 8 accepts WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY but connects directly, whatever "
                        "the user set: the request through the proxy needs Windows 8.1 or later";
    }
    const size_t before = server.events().size();
    EXPECT_TRUE(fetchToMemory(proxiedUrl(), body));
    EXPECT_EQ(throughTheProxy(before), std::vector<bool>{true});
}

}  // namespace
