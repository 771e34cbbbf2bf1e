// An update run's file work: the bundle threshold, files in use, failed downloads and their lists,
// files that could not be checked and the questions about them, and the launcher self-update
// inside a run (a self-update that fails here, so the test process is never replaced).
#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>

#include "base/paths_win.h"
#include "crypto/sha256_win.h"
#include "support/file_holder_win.h"
#include "support/update_run_fixture_win.h"
#include "update/update_engine.h"
#include "update/update_run_win.h"

namespace {

const std::string kObjectPrefix = "/patch/lurra/144/files/";

std::string upperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

TEST_F(UpdateRun, BundleIsTriedFirstOnlyFromFiftyFilesAndWithAFullPackName) {
    addSmallReleaseFiles(50);
    struct Case {
        int missingFiles;
        size_t packLength;
        bool bundleTried;
    };
    const Case cases[] = {{49, 64, false}, {50, 64, true}, {50, 63, false}, {50, 65, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.missingFiles) + " files, pack of " + std::to_string(c.packLength));
        // A pack that names no published bundle: the bundle step fails and every file comes singly.
        const std::string pack(c.packLength, 'c');
        publish({"--set-key", "pack=" + pack, "--set-key", "pack_size=1000"});
        const WString game = newGameFolder(L"game");
        installRelease(game, "");
        for (int i = 0; i < c.missingFiles; ++i) {
            char name[48];
            std::snprintf(name, sizeof name, "\\Scripts\\file%03d.lua", i);
            ASSERT_TRUE(DeleteFileW((game + utf8ToWide(name)).c_str()));
        }
        const size_t before = server.requests().size();
        UpdateEngine engine;
        prepare(engine, game);
        EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
        EXPECT_TRUE(holdsRelease(game));

        std::vector<std::string> objects;
        const std::vector<ServerRequest> requests = server.requests();
        for (size_t i = before; i < requests.size(); ++i) {
            if (requests[i].path.rfind(kObjectPrefix, 0) == 0) objects.push_back(requests[i].path);
        }
        const std::string bundle = kObjectPrefix + pack + ".gz";
        ASSERT_FALSE(objects.empty());
        EXPECT_EQ(objects.front() == bundle, c.bundleTried);
        const auto singles = std::count_if(objects.begin(), objects.end(),
                                           [&bundle](const std::string& path) { return path != bundle; });
        EXPECT_EQ(singles, c.missingFiles);
    }
}

TEST_F(UpdateRun, BundleDeliversTheSmallFilesAndOnlyTheRestAreFetchedSingly) {
    addSmallReleaseFiles(60);
    addReleaseFile("Imgs/big1.png", std::string(100000, 'x'));
    addReleaseFile("Imgs/big2.png", std::string(120000, 'y'));
    publish({"--bundle-max-size", "4096"});
    const WString game = newGameFolder(L"game");
    UpdateEngine engine;
    prepare(engine, game);
    EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
    expectOutcome(engine, kStateFinished, kUpdatedMessage, appSettings().language.load());
    EXPECT_TRUE(holdsRelease(game));

    // The single downloads were counted anew after the bundle: the two large files and their
    // packed sizes, as the manifest lists them.
    const std::string manifest =
        readFileBytes(server.root() + L"\\patch\\lurra\\144\\checksums.txt").value_or("");
    int64_t bigPackedBytes = 0;
    std::vector<std::string> bigObjects;
    std::istringstream lines(manifest);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string path, size, packed, crc, sha;
        std::getline(fields, path, '\t');
        std::getline(fields, size, '\t');
        std::getline(fields, packed, '\t');
        std::getline(fields, crc, '\t');
        std::getline(fields, sha, '\t');
        if (path.rfind("Imgs/", 0) != 0) continue;
        bigPackedBytes += std::stoll(packed);
        bigObjects.push_back(kObjectPrefix + sha + ".gz");
    }
    ASSERT_EQ(bigObjects.size(), 2u);
    EXPECT_EQ(engine.filesTotal.load(), 2);
    EXPECT_EQ(engine.bytesTotal.load(), bigPackedBytes);

    std::vector<std::string> objects;
    for (const ServerRequest& request : server.requests()) {
        if (request.path.rfind(kObjectPrefix, 0) == 0) objects.push_back(request.path);
    }
    ASSERT_EQ(objects.size(), 3u);
    const std::string descriptor = readFileBytes(server.root() + L"\\patch\\lurra\\latest.txt").value_or("");
    const size_t pack = descriptor.find("\npack=");
    ASSERT_NE(pack, std::string::npos);
    EXPECT_EQ(objects.front(), kObjectPrefix + descriptor.substr(pack + 6, 64) + ".gz");
    EXPECT_EQ(std::vector<std::string>(objects.begin() + 1, objects.end()), bigObjects);
    EXPECT_FALSE(fileExists(game + L"\\_smallpack.gz"));
    EXPECT_FALSE(fileExists(game + L"\\_smallpack.bin"));
}

