// The descriptor, news and patch information fetched from the real test server (HTTPS on
// loopback), published there by the fixture builder and signed with the test key.
#include "update/signed_text_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "crypto/sha256_win.h"
#include "crypto/signature_win.h"
#include "support/language_scope.h"
#include "support/release_fixture_win.h"
#include "support/test_env_win.h"
#include "support/test_server_win.h"
#include "update/local_check_win.h"
#include "update/manifest.h"
#include "update/release_fetch_win.h"
#include "update/release_info.h"
#include "update/server_layout.h"
#include "update/update_engine.h"

namespace {

const char kNewsV2[] = "[news]\ntitle_en=New\xD0\xB0\ntext_en=t\ndate=1\nurl_en=u\n";
const char kNewsOld[] = "Old title\nOld text\n01.01\nhttps://old\n";

class ServerFetch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.started());
        game = dir / L"game";
        const std::string gameUnix = dir.unixPath() + "/game";
        ASSERT_EQ(runUnixShell("mkdir -p " + shellQuote(gameUnix + "/Scripts") + " " +
                               shellQuote(gameUnix + "/Imgs")),
                  0);
        ASSERT_TRUE(writeFileBytes(game + L"\\Scripts\\main.lua", "print('hi')\n"));
        ASSERT_TRUE(writeFileBytes(game + L"\\Imgs\\big.png", std::string(150000, 'p')));
        ASSERT_TRUE(writeFileBytes(dir / L"news_v2.txt", kNewsV2));
        ASSERT_TRUE(writeFileBytes(dir / L"news.txt", kNewsOld));
        branchUnix = server.rootUnix() + "/patch/lurra";
        branch = branchBaseUrl(server.httpsUrl(0) + "/patch", "/lurra");
    }

    // Publishes release 144 of the game folder on the server, with further builder arguments.
    void publish(std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {
            "--clean", "--out", branchUnix, "--version", "144", "--source", dir.unixPath() + "/game"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::string log;
        ASSERT_TRUE(runReleaseBuilder(arguments, &log)) << log;
    }

    std::vector<std::string> withNews() const {
        return {"--news-v2", dir.unixPath() + "/news_v2.txt", "--news", dir.unixPath() + "/news.txt"};
    }

    ScratchDir dir;
    TestServer server{dir / L"server"};
    WString game;
    std::string branchUnix;
    std::string branch;
};

TEST_F(ServerFetch, SignedDescriptorIsFetchedVerifiedAndParsed) {
    publish({"--display-version", "1.44 final", "--set-key", "pack=" + std::string(64, 'e'), "--set-key",
             "pack_size=4096", "--set-key", "launcher_size=777"});
    LanguageScope english(Language::English);
    UpdateEngine engine;
    ReleaseInfo info;
    info.gameVersion = 3;
    ASSERT_TRUE(fetchReleaseInfo(engine, branch, info));
    EXPECT_EQ(engine.state.load(), kStateCheckingForUpdates);
    EXPECT_FALSE(engine.notPublished);
    EXPECT_EQ(info.gameVersion, 144);
    EXPECT_EQ(info.launcherVersion, 116);
    EXPECT_EQ(engine.pack, std::string(64, 'e'));
    EXPECT_EQ(engine.packSize, 4096);
    EXPECT_EQ(engine.currentTotal.load(), 777);
    const EngineTexts texts = copyEngineTexts(engine);
    EXPECT_EQ(texts.statusText, L"Checking for updates...");
    EXPECT_EQ(texts.currentFile, L"Launcher update");
    EXPECT_EQ(texts.displayVersion, "1.44 final");
    EXPECT_EQ(server.requestCount("/patch/lurra/latest.txt"), 1);
    EXPECT_EQ(server.requestCount("/patch/lurra/latest.sig"), 1);
}

