// The small-files bundle against releases on the test server, intact and broken.
#include "update/bundle_win.h"

#include <windows.h>

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <set>

#include "support/file_holder_win.h"
#include "support/release_test_fixture_win.h"
#include "update/update_texts.h"

namespace {

std::string contentOf(const std::string& path, size_t size) {
    std::string text;
    while (text.size() < size) text += path + " line " + std::to_string(text.size()) + "\n";
    text.resize(size);
    return text;
}

class Bundle : public ReleaseTest {
protected:
    void applyPublished() {
        applyBundle(engine, manifest, game, releaseUrl(), release.pack, release.packSize);
    }

    // Empties the game folder and writes each file with an old content, then runs the local check.
    void prepareOldFiles(const ReleaseFiles& files) {
        ASSERT_EQ(runUnixShell("rm -rf " + shellQuote(dir.unixPath() + "/game") + " && mkdir " +
                               shellQuote(dir.unixPath() + "/game")),
                  0);
        for (const auto& [path, content] : files) writeGameFile(path, "old " + path);
        for (ManifestEntry& e : manifest) e.needsUpdate = false;
        ASSERT_EQ(checkFiles().toUpdate, static_cast<int32_t>(files.size()));
    }

    // Which files came from the bundle, judged both by the flag and by the content.
    std::set<std::string> replaced(const ReleaseFiles& files) {
        std::set<std::string> done;
        for (const auto& [path, content] : files) {
            const bool flagCleared = !entry(path).needsUpdate;
            const std::string now = gameFile(path);
            EXPECT_TRUE(now == content || now == "old " + path)
                << path << " holds neither its old nor new content";
            EXPECT_EQ(flagCleared, now == content) << path;
            if (flagCleared) done.insert(path);
        }
        return done;
    }
};

ReleaseFiles sixFiles() {
    ReleaseFiles files;
    for (const char* path :
         {"Imgs/a.dds", "Imgs/b.dds", "Imgs/c.dds", "Imgs/d.dds", "Imgs/e.dds", "Imgs/f.dds"}) {
        files.push_back({path, contentOf(path, 3000)});
    }
    return files;
}

TEST_F(Bundle, ReplacesEveryMarkedFileFromOneDownloadAndLeavesNothingBehind) {
    ReleaseFiles files;
    for (int i = 0; i < 60; ++i) {
        const std::string path = (i % 2 ? "Imgs/set" : "Scripts/deep/set") + std::to_string(i) + ".dat";
        files.push_back({path, contentOf(path, 500 + 97 * static_cast<size_t>(i))});
    }
    files.push_back({"Interf/empty.cfg", ""});
    // Larger than the copy buffer, and current: its record is passed over by one seek.
    files.push_back({"Imgs/big_current.dds", patternBytes(300000, 5)});
    publish(files, {"--bundle"});

    std::map<std::string, std::pair<DWORD, uint64_t>> currentIdentity;
    for (size_t i = 0; i < files.size(); ++i) {
        const auto& [path, content] = files[i];
        if (i % 6 == 0 || path == "Imgs/big_current.dds") {
            writeGameFile(path, content);
            currentIdentity[path] = fileIdentity(gamePath(path));
        } else if (i % 3 == 1) {
            writeGameFile(path, "old");
        }
    }
    const LocalCheckCounts counts = checkFiles();
    ASSERT_EQ(counts.toUpdate, static_cast<int32_t>(files.size() - currentIdentity.size()));
    ASSERT_GE(counts.toUpdate, 50);
    engine.filesDone = 0;
    engine.bytesDone = 0;

    applyPublished();
    for (const auto& [path, content] : files) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(entry(path).needsUpdate);
        EXPECT_TRUE(gameFile(path) == content);
    }
    for (const auto& [path, identity] : currentIdentity)
        EXPECT_EQ(fileIdentity(gamePath(path)), identity) << path;
    EXPECT_TRUE(transferLeftovers(game).empty());

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, objectTarget(release.pack));
    EXPECT_EQ(engine.state.load(), kStateDownloadingFiles);
    EXPECT_EQ(engine.filesDone.load(), counts.toUpdate);
    EXPECT_EQ(engine.bytesDone.load(), counts.bytesToDownload);
    EXPECT_EQ(engine.currentTotal.load(), release.packSize);
    EXPECT_EQ(engine.currentDone.load(), release.packSize);
    EXPECT_EQ(copyCurrentFile(engine), L"Small files bundle");
}