TEST_F(UpdateRun, FileInUseEndsTheRunWithItsListAndTheFallbackIsNotTried) {
    addReleaseFile("Scripts/a.lua", "new a");
    addReleaseFile("Scripts/b.lua", "new b");
    addReleaseFile("Scripts/c.lua", "new c");
    publish();
    struct Case {
        Language language;
        const wchar_t* question;
    };
    const Case cases[] = {
        {kEnglish,
         L"Could not update the following files:\n\nScripts/b.lua (error: could not replace file)\n\n"},
        {kRussian,
         L"Не удалось обновить следующие файлы:\n\nScripts/b.lua (ошибка: не удалось заменить файл)\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.language));
        LanguageScope scope(c.language);
        const WString game = newGameFolder(c.language == kEnglish ? L"game_en" : L"game_ru");
        writeBelow(game, "Scripts/b.lua", "old b");
        // Another program reads b.lua and lets others read it, but not replace it.
        FileHolder holder(game + L"\\Scripts\\b.lua", L"r", L"r");
        ASSERT_TRUE(holder.holding());
        UpdateEngine engine;
        prepare(engine, game);
        WindowStandIn window(engine, {Answer::ContinueAnyway});
        EXPECT_EQ(runUpdate(engine, setup), kStateFilesInUse);
        expectOutcome(engine, kStateFilesInUse, kInUseMessage, c.language);
        EXPECT_EQ(window.questions(), std::vector<WString>{c.question});
        EXPECT_EQ(readFileBytes(game + L"\\Scripts\\b.lua"), "old b");
        EXPECT_EQ(readFileBytes(game + L"\\Scripts\\a.lua"), "new a");
        EXPECT_FALSE(fileExists(game + L"\\Scripts\\b.lua.new"));
        EXPECT_FALSE(fileExists(game + L"\\VarnholdLauncher.ini"));
        EXPECT_FALSE(fileExists(game + L"\\launcher_unins.ini"));
    }
    EXPECT_EQ(requestsStartingWith("/", fallback()), 0);
}

TEST_F(UpdateRun, FailedDownloadIsListedOnlyWhenTheLastServerFailsToo) {
    addReleaseFile("Scripts/a.lua", "new a");
    addReleaseFile("Scripts/b.lua", "new b");
    publish({"--missing-object", "Scripts/b.lua"});
    LanguageScope english(kEnglish);
    const WString game = newGameFolder(L"game");
    UpdateEngine engine;
    prepare(engine, game);
    WindowStandIn window(engine, {Answer::ContinueAnyway});
    EXPECT_EQ(runUpdate(engine, setup), kStateDownloadFailed);
    expectOutcome(engine, kStateDownloadFailed, kNotDownloadedMessage, kEnglish);
    // One list, from the fallback's attempt; the primary's failure moved the run on silently.
    EXPECT_EQ(window.questions(),
              std::vector<WString>{
                  L"Could not update the following files:\n\nScripts/b.lua (error: download failed)\n\n"});
    EXPECT_EQ(objectRequests(primary()), 2 + 2);  // a, then three attempts at b
    EXPECT_EQ(objectRequests(fallback()), 3);     // three attempts at b
    EXPECT_EQ(readFileBytes(game + L"\\Scripts\\a.lua"), "new a");
    EXPECT_FALSE(fileExists(game + L"\\VarnholdLauncher.ini"));
    EXPECT_FALSE(fileExists(game + L"\\launcher_unins.ini"));
}

TEST_F(UpdateRun, LauncherUpdateIsDueOnlyForANewerLauncherWithAnotherHash) {
    addReleaseFile("Scripts/a.lua", "a");
    ASSERT_TRUE(writeFileBytes(dir / L"published_launcher.exe", "a newer launcher"));
    const std::string runningHash = sha256FileHex(modulePath());
    ASSERT_EQ(runningHash.size(), 64u);
    struct Case {
        const char* version;
        std::string checksum;
        bool due;
    };
    const Case cases[] = {
        {"116", std::string(64, 'b'), false},  {"117", runningHash, false},
        {"117", upperCase(runningHash), true}, {"abc", std::string(64, 'b'), false},
        {"250", std::string(64, 'b'), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.version) + " " + c.checksum);
        publish({"--launcher", unixPathFromWine(dir / L"published_launcher.exe"), "--launcher-version",
                 c.version, "--set-key", "launcher_checksum=" + c.checksum});
        const WString game = newGameFolder(L"game");
        installRelease(game);
        const int before = server.requestCount("/patch/lurra/latest_launcher.exe");
        LanguageScope english(kEnglish);
        UpdateEngine engine;
        prepare(engine, game);
        EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
        expectOutcome(engine, kStateFinished, kAlreadyInstalledMessage, kEnglish);
        EXPECT_EQ(server.requestCount("/patch/lurra/latest_launcher.exe") - before, c.due ? 1 : 0);
        EXPECT_EQ(copyEngineTexts(engine).launcherUpdateText.empty(), !c.due);
        // The published file does not match the checksum: it was deleted, never run.
        EXPECT_FALSE(fileExists(launcher + L"\\latest_launcher.download"));
    }
}

