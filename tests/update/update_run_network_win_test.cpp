// Update runs over the networks players have: through the user's proxy, with a descriptor caught
// in the middle of a publish, and with downloads that an earlier run broke off.
#include <windows.h>

#include <gtest/gtest.h>
#include <set>
#include <sstream>

#include "support/http_test_fixture_win.h"
#include "support/log_capture_win.h"
#include "support/release_test_fixture_win.h"
#include "support/update_run_fixture_win.h"
#include "support/user_proxy_win.h"

namespace {

constexpr char kProxiedHost[] = "updates.varnhold.test";

class NetworkRun : public UpdateRun {
protected:
    // The server path of a release file's object.
    [[nodiscard]] std::string objectOf(const std::string& path) const {
        std::istringstream lines(
            readFileBytes(server.root() + L"\\patch\\lurra\\144\\checksums.txt").value_or(""));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind(path + "\t", 0) == 0) return kFiles + line.substr(line.rfind('\t') + 1) + ".gz";
        }
        return "(not listed)";
    }
    [[nodiscard]] std::string bundleObject() const {
        const std::string descriptor =
            readFileBytes(server.root() + L"\\patch\\lurra\\latest.txt").value_or("");
        return kFiles + descriptor.substr(descriptor.find("\npack=") + 6, 64) + ".gz";
    }
    [[nodiscard]] size_t sizeOf(const std::string& target) const {
        return readFileBytes(server.root() + utf8ToWide(target)).value_or("").size();
    }
    // "range status" of every request for `target` from the `from`th on.
    [[nodiscard]] std::vector<std::string> answersFor(const std::string& target, size_t from = 0) const {
        std::vector<std::string> seen;
        const auto requests = server.requests();
        for (size_t i = from; i < requests.size(); ++i) {
            if (requests[i].path == target)
                seen.push_back(requests[i].range + " " + std::to_string(requests[i].status));
        }
        return seen;
    }
    const std::string kFiles = "/patch/lurra/144/files/";
};

TEST_F(NetworkRun, ThroughTheUsersProxyToServersOnlyItCanReach) {
    ProxyUser user;
    ASSERT_TRUE(user.ready()) << user.whyNot();
    TestServerOptions options{{}, 0, 0, 0};
    options.proxyPorts = 1;
    options.proxyHosts = {kProxiedHost};
    TestServer proxy(dir / L"proxy", options);
    ASSERT_TRUE(proxy.started()) << proxy.startFailure();
    ASSERT_TRUE(user.set({false, "", "127.0.0.1:" + std::to_string(proxy.proxyPort()), ""}));
    addReleaseFile("Imgs/b.dds", std::string(70000, 'b'));
    publish();
    for (size_t i = 0; i < 2; ++i) {
        setup.serverBaseUrls[i] =
            "https://" + std::string(kProxiedHost) + ":" + std::to_string(server.httpsPort(i)) + "/patch";
    }
    const WString game = newGameFolder(L"game");
    UpdateEngine engine;
    prepare(engine, game);
    EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
    EXPECT_TRUE(holdsRelease(game));
    // Every connection the update server saw is the proxy's end of a tunnel to it.
    std::set<std::string> upstreams;
    for (const ServerEvent& event : proxy.events()) {
        if (event.event != "tunnel") continue;
        EXPECT_EQ(event.field("target"), std::string(kProxiedHost) + ":" + std::to_string(primary()));
        upstreams.insert(event.field("upstream"));
    }
    int connections = 0;
    for (const ServerEvent& event : server.events()) {
        if (event.event != "connect") continue;
        EXPECT_EQ(upstreams.count(event.field("peer")), 1u)
            << "a connection that did not come through the proxy";
        ++connections;
    }
    EXPECT_GT(connections, 0);
}

TEST_F(NetworkRun, ADescriptorCaughtInTheMiddleOfAPublishIsFetchedOnceMoreBeforeTheOtherServer) {
    addReleaseFile("Scripts/a.lua", "new a");
    // The next release's signature, beside the current descriptor: one new and one old.
    publish({}, "145");
    ASSERT_TRUE(server.publish("next/latest.sig",
                               readFileBytes(server.root() + L"\\patch\\lurra\\latest.sig").value_or("")));
    publish();
    const std::string mismatch = R"([{"path":"/patch/lurra/latest.sig","port":)" + std::to_string(primary()) +
                                 R"(,"action":"file","file":"next/latest.sig")";
    struct Case {
        const char* name;
        std::string rules;
        bool fallbackAsked;
    };
    const Case cases[] = {
        {"one read of the pair mismatched", mismatch + R"(,"times":1}])", false},
        {"the pair mismatched for longer", mismatch + "}]", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(server.setRules(c.rules));
        const size_t before = server.requests().size();
        LogCapture log(newGameFolder(L"log"));
        UpdateEngine engine;
        prepare(engine, newGameFolder(L"game"));
        EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
        EXPECT_EQ(answersFor("/patch/lurra/latest.txt", before).size(), c.fallbackAsked ? 3u : 2u);
        EXPECT_EQ(requestsStartingWith("/", fallback()) > 0, c.fallbackAsked);
        EXPECT_EQ(
            log.linesWith("signature does not verify; fetching latest.txt and latest.sig once more").size(),
            1u);
    }
}

TEST_F(NetworkRun, ACopyLeftByAnEarlierRunGoesOnAndOneThatFailsItsCheckIsFetchedAgain) {
    addSmallReleaseFiles(60);
    addReleaseFile("Imgs/large.dds", patternBytes(400000));
    publish({"--bundle-max-size", "4096"});
    const std::string large = objectOf("Imgs/large.dds");
    const std::string bundle = bundleObject();
    for (const bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "the copies' bytes were damaged (a power cut)" : "the copies are sound");
        // The earlier run: both transfers break off half way, every retry fails on both servers.
        ASSERT_TRUE(server.setRules(R"([{"path":")" + large + R"(","action":"cut","times":1},{"path":")" +
                                    bundle + R"(","action":"cut","times":1},{"prefix":")" + kFiles +
                                    R"(","action":"status","status":503}])"));
        const WString game = newGameFolder(L"game");
        {
            UpdateEngine engine;
            prepare(engine, game);
            WindowStandIn window(engine, {Answer::Decline});
            EXPECT_EQ(runUpdate(engine, setup), kStateDownloadFailed);
        }
        for (const WString& copy : {game + L"\\Imgs\\large.dds.gz", game + L"\\_smallpack.gz"}) {
            ASSERT_TRUE(fileExists(copy + L".object"));
            const size_t kept = readFileBytes(copy).value_or("").size();
            if (damaged) {
                ASSERT_TRUE(writeFileBytes(copy, std::string(kept, '\0')));
            }
        }
        ASSERT_TRUE(server.clearRules());
        const size_t before = server.requests().size();
        LogCapture log(newGameFolder(L"log"));
        UpdateEngine engine;
        prepare(engine, game);
        EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
        EXPECT_TRUE(holdsRelease(game));
        for (const std::string& object : {large, bundle}) {
            std::vector<std::string> expected = {"bytes=" + std::to_string(sizeOf(object) / 2) + "- 206"};
            if (damaged) expected.push_back("- 200");
            EXPECT_EQ(answersFor(object, before), expected) << object;
        }
        EXPECT_EQ(log.linesWith("bytes of an earlier download").size(), 2u);
        EXPECT_EQ(log.linesWith("the resumed copy failed verification").size(), damaged ? 2u : 0u);
        EXPECT_TRUE(transferLeftovers(game).empty());
    }
}

}  // namespace
