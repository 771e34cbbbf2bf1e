// Releases made by the publisher exactly as a mod maintainer makes them (tools/publish/publish.py,
// signed with a key from its own keygen) and taken by the launcher's own update run: a fresh
// install and the update from the previous release, with and without the small-files bundle.
#include <windows.h>

#include <cstdio>
#include <gtest/gtest.h>
#include <map>

#include "crypto/signature_win.h"
#include "update/release_test_fixture_win.h"
#include "update/update_run_fixture_win.h"

namespace {

constexpr int kPublishLimitMs = 120000;

using Release = std::map<std::string, std::string>;  // manifest path -> content

// Release 1.43: 70 small scripts, a large picture, a name with Cyrillic letters and a blank, the
// sound library in the game folder itself. Release 1.44 changes 55 of the scripts and adds one.
Release release(bool next) {
    Release files;
    for (int i = 0; i < 70; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Scripts/s%03d.lua", i);
        files[name] = std::string(static_cast<size_t>(100 + i * 29), static_cast<char>('a' + i % 26)) +
                      (next && i < 55 ? "-- 1.44\n" : "");
    }
    std::string picture(300000, '\0');
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>((i * 7919) % 251);
    files["Imgs/big.dds"] = picture;
    files["Imgs/\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0 one.png"] = std::string(5000, 'p');
    files["mss32.dll"] = "MZ sound";
    if (next) files["Scripts/new.lua"] = "print('new in 1.44')\n";
    return files;
}

class PublisherRelease : public UpdateRun {
protected:
    void SetUp() override {
        UpdateRun::SetUp();
        keys = dir.unixPath() + "/keys";
        ASSERT_EQ(publisher("keygen --private-key " + shellQuote(keys + "/private.pem") + " --public-key " +
                            shellQuote(keys + "/public.pem")),
                  0);
        const auto publicKey = readFileBytes(winePathFromUnix(keys + "/public.pem"));
        ASSERT_TRUE(publicKey);
        ASSERT_EQ(publicKey->size(), 451u);
        // The embedded key stays first; the launcher accepts a signature under the second slot.
        setSecondTrustedKeyForTests(*publicKey);
    }
    void TearDown() override {
        setSecondTrustedKeyForTests(readFileBytes(winePathFromUnix(testPublicKeyPath())).value_or(""));
        UpdateRun::TearDown();
    }

    // Runs tools/publish/publish.py with these words; its output goes to publisher.log.
    int publisher(const std::string& words) {
        const std::string log = dir.unixPath() + "/publisher.log";
        return runUnixShell("mkdir -p " + shellQuote(keys) + " && /usr/bin/python3 " +
                                shellQuote(std::string(VARNHOLD_SOURCE_DIR) + "/tools/publish/publish.py") +
                                " " + words + " >>" + shellQuote(log) + " 2>&1",
                            kPublishLimitMs);
    }
    // Writes the files as a source folder and publishes them as `version` into the branch.
    void publishRelease(const Release& files, const std::string& version, const std::string& branch,
                        const std::string& options) {
        const std::string sourceUnix = dir.unixPath() + "/source" + version + branch;
        for (const auto& [path, content] : files) writeBelow(winePathFromUnix(sourceUnix), path, content);
        ASSERT_EQ(
            publisher("build --private-key " + shellQuote(keys + "/private.pem") + " --source " +
                      shellQuote(sourceUnix) + " --out " + shellQuote(server.rootUnix() + "/patch" + branch) +
                      " --version " + version + " " + options),
            0)
            << readFileBytes(dir / L"publisher.log").value_or("(no log)");
    }

    static bool holds(const WString& game, const Release& files) {
        for (const auto& [path, content] : files) {
            if (readFileBytes(game + L"\\" + utf8ToWide(path)) != content) return false;
        }
        return true;
    }

    std::string keys;
};

TEST_F(PublisherRelease, FreshInstallAndUpdateFromThePreviousReleaseWithAndWithoutTheBundle) {
    LanguageScope english(kEnglish);
    ASSERT_TRUE(
        writeFileBytes(dir / L"news.txt", "[news]\ntitle_en=Published\ntext_en=t\ndate=1\nurl_en=u\n"));
    for (const bool bundle : {true, false}) {
        SCOPED_TRACE(bundle ? "with the bundle" : "without the bundle");
        const std::string branch = bundle ? "/lurra" : "/ktvx";
        const std::string options = (bundle ? "" : "--no-bundle ") + std::string("--news-v2 ") +
                                    shellQuote(dir.unixPath() + "/news.txt");
        const WString game = newGameFolder(L"game");
        for (const bool next : {false, true}) {
            const std::string version = next ? "144" : "143";
            SCOPED_TRACE(version);
            publishRelease(release(next), version, branch, options);
            UpdateEngine engine;
            prepare(engine, game);
            engine.serverPath = branch;
            EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
            expectOutcome(engine, kStateFinished, kUpdatedMessage, kEnglish);
            EXPECT_TRUE(holds(game, release(next)));
            EXPECT_EQ(readFileBytes(game + L"\\VarnholdLauncher.ini"), version);
            EXPECT_EQ(copyNewsText(engine), L"[news]\ntitle_en=Published\ntext_en=t\ndate=1\nurl_en=u\n");
            EXPECT_TRUE(transferLeftovers(game).empty());
            // The bundle holds every file but the large picture; 1.44 changed 56 files, and through
            // the bundle not one of them is fetched singly.
            const int singly = next ? 56 : 73;
            EXPECT_EQ(requestsStartingWith("/patch" + branch + "/" + version + "/files/", primary()),
                      bundle ? 1 + (next ? 0 : 1) : singly);
        }
    }
}

}  // namespace