TEST_F(UpdateRun, FailedLauncherUpdateStillUpdatesTheGameFilesInTheSameAttempt) {
    addReleaseFile("Scripts/a.lua", "a");
    addReleaseFile("Imgs/b.png", std::string(3000, 'b'));
    ASSERT_TRUE(writeFileBytes(dir / L"published_launcher.exe", "a newer launcher"));
    publish({"--launcher", unixPathFromWine(dir / L"published_launcher.exe"), "--launcher-version", "117",
             "--set-key", "launcher_checksum=" + std::string(64, 'b')});
    for (const Language language : {kEnglish, kRussian}) {
        SCOPED_TRACE(static_cast<int>(language));
        LanguageScope scope(language);
        const WString game = newGameFolder(language == kEnglish ? L"game_en" : L"game_ru");
        UpdateEngine engine;
        prepare(engine, game);
        EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
        expectOutcome(engine, kStateFinished, kUpdatedMessage, language);
        EXPECT_TRUE(holdsRelease(game));
        EXPECT_EQ(copyEngineTexts(engine).launcherUpdateText,
                  language == kEnglish ? L"Updating the launcher to v1.17" : L"Обновление лаунчера до v1.17");
    }
    EXPECT_EQ(server.requestCount("/patch/lurra/latest_launcher.exe", primary()), 2);
    EXPECT_EQ(requestsStartingWith("/", fallback()), 0);
    EXPECT_FALSE(fileExists(launcher + L"\\latest_launcher.download"));
    EXPECT_FALSE(fileExists(launcher + L"\\old_launcher.bak"));
}

