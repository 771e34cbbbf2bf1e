// Update runs over the networks players have: the user's proxy, a descriptor caught in the middle
// of a publish, and transfers of game files and the bundle that break off, within a run and
// between runs.
#include <windows.h>

#include <gtest/gtest.h>
#include <set>
#include <sstream>

#include "net/http_client_win.h"
#include "support/http_test_fixture_win.h"
#include "support/log_capture_win.h"
#include "support/release_test_fixture_win.h"
#include "support/update_run_fixture_win.h"
#include "support/user_proxy_win.h"
#include "update/update_engine.h"
#include "update/update_run_win.h"

namespace {

constexpr char kProxiedHost[] = "updates.varnhold.test";
constexpr size_t kLargeSize = 400000;

class NetworkRun : public UpdateRun {
protected:
    // The manifest's object name of a release file.
    [[nodiscard]] std::string objectOf(const std::string& path) const {
        std::istringstream lines(
            readFileBytes(server.root() + L"\\patch\\lurra\\144\\checksums.txt").value_or(""));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind(path + "\t", 0) == 0)
                return "/patch/lurra/144/files/" + line.substr(line.rfind('\t') + 1) + ".gz";
        }
        return "(not listed)";
    }
    [[nodiscard]] std::string bundleObject() const {
        const std::string descriptor =
            readFileBytes(server.root() + L"\\patch\\lurra\\latest.txt").value_or("");
        const size_t pack = descriptor.find("\npack=");
        return pack == std::string::npos
                   ? "(none)"
                   : "/patch/lurra/144/files/" + descriptor.substr(pack + 6, 64) + ".gz";
    }
    // "range status" of every request for `target`, in order.
    [[nodiscard]] std::vector<std::string> answersFor(const std::string& target) const {
        std::vector<std::string> seen;
        for (const ServerRequest& request : server.requests()) {
            if (request.path == target) seen.push_back(request.range + " " + std::to_string(request.status));
        }
        return seen;
    }
    [[nodiscard]] long long bytesSentFor(const std::string& target) const {
        long long bytes = 0;
        for (const ServerEvent& event : server.events()) {
            if (event.event == "sent" && event.field("path") == target) bytes += event.number("bytes");
        }
        return bytes;
    }
    // Small files for the bundle and one large file of bytes that gzip cannot shrink.
    void addBundleAndLargeFile() {
        addSmallReleaseFiles(60);
        addReleaseFile("Imgs/large.dds", patternBytes(kLargeSize));
        publish({"--bundle-max-size", "4096"});
    }
    [[nodiscard]] std::string cutAtHalf(const std::string& target, const std::string& then = "") const {
        return R"({"path":")" + target + R"(","action":"cut","times":1})" + then;
    }
};

TEST_F(NetworkRun, ThroughTheUsersProxyToServersOnlyItCanReach) {
    ProxyUser user;
    ASSERT_TRUE(user.ready()) << user.whyNot();
    TestServerOptions options;
    options.trustedHttpsPorts = options.plainHttpPorts = options.untrustedHttpsPorts = 0;
    options.proxyPorts = 1;
    options.proxyHosts = {kProxiedHost};
    TestServer proxy(dir / L"proxy", options);
    ASSERT_TRUE(proxy.started()) << proxy.startFailure();
    ASSERT_TRUE(user.set({false, "", "127.0.0.1:" + std::to_string(proxy.proxyPort()), ""}));
    addReleaseFile("Scripts/a.lua", "new a");
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
    expectOutcome(engine, kStateFinished, kUpdatedMessage, appSettings().language.load());
    EXPECT_TRUE(holdsRelease(game));

    std::set<std::string> upstreams;
    for (const ServerEvent& event : proxy.events()) {
        if (event.event != "tunnel") continue;
        EXPECT_EQ(event.field("target"), std::string(kProxiedHost) + ":" + std::to_string(primary()));
        upstreams.insert(event.field("upstream"));
    }
    EXPECT_FALSE(upstreams.empty()) << "the proxy opened no tunnel";
    int fromTheProxy = 0;
    for (const ServerEvent& event : server.events()) {
        if (event.event != "connect") continue;
        EXPECT_EQ(upstreams.count(event.field("peer")), 1u)
            << "a connection that did not come through the proxy";
        ++fromTheProxy;
    }
    EXPECT_GT(fromTheProxy, 0);
    EXPECT_EQ(requestsStartingWith("/", fallback()), 0);
}