TEST_F(ServerFetch, StatusTextOfTheDescriptorFetchIsInTheCurrentLanguage) {
    publish();
    LanguageScope russian(Language::Russian);
    UpdateEngine engine;
    ReleaseInfo info;
    ASSERT_TRUE(fetchReleaseInfo(engine, branch, info));
    EXPECT_EQ(copyStatusText(engine), L"Проверка обновлений...");
}

TEST_F(ServerFetch, BranchWithoutADescriptorIsMarkedNotPublished) {
    UpdateEngine engine;
    ReleaseInfo info;
    info.gameVersion = 144;
    EXPECT_FALSE(fetchReleaseInfo(engine, branch, info));
    EXPECT_TRUE(engine.notPublished);
    EXPECT_EQ(info.gameVersion, 0);
    EXPECT_EQ(server.requestCount("/patch/lurra/latest.sig"), 0);
}

TEST_F(ServerFetch, OtherFailuresDoNotMarkTheBranchNotPublished) {
    publish({"--missing-signature", "latest"});
    struct Case {
        const char* name;
        std::string url;
        std::string rules;
    };
    const Case cases[] = {
        {"signature missing (404 for the .sig)", branch, "[]"},
        {"server error", branch,
         R"([{"path": "/patch/lurra/latest.txt", "action": "status", "status": 500}])"},
        {"untrusted certificate", branchBaseUrl(server.untrustedUrl(0) + "/patch", "/lurra"), "[]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(server.setRules(c.rules));
        UpdateEngine engine;
        ReleaseInfo info;
        EXPECT_FALSE(fetchReleaseInfo(engine, c.url, info));
        EXPECT_FALSE(engine.notPublished);
    }
}

TEST_F(ServerFetch, DescriptorWhoseBytesDifferFromTheSignedOnesIsRefused) {
    for (const char* variant :
         {"--crlf-after-signing", "--bad-signature", "--truncated-signature", "--empty-signature"}) {
        SCOPED_TRACE(variant);
        publish({variant, "latest", "--set-key", "pack=" + std::string(64, 'f')});
        UpdateEngine engine;
        ReleaseInfo info;
        EXPECT_FALSE(fetchReleaseInfo(engine, branch, info));
        EXPECT_EQ(engine.pack, "");  // nothing of an unverified text is used
        EXPECT_EQ(copyDisplayVersion(engine), "");
    }
}

TEST_F(ServerFetch, DescriptorSignedWithCrLfLineEndsIsAccepted) {
    publish({"--crlf-texts"});
    UpdateEngine engine;
    ReleaseInfo info;
    ASSERT_TRUE(fetchReleaseInfo(engine, branch, info));
    EXPECT_EQ(info.gameVersion, 144);
}

TEST_F(ServerFetch, ZeroOrOutOfRangeGameVersionIsNoUsableRelease) {
    for (const char* version : {"0", "99999999999", "abc"}) {
        SCOPED_TRACE(version);
        publish({"--set-key", std::string("game_version=") + version});
        UpdateEngine engine;
        ReleaseInfo info;
        ASSERT_TRUE(fetchReleaseInfo(engine, branch, info));
        EXPECT_EQ(info.gameVersion, 0);
        EXPECT_EQ(decideVersion(info.gameVersion, 0, true), VersionDecision::NoUsableRelease);
    }
}

TEST_F(ServerFetch, DescriptorValueWithAnInlineCommentReadsTheNumber) {
    publish({"--omit-key", "game_version", "--descriptor-line", "game_version=144 ; note"});
    UpdateEngine engine;
    ReleaseInfo info;
    ASSERT_TRUE(fetchReleaseInfo(engine, branch, info));
    EXPECT_EQ(info.gameVersion, 144);
}

TEST_F(ServerFetch, PublishedLauncherIsAnnouncedWithItsChecksum) {
    ASSERT_TRUE(writeFileBytes(dir / L"launcher.exe", "MZ new launcher"));
    publish({"--launcher", dir.unixPath() + "/launcher.exe", "--launcher-version", "117"});
    UpdateEngine engine;
    ReleaseInfo info;
    ASSERT_TRUE(fetchReleaseInfo(engine, branch, info));
    EXPECT_EQ(info.launcherVersion, 117);
    EXPECT_EQ(info.launcherSize, 15);
    EXPECT_EQ(info.launcherChecksum, sha256FileHex(dir / L"launcher.exe"));
    EXPECT_EQ(info.launcherChecksum.size(), 64u);
    EXPECT_TRUE(isSelfUpdateDue(info, std::string(64, '0')));
    EXPECT_FALSE(isSelfUpdateDue(info, info.launcherChecksum));
}

TEST_F(ServerFetch, NewsV2IsPreferred) {
    publish(withNews());
    UpdateEngine engine;
    fetchNews(engine, branch);
    EXPECT_EQ(copyNewsText(engine), L"[news]\ntitle_en=Newа\ntext_en=t\ndate=1\nurl_en=u\n");
    EXPECT_EQ(server.requestCount("/patch/lurra/news.txt"), 0);
}

TEST_F(ServerFetch, NewsFallsBackToTheOlderFileWhenNewsV2YieldsNothing) {
    struct Case {
        const char* name;
        std::vector<std::string> variant;
    };
    const Case cases[] = {
        {"news_v2 badly signed", {"--bad-signature", "news_v2"}},
        {"news_v2 changed after signing", {"--crlf-after-signing", "news_v2"}},
        {"news_v2 signature missing", {"--missing-signature", "news_v2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> arguments = withNews();
        arguments.insert(arguments.end(), c.variant.begin(), c.variant.end());
        publish(arguments);
        UpdateEngine engine;
        fetchNews(engine, branch);
        EXPECT_EQ(copyNewsText(engine), L"Old title\nOld text\n01.01\nhttps://old\n");
    }

    SCOPED_TRACE("news_v2 missing");
    publish(withNews());
    ASSERT_EQ(runUnixShell("rm " + shellQuote(branchUnix + "/news_v2.txt") + " " +
                           shellQuote(branchUnix + "/news_v2.sig")),
              0);
    UpdateEngine engine;
    fetchNews(engine, branch);
    EXPECT_EQ(copyNewsText(engine), L"Old title\nOld text\n01.01\nhttps://old\n");
}

TEST_F(ServerFetch, NoNewsWhenNeitherFileVerifies) {
    std::vector<std::string> arguments = withNews();
    arguments.insert(arguments.end(), {"--bad-signature", "news_v2", "--bad-signature", "news"});
    publish(arguments);
    UpdateEngine engine;
    fetchNews(engine, branch);
    EXPECT_EQ(copyNewsText(engine), L"");
}

TEST_F(ServerFetch, NewsAlreadyLoadedOrNotWantedIsNotRequested) {
    publish(withNews());
    UpdateEngine loaded;
    {
        std::lock_guard<std::mutex> guard(loaded.lock);
        loaded.newsText = L"kept";
    }
    fetchNews(loaded, branch);
    EXPECT_EQ(copyNewsText(loaded), L"kept");

    UpdateEngine unwanted;
    unwanted.fetchNews = false;
    fetchNews(unwanted, branch);
    EXPECT_EQ(copyNewsText(unwanted), L"");

    EXPECT_EQ(server.requestCount("/patch/lurra/news_v2.txt"), 0);
    EXPECT_EQ(server.requestCount("/patch/lurra/news.txt"), 0);
}

TEST_F(ServerFetch, SignedTextIsConvertedFromUtf8AndEmptyOnAnyFailure) {
    publish(withNews());
    EXPECT_EQ(fetchSignedText(branch, "/news.txt", "/news.sig"),
              L"Old title\nOld text\n01.01\nhttps://old\n");
    EXPECT_EQ(fetchSignedText(branch, "/news.txt", "/news_v2.sig"), L"");  // another text's signature
    EXPECT_EQ(fetchSignedText(branch, "/missing.txt", "/news.sig"), L"");
    EXPECT_EQ(fetchSignedText(branch, "/news.txt", "/missing.sig"), L"");
}

TEST_F(ServerFetch, PatchInformationIsFetchedAsExactBytesWithItsState) {
    publish({"--crlf-texts"});
    LanguageScope english(Language::English);
    UpdateEngine engine;
    const std::string release = releaseBaseUrl(branch, 144);
    const std::string text = fetchPatchText(engine, release);
    EXPECT_EQ(engine.state.load(), kStateDownloadingPatchInfo);
    EXPECT_EQ(copyStatusText(engine), L"Downloading patch info...");
    EXPECT_EQ(text, *readFileBytes(winePathFromUnix(branchUnix + "/144/checksums.txt")));
    EXPECT_NE(text.find("\r\n"), std::string::npos);
    const std::string signature = fetchPatchSignature(engine, release);
    EXPECT_EQ(signature.size(), 256u);
    EXPECT_TRUE(verifySignature(text, signature));

    LanguageScope russian(Language::Russian);
    EXPECT_EQ(fetchPatchText(engine, releaseBaseUrl(branch, 145)), "");
    EXPECT_EQ(copyStatusText(engine), L"Загрузка информации о патче...");
}

TEST_F(ServerFetch, EmptyPatchFileCountsAsNotLoaded) {
    publish();
    ASSERT_TRUE(server.setRules(R"([{"path": "/patch/lurra/144/checksums.txt", "action": "empty"}])"));
    UpdateEngine engine;
    EXPECT_EQ(fetchPatchText(engine, releaseBaseUrl(branch, 144)), "");
    EXPECT_FALSE(fetchPatchSignature(engine, releaseBaseUrl(branch, 144)).empty());
}

// The whole way of one release: descriptor, release base, manifest, signature, parse, local check.
TEST_F(ServerFetch, PublishedReleaseIsCheckedEndToEndAgainstTheFolder) {
    publish();
    UpdateEngine engine;
    ReleaseInfo info;
    ASSERT_TRUE(fetchReleaseInfo(engine, branch, info));
    ASSERT_EQ(decideVersion(info.gameVersion, 0, false), VersionDecision::CheckFiles);
    const std::string release = releaseBaseUrl(branch, info.gameVersion);
    const std::string text = fetchPatchText(engine, release);
    const std::string signature = fetchPatchSignature(engine, release);
    ASSERT_TRUE(verifySignature(text, signature));
    FileManifest manifest = parseManifest(text, engine);
    ASSERT_EQ(manifest.size(), 2u);
    EXPECT_EQ(engine.bytesTotal.load(), 150000 + 12);

    LocalCheckCounts counts = checkLocalFiles(engine, manifest, game);
    EXPECT_EQ(counts.toUpdate, 0);
    EXPECT_EQ(counts.couldNotCheck, 0);

    ASSERT_TRUE(writeFileBytes(game + L"\\Imgs\\big.png", std::string(149999, 'p') + "q"));
    counts = checkLocalFiles(engine, manifest, game);
    EXPECT_EQ(counts.toUpdate, 1);
    EXPECT_TRUE(manifest[0].needsUpdate);  // Imgs/big.png sorts first
    EXPECT_EQ(counts.bytesToDownload, manifest[0].packedSize);
}

TEST_F(ServerFetch, ManifestSignatureOverOtherBytesFailsVerification) {
    publish({"--crlf-after-signing", "checksums"});
    UpdateEngine engine;
    const std::string release = releaseBaseUrl(branch, 144);
    const std::string text = fetchPatchText(engine, release);
    ASSERT_FALSE(text.empty());
    EXPECT_FALSE(verifySignature(text, fetchPatchSignature(engine, release)));
}

}  // namespace