TEST_F(UpdateRun, NewerLauncherIsFetchedEvenWhenTheReleaseIsUnusable) {
    addReleaseFile("Scripts/a.lua", "a");
    ASSERT_TRUE(writeFileBytes(dir / L"published_launcher.exe", "a newer launcher"));
    publish({"--launcher", unixPathFromWine(dir / L"published_launcher.exe"), "--launcher-version", "117",
             "--set-key", "launcher_checksum=" + std::string(64, 'b')},
            "0");
    UpdateEngine engine;
    prepare(engine, newGameFolder(L"game"));
    EXPECT_EQ(runUpdate(engine, setup), kStateNoDescriptor);
    expectOutcome(engine, kStateNoDescriptor, kNoConnectionMessage, appSettings().language.load());
    // On each server: descriptor, signature, then the launcher, and nothing of a release.
    for (const uint16_t port : {primary(), fallback()}) {
        std::vector<std::string> paths;
        for (const ServerRequest& request : server.requests()) {
            if (request.port == port && request.path.rfind("/patch/lurra/news", 0) != 0)
                paths.push_back(request.path);
        }
        EXPECT_EQ(paths, (std::vector<std::string>{"/patch/lurra/latest.txt", "/patch/lurra/latest.sig",
                                                   "/patch/lurra/latest_launcher.exe"}));
    }
}

TEST_F(UpdateRun, UncheckedFilesDeclinedMakeTheServersTakeTurnsUntilTryAgain) {
    addReleaseFile("Scripts/a.lua", "a");
    addReleaseFile("Scripts/b.lua", "b");
    publish();
    LanguageScope english(kEnglish);
    const WString game = newGameFolder(L"game");
    installRelease(game, "");
    // Another program writes a.lua and lets nobody else open it.
    FileHolder holder(game + L"\\Scripts\\a.lua", L"rw", L"-");
    ASSERT_TRUE(holder.holding());
    UpdateEngine engine;
    prepare(engine, game);
    WindowStandIn window(engine, {Answer::Decline, Answer::Decline, Answer::Decline, Answer::TryAgain});
    EXPECT_EQ(runUpdate(engine, setup), kStateUncheckedFiles);
    expectOutcome(engine, kStateUncheckedFiles, kUncheckedMessage, kEnglish);
    const WString question =
        L"Could not check the following files:\n\nScripts/a.lua (error: could not open for checking)\n\n";
    EXPECT_EQ(window.questions(), std::vector<WString>(4, question));
    EXPECT_EQ(server.requestCount("/patch/lurra/144/checksums.txt", primary()), 2);
    EXPECT_EQ(server.requestCount("/patch/lurra/144/checksums.txt", fallback()), 2);
    EXPECT_FALSE(fileExists(game + L"\\VarnholdLauncher.ini"));
}

TEST_F(UpdateRun, UncheckedFilesLetPassEndTheRunWithoutAskingAgain) {
    addReleaseFile("Scripts/a.lua", "a");
    addReleaseFile("Scripts/b.lua", "b");
    publish();
    struct Case {
        const char* name;
        bool bMissing;
        int32_t state;
        Message message;
    };
    const Case cases[] = {
        {"nothing else to update", false, kStateUncheckedFiles, kNothingButUncheckedMessage},
        {"another file to update", true, kStateFinished, kUpdatedMessage},
    };
    for (const Case& c : cases) {
        for (const Language language : {kEnglish, kRussian}) {
            SCOPED_TRACE(std::string(c.name) + (language == kEnglish ? " en" : " ru"));
            LanguageScope scope(language);
            const WString game = newGameFolder(L"game");
            installRelease(game, "");
            if (c.bMissing) {
                ASSERT_TRUE(DeleteFileW((game + L"\\Scripts\\b.lua").c_str()));
            }
            const int before = server.requestCount("/patch/lurra/144/checksums.txt");
            {
                FileHolder holder(game + L"\\Scripts\\a.lua", L"rw", L"-");
                ASSERT_TRUE(holder.holding());
                UpdateEngine engine;
                prepare(engine, game);
                // A second question would be answered with try again, so a run that asks again ends.
                WindowStandIn window(engine, {Answer::ContinueAnyway, Answer::TryAgain});
                EXPECT_EQ(runUpdate(engine, setup), c.state);
                expectOutcome(engine, c.state, c.message, language);
                EXPECT_EQ(window.questions().size(), 1u);
            }
            EXPECT_EQ(server.requestCount("/patch/lurra/144/checksums.txt") - before, 1);
            EXPECT_EQ(readFileBytes(game + L"\\Scripts\\b.lua"), "b");
        }
    }
}

}  // namespace