TEST_F(NetworkRun, ADescriptorCaughtInTheMiddleOfAPublishIsFetchedOnceMoreBeforeTheOtherServer) {
    addReleaseFile("Scripts/a.lua", "new a");
    publish();
    // The next release's signature, published while the current descriptor is still in place.
    publish({}, "145");
    const std::string newSignature =
        readFileBytes(server.root() + L"\\patch\\lurra\\latest.sig").value_or("");
    publish();
    ASSERT_TRUE(server.publish("next/latest.sig", newSignature));
    const std::string signature = "/patch/lurra/latest.sig";
    struct Case {
        const char* name;
        std::string rules;
        int primaryPairs;
        bool fallbackAsked;
    };
    const Case cases[] = {
        {"one read of the pair mismatched",
         R"([{"path":")" + signature + R"(","port":)" + std::to_string(primary()) +
             R"(,"action":"file","file":"next/latest.sig","times":1}])",
         2, false},
        {"the pair mismatched for longer",
         R"([{"path":")" + signature + R"(","port":)" + std::to_string(primary()) +
             R"(,"action":"file","file":"next/latest.sig"}])",
         2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(server.setRules(c.rules));
        const size_t before = server.requests().size();
        LogCapture log(newGameFolder(L"log"));
        UpdateEngine engine;
        prepare(engine, newGameFolder(L"game"));
        EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
        int pairs = 0;
        bool fallbackAsked = false;
        const auto requests = server.requests();
        for (size_t i = before; i < requests.size(); ++i) {
            pairs += requests[i].port == primary() && requests[i].path == "/patch/lurra/latest.txt" ? 1 : 0;
            fallbackAsked = fallbackAsked || requests[i].port == fallback();
        }
        EXPECT_EQ(pairs, c.primaryPairs);
        EXPECT_EQ(fallbackAsked, c.fallbackAsked);
        EXPECT_EQ(
            log.linesWith("signature does not verify; fetching latest.txt and latest.sig once more").size(),
            1u);
    }
}

TEST_F(NetworkRun, GameFilesAndTheBundleGoOnWhereABrokenTransferEnded) {
    addBundleAndLargeFile();
    const std::string large = objectOf("Imgs/large.dds");
    const std::string bundle = bundleObject();
    ASSERT_TRUE(server.setRules("[" + cutAtHalf(large, ",") + cutAtHalf(bundle) + "]"));
    const WString game = newGameFolder(L"game");
    UpdateEngine engine;
    prepare(engine, game);
    EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
    EXPECT_TRUE(holdsRelease(game));
    for (const std::string& object : {large, bundle}) {
        SCOPED_TRACE(object);
        const auto answers = answersFor(object);
        ASSERT_EQ(answers.size(), 2u);
        EXPECT_EQ(answers[1].substr(answers[1].size() - 3), "206");
        const long long size = static_cast<long long>(
            readFileBytes(server.root() + utf8ToWide(object).replace(0, 1, L"\\")).value_or("").size());
        EXPECT_EQ(bytesSentFor(object), size) << "every byte travelled once";
    }
    EXPECT_TRUE(transferLeftovers(game).empty());
}

TEST_F(NetworkRun, ACopyLeftByAnEarlierRunGoesOnAndOneThatFailsItsCheckIsFetchedAgain) {
    addBundleAndLargeFile();
    const std::string large = objectOf("Imgs/large.dds");
    const std::string bundle = bundleObject();
    struct Case {
        const char* name;
        bool damageTheCopies;
        std::vector<std::string> answersInTheSecondRun;  // of each object, after the first run's
    };
    const Case cases[] = {
        {"the copies are sound", false, {"bytes=", "206"}},
        {"the copies' bytes were damaged (a power cut)", true, {"bytes=", "206", "-", "200"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The first run: both transfers break off half way, every retry fails on both servers.
        ASSERT_TRUE(
            server.setRules("[" + cutAtHalf(large, ",") + cutAtHalf(bundle, ",") +
                            R"({"prefix":"/patch/lurra/144/files/","action":"status","status":503}])"));
        const WString game = newGameFolder(L"game");
        {
            UpdateEngine engine;
            prepare(engine, game);
            WindowStandIn window(engine, {Answer::Decline});
            EXPECT_EQ(runUpdate(engine, setup), kStateDownloadFailed);
        }
        ASSERT_TRUE(fileExists(game + L"\\Imgs\\large.dds.gz.object"));
        ASSERT_TRUE(fileExists(game + L"\\_smallpack.gz.object"));
        for (const WString& copy : {game + L"\\Imgs\\large.dds.gz", game + L"\\_smallpack.gz"}) {
            if (!c.damageTheCopies) continue;
            const std::string kept = readFileBytes(copy).value_or("");
            ASSERT_FALSE(kept.empty());
            ASSERT_TRUE(writeFileBytes(copy, std::string(kept.size(), '\0')));
        }
        ASSERT_TRUE(server.clearRules());
        const size_t largeBefore = answersFor(large).size();
        const size_t bundleBefore = answersFor(bundle).size();
        LogCapture log(newGameFolder(L"log"));
        UpdateEngine engine;
        prepare(engine, game);
        EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
        EXPECT_TRUE(holdsRelease(game));
        for (const auto& [object, before] :
             {std::pair{large, largeBefore}, std::pair{bundle, bundleBefore}}) {
            SCOPED_TRACE(object);
            const auto answers = answersFor(object);
            ASSERT_EQ(answers.size() - before, c.answersInTheSecondRun.size() / 2);
            for (size_t i = 0; i + 1 < c.answersInTheSecondRun.size(); i += 2) {
                const std::string& seen = answers[before + i / 2];
                EXPECT_EQ(seen.rfind(c.answersInTheSecondRun[i], 0), 0u) << seen;
                EXPECT_EQ(seen.substr(seen.size() - 3), c.answersInTheSecondRun[i + 1]) << seen;
            }
        }
        EXPECT_EQ(log.linesWith("bytes of an earlier download").size(), 2u);
        EXPECT_EQ(log.linesWith("the resumed copy failed verification").size(), c.damageTheCopies ? 2u : 0u);
        EXPECT_TRUE(transferLeftovers(game).empty());
    }
}

}  // namespace
