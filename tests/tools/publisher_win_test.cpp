// Releases made by the publisher exactly as a mod maintainer makes them (tools/publish/publish.py,
// signed with a key from its own keygen) and taken by the launcher's own update run: a fresh
// install and the update from the previous release, with and without the small-files bundle.
#include <windows.h>

#include <cstdio>
#include <gtest/gtest.h>

#include "base/constants.h"
#include "crypto/signature_win.h"
#include "support/release_test_fixture_win.h"
#include "support/update_run_fixture_win.h"

namespace {

class PublisherRelease : public UpdateRun {
protected:
    void SetUp() override {
        UpdateRun::SetUp();
        ASSERT_EQ(publisher("keygen --private-key " + key("private") + " --public-key " + key("public")), 0);
        const std::optional<std::string> publicKey = readFileBytes(winePathFromUnix(keys + "/public.pem"));
        ASSERT_TRUE(publicKey && publicKey->size() == 451u);
        // The embedded key stays first; the launcher accepts a signature under the second slot.
        setSecondTrustedKeyForTests(*publicKey);
    }
    void TearDown() override {
        setSecondTrustedKeyForTests(kSuccessorSignaturePublicKeyPem);
        UpdateRun::TearDown();
    }

    [[nodiscard]] std::string key(const char* half) const { return shellQuote(keys + "/" + half + ".pem"); }

    // Runs tools/publish/publish.py with these words; its output goes to publisher.log.
    int publisher(const std::string& words) {
        return runUnixShell("mkdir -p " + shellQuote(keys) + " && /usr/bin/python3 " +
                                shellQuote(std::string(VARNHOLD_SOURCE_DIR) + "/tools/publish/publish.py") +
                                " " + words + " >>" + shellQuote(dir.unixPath() + "/publisher.log") + " 2>&1",
                            120000);
    }

    // Release 1.43: 70 small scripts, a large picture, a name with Cyrillic letters and a blank, the
    // sound library in the game folder itself. Release 1.44 changes 55 of the scripts and adds one.
    // Written as the source folder of `version` and published into the branch.
    void publishRelease(bool next, const std::string& branch, const std::string& options) {
        releaseFiles.clear();
        for (int i = 0; i < 70; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Scripts/s%03d.lua", i);
            releaseFiles.emplace_back(name, std::string(static_cast<size_t>(100 + i * 29), 'a' + i % 26) +
                                                (next && i < 55 ? "-- 1.44\n" : ""));
        }
        std::string picture(300000, '\0');
        for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>((i * 7919) % 251);
        releaseFiles.emplace_back("Imgs/big.dds", picture);
        releaseFiles.emplace_back("Imgs/\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0 one.png", std::string(5000, 'p'));
        releaseFiles.emplace_back("mss32.dll", "MZ sound");
        if (next) releaseFiles.emplace_back("Scripts/new.lua", "print('new in 1.44')\n");

        const std::string version = next ? "144" : "143";
        const std::string sourceUnix = dir.unixPath() + "/source" + version + branch;
        for (const auto& [path, content] : releaseFiles)
            writeBelow(winePathFromUnix(sourceUnix), path, content);
        ASSERT_EQ(publisher("build --private-key " + key("private") + " --source " + shellQuote(sourceUnix) +
                            " --out " + shellQuote(server.rootUnix() + "/patch" + branch) + " --version " +
                            version + " " + options),
                  0)
            << readFileBytes(dir / L"publisher.log").value_or("(no log)");
    }

    std::string keys = dir.unixPath() + "/keys";
};

TEST_F(PublisherRelease, FreshInstallAndUpdateFromThePreviousReleaseWithAndWithoutTheBundle) {
    LanguageScope english(kEnglish);
    const std::string news = "[news]\ntitle_en=Published\ntext_en=t\ndate=1\nurl_en=u\n";
    ASSERT_TRUE(writeFileBytes(dir / L"news.txt", news));
    for (const bool bundle : {true, false}) {
        SCOPED_TRACE(bundle ? "with the bundle" : "without the bundle");
        const std::string branch = bundle ? "/lurra" : "/ktvx";
        const WString game = newGameFolder(L"game");
        for (const bool next : {false, true}) {
            SCOPED_TRACE(next ? "144" : "143");
            publishRelease(next, branch,
                           (bundle ? "" : "--no-bundle ") + std::string("--news-v2 ") +
                               shellQuote(dir.unixPath() + "/news.txt"));
            UpdateEngine engine;
            prepare(engine, game);
            engine.serverPath = branch;
            EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
            expectOutcome(engine, kStateFinished, kUpdatedMessage, kEnglish);
            EXPECT_TRUE(holdsRelease(game));
            EXPECT_EQ(readFileBytes(game + L"\\VarnholdLauncher.ini"), next ? "144" : "143");
            EXPECT_EQ(copyNewsText(engine), utf8ToWide(news));
            EXPECT_TRUE(transferLeftovers(game).empty());
            // The bundle holds every file but the large picture; 1.44 changed 56 files, and through
            // the bundle not one of them is fetched singly.
            EXPECT_EQ(
                requestsStartingWith("/patch" + branch + (next ? "/144" : "/143") + "/files/", primary()),
                bundle ? (next ? 1 : 2) : (next ? 56 : 73));
        }
    }
}

}  // namespace
