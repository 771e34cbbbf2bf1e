// A release written by the fixture builder, read back by the launcher's own parsers and checked
// against the folder it was built from. The builder knows nothing of the launcher's code, so this
// holds the two readings of the server formats against each other.
#include "support/release_fixture_win.h"

#include <windows.h>

#include <zlib.h>

#include <gtest/gtest.h>

#include "config/text_convert.h"
#include "crypto/signature_win.h"
#include "support/test_env_win.h"
#include "update/local_check_win.h"
#include "update/manifest.h"
#include "update/release_info.h"
#include "update/update_engine.h"

namespace {

// The launcher's own check under the compiled-in test key.
bool signatureVerifies(const std::string& unixText, const std::string& unixSignature) {
    const auto text = readFileBytes(winePathFromUnix(unixText));
    const auto signature = readFileBytes(winePathFromUnix(unixSignature));
    return text && signature && verifySignature(*text, *signature);
}

std::string gunzip(const WString& path) {
    gzFile file = gzopen_w(path.c_str(), "rb");
    if (!file) return "(cannot open)";
    std::string bytes;
    char buffer[65536];
    int got = 0;
    while ((got = gzread(file, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(got));
    const bool clean = got == 0 && gzclose(file) == Z_OK;
    return clean ? bytes : "(corrupt)";
}

class ReleaseFixture : public ::testing::Test {
protected:
    void SetUp() override {
        game = dir / L"game";
        branch = dir.unixPath() + "/www/patch/lurra";
        release = branch + "/144";
        files = {{"Scripts/main.lua", "print('hi')\n"},
                 {"Imgs/\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0 1.png", std::string(100000, 'x') + "tail"},
                 {"Interf/empty.cfg", ""},
                 {"mss32.dll", "MZ library"}};
        for (const auto& [path, content] : files) {
            ASSERT_EQ(
                runUnixShell("mkdir -p \"$(dirname " + shellQuote(dir.unixPath() + "/game/" + path) + ")\""),
                0);
            ASSERT_TRUE(writeFileBytes(game + L"\\" + utf8ToWide(path), content));
        }
    }

    void build(std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {
            "--clean", "--out", branch, "--version", "144", "--source", dir.unixPath() + "/game"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::string log;
        ASSERT_TRUE(runReleaseBuilder(arguments, &log)) << log;
    }

    std::string read(const std::string& unixPath) {
        return readFileBytes(winePathFromUnix(unixPath)).value_or("(missing)");
    }

    FileManifest manifest(UpdateEngine& engine) {
        return parseManifest(read(release + "/checksums.txt"), engine);
    }

    ScratchDir dir;
    WString game;
    std::string branch;
    std::string release;
    std::vector<std::pair<std::string, std::string>> files;
};

TEST_F(ReleaseFixture, PublishedReleaseIsAcceptedAndMatchesTheFolderItWasBuiltFrom) {
    build({"--display-version", "1.44 test"});
    ASSERT_TRUE(signatureVerifies(branch + "/latest.txt", branch + "/latest.sig"));
    ASSERT_TRUE(signatureVerifies(release + "/checksums.txt", release + "/checksums.sig"));

    UpdateEngine engine;
    ReleaseInfo info;
    ASSERT_TRUE(applyReleaseDescriptor(engine, read(branch + "/latest.txt"), info));
    EXPECT_EQ(info.gameVersion, 144);
    EXPECT_EQ(info.launcherVersion, 116);
    EXPECT_EQ(info.updateServers, 2);
    EXPECT_EQ(info.displayVersion, "1.44 test");
    EXPECT_EQ(decideVersion(info.gameVersion, 0, false), VersionDecision::CheckFiles);

    FileManifest entries = manifest(engine);
    ASSERT_EQ(entries.size(), files.size());
    EXPECT_EQ(engine.bytesTotal.load(), 12 + 100004 + 0 + 10);
    for (const ManifestEntry& entry : entries) {
        SCOPED_TRACE(entry.path);
        const WString object = winePathFromUnix(release + "/files/" + entry.sha256 + ".gz");
        ASSERT_TRUE(fileExists(object));
        EXPECT_EQ(readFileBytes(object)->size(), static_cast<size_t>(entry.packedSize));
        EXPECT_EQ(gunzip(object), *readFileBytes(game + L"\\" + utf8ToWide(entry.path)));
    }

    const LocalCheckCounts counts = checkLocalFiles(engine, entries, game);
    EXPECT_EQ(counts.couldNotCheck, 0);
    EXPECT_EQ(counts.toUpdate, 0);
    EXPECT_EQ(engine.filesDone.load(), 4);
}

TEST_F(ReleaseFixture, FreshFolderNeedsEveryFileAndPaysThePackedSizes) {
    build();
    UpdateEngine engine;
    FileManifest entries = manifest(engine);
    ASSERT_EQ(entries.size(), files.size());
    ScratchDir empty;
    const LocalCheckCounts counts = checkLocalFiles(engine, entries, empty.path());
    EXPECT_EQ(counts.toUpdate, 4);
    int32_t packed = 0;
    for (const ManifestEntry& entry : entries) packed += entry.packedSize;
    EXPECT_EQ(counts.bytesToDownload, packed);
}

TEST_F(ReleaseFixture, WrongSizeAndWrongCrcVariantsMakeTheLocalFilesStale) {
    build({"--wrong-size", "Scripts/main.lua", "--wrong-crc", "mss32.dll"});
    UpdateEngine engine;
    FileManifest entries = manifest(engine);
    ASSERT_EQ(entries.size(), files.size());
    (void)checkLocalFiles(engine, entries, game);
    for (const ManifestEntry& entry : entries) {
        SCOPED_TRACE(entry.path);
        EXPECT_EQ(entry.needsUpdate, entry.path == "Scripts/main.lua" || entry.path == "mss32.dll");
    }
    EXPECT_EQ(engine.filesDone.load(), 3);  // the wrong size is judged without reading
}

TEST_F(ReleaseFixture, UpperCaseHashIsListedAndPublishedUnderThatName) {
    build({"--upper-case-hash", "Scripts/main.lua", "--missing-object", "mss32.dll"});
    UpdateEngine engine;
    FileManifest entries = manifest(engine);
    ASSERT_EQ(entries.size(), files.size());
    for (const ManifestEntry& entry : entries) {
        SCOPED_TRACE(entry.path);
        const bool upper = entry.sha256.find_first_of("abcdef") == std::string::npos;
        EXPECT_EQ(upper, entry.path == "Scripts/main.lua");
        EXPECT_EQ(fileExists(winePathFromUnix(release + "/files/" + entry.sha256 + ".gz")),
                  entry.path != "mss32.dll");
    }
}

TEST_F(ReleaseFixture, MissingKeysAndRawLinesReachTheParsers) {
    build({"--omit-key", "game_version", "--set-key", "launcher_version=abc", "--manifest-line",
           "Music/theme.ogg\t1\t1\t00000000\t" + std::string(64, '0')});
    ASSERT_TRUE(signatureVerifies(branch + "/latest.txt", branch + "/latest.sig"));
    UpdateEngine engine;
    ReleaseInfo info;
    ASSERT_TRUE(applyReleaseDescriptor(engine, read(branch + "/latest.txt"), info));
    EXPECT_EQ(info.gameVersion, 0);
    EXPECT_EQ(info.launcherVersion, 0);
    EXPECT_EQ(decideVersion(info.gameVersion, 0, true), VersionDecision::NoUsableRelease);
    EXPECT_TRUE(manifest(engine).empty());  // a path outside the game's folders rejects the manifest
}

}  // namespace
