// The server loop and the decisions of an update run: which server serves, which message ends the
// run, in both languages, and what is recorded in the game folder.
#include "update/update_run_win.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "support/update_run_fixture_win.h"
#include "update/update_engine.h"

namespace {

TEST_F(UpdateRun, FreshFolderReceivesTheWholeReleaseAndRecordsIt) {
    addReleaseFile("Scripts/main.lua", "print('hi')\n");
    addReleaseFile("Imgs/ui/big.png", std::string(150000, 'p'));
    addReleaseFile("Globals/empty.txt", "");
    addReleaseFile("mss32.dll", "MZ sound");
    publish();
    for (const Language language : {kEnglish, kRussian}) {
        SCOPED_TRACE(static_cast<int>(language));
        LanguageScope scope(language);
        const WString game = newGameFolder(language == kEnglish ? L"game_en" : L"game_ru");
        UpdateEngine engine;
        prepare(engine, game);
        EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
        expectOutcome(engine, kStateFinished, kUpdatedMessage, language);
        EXPECT_TRUE(holdsRelease(game));
        EXPECT_EQ(readFileBytes(game + L"\\VarnholdLauncher.ini"), "144");
        EXPECT_EQ(readFileBytes(game + L"\\launcher_unins.ini"), uninstallListOfRelease());
    }
    EXPECT_EQ(requestsStartingWith("/", fallback()), 0);
    // A release that announces no newer launcher never fetches one.
    EXPECT_EQ(server.requestCount("/patch/lurra/latest_launcher.exe"), 0);
}

TEST_F(UpdateRun, FallbackServesWhenThePrimaryIsDownAndItsResultIsFinal) {
    addReleaseFile("Scripts/main.lua", "print('hi')\n");
    addReleaseFile("Imgs/a.png", std::string(5000, 'a'));
    publish();
    primaryDown();
    const WString game = newGameFolder(L"game");
    LanguageScope english(kEnglish);
    UpdateEngine engine;
    prepare(engine, game);
    EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
    expectOutcome(engine, kStateFinished, kUpdatedMessage, kEnglish);
    EXPECT_TRUE(holdsRelease(game));
    EXPECT_EQ(server.requestCount("/patch/lurra/latest.txt", primary()), 1);
    EXPECT_EQ(server.requestCount("/patch/lurra/latest.txt", fallback()), 1);
    EXPECT_EQ(objectRequests(primary()), 0);
    EXPECT_EQ(objectRequests(fallback()), 2);
}

TEST_F(UpdateRun, BadManifestSignatureOnThePrimaryEndsThatAttemptWithBadPatchInfoThenTheFallbackServes) {
    addReleaseFile("Scripts/main.lua", "print('hi')\n");
    publish();
    ASSERT_TRUE(
        server.setRules(R"([{"port": )" + std::to_string(primary()) +
                        R"(, "path": "/patch/lurra/144/checksums.sig", "body": "not the signature"}])"));
    LanguageScope english(kEnglish);
    {
        UpdateEngine engine;
        prepare(engine, newGameFolder(L"primary_only"));
        EXPECT_FALSE(runServerAttempt(engine, primaryUrl(), false, setup));
        expectOutcome(engine, kStateBadPatchInfo, kPatchVerificationMessage, kEnglish);
    }
    const WString game = newGameFolder(L"game");
    UpdateEngine engine;
    prepare(engine, game);
    EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
    expectOutcome(engine, kStateFinished, kUpdatedMessage, kEnglish);
    EXPECT_TRUE(holdsRelease(game));
    EXPECT_EQ(objectRequests(primary()), 0);
    EXPECT_EQ(objectRequests(fallback()), 1);
}

TEST_F(UpdateRun, PatchInformationIsCheckedInOrderAndEachFailureHasItsMessage) {
    addReleaseFile("Scripts/main.lua", "print('hi')\n");
    struct Case {
        const char* name;
        std::vector<std::string> builderArguments;
        std::string rules;
        Message message;
    };
    const std::string text = "/patch/lurra/144/checksums.txt";
    const std::string signature = "/patch/lurra/144/checksums.sig";
    const Case cases[] = {
        {"manifest missing",
         {},
         R"([{"path": ")" + text + R"(", "action": "status", "status": 404}])",
         kPatchInfoMessage},
        {"manifest empty", {}, R"([{"path": ")" + text + R"(", "action": "empty"}])", kPatchInfoMessage},
        {"manifest and signature missing",
         {},
         R"([{"prefix": "/patch/lurra/144/checksums", "action": "status", "status": 404}])",
         kPatchInfoMessage},
        {"signature missing", {"--missing-signature", "checksums"}, "[]", kPatchSignatureMessage},
        {"signature empty", {"--empty-signature", "checksums"}, "[]", kPatchSignatureMessage},
        {"signature of other bytes", {"--bad-signature", "checksums"}, "[]", kPatchVerificationMessage},
        {"text changed after signing",
         {"--crlf-after-signing", "checksums"},
         "[]",
         kPatchVerificationMessage},
        {"signed but malformed",
         {"--manifest-line", "Scripts/x.lua\tnot a size"},
         "[]",
         kCorruptPatchMessage},
        {"signed but unsafe path",
         {"--manifest-line", "../evil.dll\t1\t1\t00000000\t" + std::string(64, 'a')},
         "[]",
         kCorruptPatchMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        publish(c.builderArguments);
        ASSERT_TRUE(server.setRules(c.rules));
        for (const Language language : {kEnglish, kRussian}) {
            SCOPED_TRACE(static_cast<int>(language));
            LanguageScope scope(language);
            const WString game = newGameFolder(L"game");
            UpdateEngine engine;
            prepare(engine, game);
            EXPECT_FALSE(runServerAttempt(engine, primaryUrl(), true, setup));
            expectOutcome(engine, kStateBadPatchInfo, c.message, language);
            EXPECT_FALSE(fileExists(game + L"\\Scripts\\main.lua"));
            EXPECT_FALSE(fileExists(game + L"\\VarnholdLauncher.ini"));
        }
    }
    EXPECT_EQ(objectRequests(primary()), 0);
}

TEST_F(UpdateRun, BothServersWithoutADescriptorEndWithNoConnection) {
    for (const Language language : {kEnglish, kRussian}) {
        SCOPED_TRACE(static_cast<int>(language));
        LanguageScope scope(language);
        UpdateEngine engine;
        prepare(engine, newGameFolder(language == kEnglish ? L"game_en" : L"game_ru"));
        EXPECT_EQ(runUpdate(engine, setup), kStateNoDescriptor);
        expectOutcome(engine, kStateNoDescriptor, kNoConnectionMessage, language);
        EXPECT_TRUE(engine.notPublished);
    }
    EXPECT_EQ(server.requestCount("/patch/lurra/latest.txt", primary()), 2);
    EXPECT_EQ(server.requestCount("/patch/lurra/latest.txt", fallback()), 2);
}

TEST_F(UpdateRun, OlderOrEqualServerVersionChangesNothing) {
    addReleaseFile("Scripts/main.lua", "print('hi')\n");
    publish();
    struct Case {
        const char* installed;
        Message message;
    };
    for (const Case& c : {Case{"145", kDowngradeMessage}, Case{"144", kAlreadyInstalledMessage}}) {
        for (const Language language : {kEnglish, kRussian}) {
            SCOPED_TRACE(std::string(c.installed) + (language == kEnglish ? " en" : " ru"));
            LanguageScope scope(language);
            const WString game = newGameFolder(L"game");
            ASSERT_TRUE(writeFileBytes(game + L"\\VarnholdLauncher.ini", c.installed));
            UpdateEngine engine;
            prepare(engine, game);
            EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
            expectOutcome(engine, kStateFinished, c.message, language);
            EXPECT_EQ(readFileBytes(game + L"\\VarnholdLauncher.ini"), c.installed);
            EXPECT_FALSE(fileExists(game + L"\\Scripts\\main.lua"));
            EXPECT_FALSE(fileExists(game + L"\\launcher_unins.ini"));
        }
    }
    EXPECT_EQ(requestsStartingWith("/patch/lurra/144/", primary()), 0);
    EXPECT_EQ(requestsStartingWith("/", fallback()), 0);
}

TEST_F(UpdateRun, VerifyAllOfACurrentFolderDownloadsNothingAndRecordsTheRelease) {
    addReleaseFile("Scripts/main.lua", "print('hi')\n");
    addReleaseFile("Imgs/a.png", std::string(70000, 'a'));
    addReleaseFile("Interf/b.txt", "b");
    publish();
    for (const Language language : {kEnglish, kRussian}) {
        SCOPED_TRACE(static_cast<int>(language));
        LanguageScope scope(language);
        const WString game = newGameFolder(language == kEnglish ? L"game_en" : L"game_ru");
        installRelease(game);
        UpdateEngine engine;
        prepare(engine, game, true);
        EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
        expectOutcome(engine, kStateFinished, kCheckedMessage, language);
        EXPECT_EQ(engine.filesDone.load(), 3);
        EXPECT_EQ(readFileBytes(game + L"\\VarnholdLauncher.ini"), "144");
        EXPECT_EQ(readFileBytes(game + L"\\launcher_unins.ini"), uninstallListOfRelease());
    }
    EXPECT_EQ(server.requestCount("/patch/lurra/144/checksums.txt", primary()), 2);
    EXPECT_EQ(objectRequests(primary()), 0);
    EXPECT_EQ(requestsStartingWith("/", fallback()), 0);
}

TEST_F(UpdateRun, CancelBeforeTheFirstAttemptAsksNoServer) {
    addReleaseFile("Scripts/main.lua", "print('hi')\n");
    publish();
    UpdateEngine engine;
    prepare(engine, newGameFolder(L"game"));
    engine.stopRequested.store(true);
    EXPECT_EQ(runUpdate(engine, setup), kStateCreated);
    EXPECT_TRUE(server.requests().empty());
}

// The window's try-again answer, or the end of the launcher, can stop a run at any moment. Wherever
// the stop lands, the run claims nothing: never kStateFinished, the version file and the uninstall
// list as they were. The next run then completes the update.
TEST_F(UpdateRun, CancelAtAnyMomentClaimsNothingAndTheNextRunCompletes) {
    // 60 small files, which come in the bundle when most are missing; a large file that is current
    // in every folder and first in the manifest, so that the local check spends time reading it (long
    // enough for the watching thread to see it on a busy machine); a file always fetched singly.
    addSmallReleaseFiles(60);
    addReleaseFile("Imgs/current.dds", std::string(96u << 20, 'c'));
    addReleaseFile("Imgs/single.dds", std::string(30000, 's'));
    publish({"--bundle-max-size", "16384"});
    const std::string delayObjects = R"([{"prefix": "/patch/lurra/144/files/", "delay": 1.0}])";
    struct Case {
        const char* name;
        std::string rules;
        int missingSmallFiles;
        int32_t state;             // the stop comes once the run is in this state
        const wchar_t* fileLabel;  // and shows this label (nullptr: any)
    };
    const Case cases[] = {
        {"while the patch information loads", R"([{"path": "/patch/lurra/144/checksums.sig", "delay": 1.0}])",
         60, kStateDownloadingPatchInfo, nullptr},
        {"during the local check", "[]", 60, kStateCheckingFiles, L"Imgs/current.dds"},
        {"during a single download", delayObjects, 3, kStateDownloadingFiles, L"Imgs/single.dds"},
        {"during the bundle", delayObjects, 60, kStateDownloadingFiles, L"Small files bundle"},
    };
    LanguageScope english(kEnglish);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(server.setRules(c.rules));
        const WString game = newGameFolder(L"game");
        installRelease(game, "143");
        ASSERT_TRUE(writeFileBytes(game + L"\\launcher_unins.ini", "Scripts/old.lua\n"));
        ASSERT_TRUE(DeleteFileW((game + L"\\Imgs\\single.dds").c_str()));
        for (int i = 0; i < c.missingSmallFiles; ++i) {  // the small files come first in the list
            ASSERT_TRUE(DeleteFileW((game + L"\\" + utf8ToWide(releaseFiles[i].first)).c_str()));
        }

        UpdateEngine engine;
        prepare(engine, game);
        std::atomic<bool> ended{false};
        bool stoppedAtTheMoment = false;  // read once the thread is joined
        std::thread window([&] {
            const auto atTheMoment = [&] {
                return engine.state.load() == c.state &&
                       (!c.fileLabel || copyCurrentFile(engine) == c.fileLabel);
            };
            (void)waitUntil([&] { return ended.load() || atTheMoment(); }, 60000, 1);
            stoppedAtTheMoment = atTheMoment();
            engine.stopRequested.store(true);
        });
        const int32_t state = runUpdate(engine, setup);
        ended.store(true);
        window.join();
        EXPECT_TRUE(stoppedAtTheMoment) << "the run passed the moment before the stop came";
        EXPECT_NE(state, kStateFinished);
        EXPECT_NE(engine.state.load(), kStateFinished);
        EXPECT_EQ(readFileBytes(game + L"\\VarnholdLauncher.ini"), "143");
        EXPECT_EQ(readFileBytes(game + L"\\launcher_unins.ini"), "Scripts/old.lua\n");
        EXPECT_EQ(requestsStartingWith("/", fallback()), 0);

        ASSERT_TRUE(server.clearRules());
        UpdateEngine next;
        prepare(next, game);
        EXPECT_EQ(runUpdate(next, setup), kStateFinished);
        EXPECT_TRUE(holdsRelease(game));
        EXPECT_EQ(readFileBytes(game + L"\\VarnholdLauncher.ini"), "144");
        EXPECT_EQ(readFileBytes(game + L"\\launcher_unins.ini"), uninstallListOfRelease());
    }
}

TEST_F(UpdateRun, NewsAreFetchedOnceAndFromTheFallbackWhenThePrimaryHasNone) {
    addReleaseFile("Scripts/main.lua", "print('hi')\n");
    ASSERT_TRUE(writeFileBytes(dir / L"news.txt", "Title\nText\n01.01\nhttps://news\n"));
    publish({"--news-v2", unixPathFromWine(dir / L"news.txt")});
    primaryDown();
    UpdateEngine engine;
    prepare(engine, newGameFolder(L"game"));
    EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
    EXPECT_EQ(copyNewsText(engine), L"Title\nText\n01.01\nhttps://news\n");
    EXPECT_EQ(server.requestCount("/patch/lurra/news_v2.txt", primary()), 1);
    EXPECT_EQ(server.requestCount("/patch/lurra/news_v2.txt", fallback()), 1);

    // The next run of the same launcher session has its news already.
    ASSERT_TRUE(server.clearRules());
    engine.state.store(kStateCreated);
    EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
    EXPECT_EQ(requestsStartingWith("/patch/lurra/news", primary()), 2);   // news_v2.txt, news.txt
    EXPECT_EQ(requestsStartingWith("/patch/lurra/news", fallback()), 2);  // news_v2.txt, news_v2.sig
}

}  // namespace