// A bundle that cannot be fetched or trusted is dropped whole: every file stays for the single
// downloads, and none of its copies (nor any left from an earlier, interrupted run) remains.
TEST_F(Bundle, BundleThatCannotBeFetchedOrTrustedChangesNothing) {
    const ReleaseFiles files = sixFiles();
    struct Case {
        const char* name;
        std::vector<std::string> options;
        bool endlessBody;
        int requests;
        bool applied;
    };
    const Case cases[] = {
        {"pack in upper case", {"--bundle-upper-case-pack"}, false, 1, false},
        {"gzip copy that pack does not name", {"--bundle-wrong-hash"}, false, 1, false},
        {"not published", {"--bundle-missing"}, false, 3, false},
        {"endless body (ends after 16 MiB)", {}, true, 3, false},
        {"more bytes than pack_size announces", {"--bundle-pack-size", "100"}, false, 3, false},
        {"stored without gzip", {"--bundle-uncompressed"}, false, 1, true},
        {"pack_size 0 sets no limit", {"--bundle-pack-size", "0"}, false, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> options = {"--bundle"};
        options.insert(options.end(), c.options.begin(), c.options.end());
        publish(files, options);
        prepareOldFiles(files);
        writeGameFile("_smallpack.gz", "left from an interrupted run");
        writeGameFile("_smallpack.bin", "left from an interrupted run");
        ASSERT_TRUE(server.setRules(
            c.endlessBody ? R"([{"prefix":"/patch/lurra/144/files/","action":"endless","limit":16777216}])"
                          : "[]"));
        const size_t before = server.requests().size();

        applyPublished();
        EXPECT_EQ(replaced(files).size(), c.applied ? files.size() : 0u);
        const auto requests = server.requests();
        ASSERT_EQ(requests.size() - before, static_cast<size_t>(c.requests));
        for (size_t i = before; i < requests.size(); ++i)
            EXPECT_EQ(requests[i].path, objectTarget(release.pack));
        EXPECT_TRUE(transferLeftovers(game).empty());
    }
}

// Reading stops at the first record that cannot be trusted; what came before stays replaced.
TEST_F(Bundle, ReadingEndsAtARecordThatCannotBeTrusted) {
    const ReleaseFiles files = sixFiles();
    // A complete, valid record of b after the empty line.
    std::string trailerHex = "0a";
    for (unsigned char c : "Imgs/b.dds\t3000\n" + files[1].second) {
        static const char digits[] = "0123456789abcdef";
        trailerHex += digits[c >> 4];
        trailerHex += digits[c & 15];
    }
    const std::set<std::string> firstThree = {"Imgs/a.dds", "Imgs/b.dds", "Imgs/c.dds"};
    std::set<std::string> all;
    for (const auto& file : files) all.insert(file.first);
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::set<std::string> expected;
    };
    const Case cases[] = {
        // The cut falls into the last record's content: its copy is written short and deleted.
        {"last record cut short",
         {"--bundle-cut", "100"},
         {"Imgs/a.dds", "Imgs/b.dds", "Imgs/c.dds", "Imgs/d.dds", "Imgs/e.dds"}},
        {"header line ending in CR LF", {"--bundle-crlf", "Imgs/d.dds"}, firstThree},
        {"length with a sign", {"--bundle-length-text", "Imgs/d.dds=+3000"}, firstThree},
        {"length past 32 bits", {"--bundle-length-text", "Imgs/d.dds=2147483648"}, firstThree},
        {"empty length", {"--bundle-length-text", "Imgs/d.dds="}, firstThree},
        {"second TAB", {"--bundle-length-text", "Imgs/d.dds=3000\t1"}, firstThree},
        {"leading zeros are digits", {"--bundle-length-text", "Imgs/d.dds=0003000"}, all},
        // An empty line ends the container; what follows it is never read.
        {"empty line, then anything",
         {"--bundle-file", "Imgs/a.dds", "--bundle-trailer-hex", trailerHex},
         {"Imgs/a.dds"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> options = c.options;
        if (std::find(options.begin(), options.end(), "--bundle-file") == options.end()) {
            options.push_back("--bundle");
        }
        publish(files, options);
        prepareOldFiles(files);
        applyPublished();
        EXPECT_EQ(replaced(files), c.expected);
        EXPECT_TRUE(transferLeftovers(game).empty());
    }
}

// A record that fails its own checks is dropped quietly and the reading goes on.
TEST_F(Bundle, RecordsThatFailTheirChecksAreDroppedAndTheReadingGoesOn) {
    const ReleaseFiles files = sixFiles();
    publish(files, {"--bundle", "--wrong-size", "Imgs/a.dds", "--wrong-crc", "Imgs/b.dds", "--bundle-corrupt",
                    "Imgs/c.dds", "--bundle-repeat", "Imgs/d.dds", "--bundle-corrupt", "Imgs/d.dds",
                    "--bundle-other-case", "Imgs/e.dds", "--bundle-record",
                    "Imgs/unlisted.dds=" + dir.unixPath() + "/source/Imgs/a.dds"});
    prepareOldFiles(files);
    {
        FileHolder holder(gamePath("Imgs/f.dds"), L"r", L"r");
        ASSERT_TRUE(holder.holding());
        writeGameFile("Imgs/f.dds.new", "stale copy");  // overwritten, then deleted when the move fails
        applyPublished();
    }
    // a: wrong length, b and c: wrong CRC-32, d: only the first (corrupt) of its two records is
    // used, e: "IMGS/E.DDS" is not the manifest's name, f: the target is locked.
    EXPECT_TRUE(replaced(files).empty());
    EXPECT_FALSE(fileExists(gamePath("Imgs/unlisted.dds")));
    EXPECT_TRUE(transferLeftovers(game).empty());

    // The same bundle without the lock and without the broken records delivers what it holds.
    publish(files, {"--bundle", "--bundle-repeat", "Imgs/d.dds"});
    prepareOldFiles(files);
    applyPublished();
    EXPECT_EQ(replaced(files).size(), files.size());
}

TEST_F(Bundle, LockedFileStaysMarkedAndTheSingleDownloadReportsIt) {
    const ReleaseFiles files = sixFiles();
    publish(files, {"--bundle"});
    prepareOldFiles(files);
    FileHolder holder(gamePath("Imgs/c.dds"), L"r", L"r");
    ASSERT_TRUE(holder.holding());
    applyPublished();
    EXPECT_EQ(replaced(files).size(), files.size() - 1);
    EXPECT_TRUE(entry("Imgs/c.dds").needsUpdate);
    EXPECT_TRUE(transferLeftovers(game).empty());

    const UpdateCounts counts = updateAll();
    EXPECT_EQ(counts.failed, 1);
    EXPECT_EQ(counts.blocked, 1);
    EXPECT_EQ(entry("Imgs/c.dds").reason, L"could not replace file");
    EXPECT_EQ(gameFile("Imgs/c.dds"), "old Imgs/c.dds");
}

TEST_F(Bundle, LinkOnTheWayAbandonsTheRestOfTheBundle) {
    const ReleaseFiles files = {{"Imgs/a.dds", "a"}, {"Templates/linked/b.txt", "b"}, {"Imgs/c.dds", "c"}};
    publish(files, {"--bundle-file", "Imgs/a.dds", "--bundle-file", "Templates/linked/b.txt", "--bundle-file",
                    "Imgs/c.dds"});
    prepareOldFiles(files);
    const std::string linked = dir.unixPath() + "/game/Templates/linked";
    const std::string outside = dir.unixPath() + "/outside";
    ASSERT_EQ(runUnixShell("mkdir -p " + shellQuote(outside) + " && mv " + shellQuote(linked + "/b.txt") +
                           " " + shellQuote(outside) + " && rmdir " + shellQuote(linked) + " && ln -s " +
                           shellQuote(outside) + " " + shellQuote(linked)),
              0);
    applyPublished();
    EXPECT_FALSE(entry("Imgs/a.dds").needsUpdate);
    EXPECT_TRUE(entry("Templates/linked/b.txt").needsUpdate);
    EXPECT_TRUE(entry("Imgs/c.dds").needsUpdate);
    EXPECT_EQ(readFileBytes(winePathFromUnix(outside + "/b.txt")).value_or("(missing)"),
              "old Templates/linked/b.txt");
    EXPECT_FALSE(fileExists(winePathFromUnix(outside + "/b.txt.new")));
    EXPECT_TRUE(transferLeftovers(game).empty());
}

}  // namespace
