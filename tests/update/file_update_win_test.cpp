// Single-file downloads and replacement against a release on the test server.
#include "update/file_update_win.h"

#include <windows.h>

#include <zlib.h>

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "support/file_holder_win.h"
#include "support/release_test_fixture_win.h"
#include "update/bundle_win.h"
#include "update/update_texts.h"

namespace {

// Text that compresses well, so a gzip copy cut in half ends in the middle of its stream.
std::string textBytes(size_t size, const std::string& word) {
    std::string text;
    for (size_t i = 0; text.size() < size; ++i) text += word + " " + std::to_string(i) + "\n";
    text.resize(size);
    return text;
}

using FileUpdate = ReleaseTest;

TEST_F(FileUpdate, ReplacesChangedFilesCreatesNewOnesInNewFoldersAndLeavesNothingBehind) {
    publish({{"Imgs/deep/new/tex.dds", patternBytes(200000, 3)},
             {"Scripts/main.lua", textBytes(150000, "new")},
             {"mss32.dll", "MZ current"}});
    writeGameFile("Scripts/main.lua", textBytes(150000, "old"));
    // Left from an interrupted earlier run: both are overwritten from their start.
    writeGameFile("Scripts/main.lua.gz", patternBytes(900000, 9));
    writeGameFile("Scripts/main.lua.new", "half of an old unpacked copy");
    writeGameFile("mss32.dll", "MZ current");
    ASSERT_EQ(checkFiles().toUpdate, 2);
    const auto [files, bytes] = toDo();

    const UpdateCounts counts = updateAll();
    EXPECT_EQ(counts.failed, 0);
    EXPECT_EQ(counts.blocked, 0);
    EXPECT_TRUE(gameFile("Imgs/deep/new/tex.dds") == patternBytes(200000, 3));
    EXPECT_TRUE(gameFile("Scripts/main.lua") == textBytes(150000, "new"));
    EXPECT_EQ(gameFile("mss32.dll"), "MZ current");
    EXPECT_TRUE(transferLeftovers(game).empty());

    EXPECT_EQ(engine.state.load(), kStateDownloadingFiles);
    EXPECT_EQ(engine.filesDone.load(), 2);
    EXPECT_EQ(engine.filesTotal.load(), files);
    EXPECT_EQ(engine.bytesDone.load(), bytes);
    EXPECT_EQ(engine.bytesTotal.load(), bytes);
    EXPECT_EQ(engine.currentDone.load(), entry("Scripts/main.lua").packedSize);
    EXPECT_EQ(copyCurrentFile(engine), L"Scripts/main.lua");
    for (const ManifestEntry& e : manifest) {
        SCOPED_TRACE(e.path);
        EXPECT_FALSE(e.failed);
        EXPECT_EQ(server.requestCount(objectTarget(e.sha256)), e.path == "mss32.dll" ? 0 : 1);
    }
}

TEST_F(FileUpdate, ObjectStoredWithoutCompressionIsCopiedAndJudgedBySizeAndCrc) {
    publish({{"Interf/plain.cfg", textBytes(70000, "plain")}, {"Interf/plain_bad.cfg", textBytes(500, "x")}},
            {"--uncompressed", "Interf/plain.cfg", "--uncompressed", "Interf/plain_bad.cfg", "--wrong-crc",
             "Interf/plain_bad.cfg"});
    ASSERT_EQ(checkFiles().toUpdate, 2);
    const UpdateCounts counts = updateAll();
    EXPECT_EQ(counts.failed, 1);
    EXPECT_EQ(counts.blocked, 1);
    EXPECT_TRUE(gameFile("Interf/plain.cfg") == textBytes(70000, "plain"));
    EXPECT_TRUE(entry("Interf/plain_bad.cfg").failed);
    EXPECT_EQ(entry("Interf/plain_bad.cfg").reason, L"unpacked file failed verification");
    EXPECT_FALSE(fileExists(gamePath("Interf/plain_bad.cfg")));
    EXPECT_EQ(transferLeftovers(game), std::vector<std::wstring>{L"Interf\\plain_bad.cfg.gz"});
}

// Every step that can fail, one file each, in one run: the loop goes on after each failure, and
// each failure carries the reason and the local-or-not judgement of the step that failed.
TEST_F(FileUpdate, EachFailedStepGivesItsReasonAndBlockedOnlyForLocalCauses) {
    const std::string oldContent = "old content\n";
    ReleaseFiles files;
    const char* const paths[] = {"Imgs/corrupt.dds",    "Imgs/size.dds",          "Imgs/crc.dds",
                                 "Imgs/truncated.dds",  "Imgs/missing.dds",       "Imgs/slot.dds",
                                 "Imgs/unpackslot.dds", "Imgs/endless.dds",       "Interf/locked.cfg",
                                 "Interf/frozen/x.cfg", "Templates/linked/a.txt", "Scripts/ok.lua"};
    for (const char* path : paths) files.push_back({path, textBytes(120000, path)});
    publish(files, {"--corrupt-object", "Imgs/corrupt.dds", "--wrong-size", "Imgs/size.dds", "--wrong-crc",
                    "Imgs/crc.dds", "--missing-object", "Imgs/missing.dds"});
    const std::string gzipCopy = publishedObject("Imgs/truncated.dds");
    republishObject("Imgs/truncated.dds", gzipCopy.substr(0, gzipCopy.size() / 2));
    // Ends after 16 MiB, so that a broken limit fails the test rather than filling the disk.
    ASSERT_TRUE(server.setRules(R"([{"path":")" + objectTarget(entry("Imgs/endless.dds").sha256) +
                                R"(","action":"endless","limit":16777216}])"));
    for (const char* path : paths) writeGameFile(path, oldContent);
    // The places where the copies would go are taken by folders.
    ASSERT_TRUE(CreateDirectoryW(gamePath("Imgs/slot.dds.gz").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(gamePath("Imgs/unpackslot.dds.new").c_str(), nullptr));
    ASSERT_EQ(checkFiles().toUpdate, static_cast<int32_t>(std::size(paths)));
    // A folder turns into a link after the check: nothing may be written through it.
    const std::string linked = dir.unixPath() + "/game/Templates/linked";
    const std::string outside = dir.unixPath() + "/outside";
    ASSERT_EQ(runUnixShell("mkdir -p " + shellQuote(outside) + " && mv " + shellQuote(linked + "/a.txt") +
                           " " + shellQuote(outside) + " && rmdir " + shellQuote(linked) + " && ln -s " +
                           shellQuote(outside) + " " + shellQuote(linked)),
              0);

    UpdateCounts counts;
    {
        FileHolder holder(gamePath("Interf/locked.cfg"), L"r", L"r");
        ASSERT_TRUE(holder.holding());
        ImmutableFolder frozen(gamePath("Interf/frozen"));
        if (!frozen.active()) GTEST_SKIP() << frozen.whyNot();
        counts = updateAll();
    }

    struct Expected {
        const char* path;
        const TextPair* reason;  // nullptr: replaced
        bool blocked;
        bool compressedCopyStays;
    };
    const Expected expected[] = {
        {"Imgs/corrupt.dds", &kReasonHashMismatch, false, true},
        {"Imgs/size.dds", &kReasonUnpackedMismatch, true, true},
        {"Imgs/crc.dds", &kReasonUnpackedMismatch, true, true},
        {"Imgs/truncated.dds", &kReasonUnpack, true, true},
        {"Imgs/missing.dds", &kReasonDownload, false, false},
        {"Imgs/slot.dds", &kReasonDownload, true, false},
        {"Imgs/unpackslot.dds", &kReasonUnpack, true, true},
        {"Imgs/endless.dds", &kReasonDownload, false, true},
        {"Interf/locked.cfg", &kReasonReplace, true, true},
        {"Interf/frozen/x.cfg", &kReasonDownload, true, false},
        {"Templates/linked/a.txt", &kReasonCrossesLink, true, false},
        {"Scripts/ok.lua", nullptr, false, false},
    };
    int failed = 0;
    int blocked = 0;
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.path);
        const ManifestEntry& item = entry(e.path);
        EXPECT_EQ(item.failed, e.reason != nullptr);
        EXPECT_EQ(item.reason, e.reason ? WString(localized(*e.reason)) : WString());
        EXPECT_FALSE(fileExists(gamePath(e.path) + L".new"));
        EXPECT_EQ(fileExists(gamePath(e.path) + L".gz"), e.compressedCopyStays);
        if (e.reason) {
            ++failed;
            blocked += e.blocked ? 1 : 0;
            // The target is never written: whatever failed, the old file is as it was.
            EXPECT_EQ(gameFile(e.path), oldContent);
        } else {
            EXPECT_TRUE(gameFile(e.path) == textBytes(120000, e.path));
        }
    }
    EXPECT_EQ(counts.failed, failed);
    EXPECT_EQ(counts.blocked, blocked);
    EXPECT_EQ(engine.filesDone.load(), 1);

    // Network failures are tried three times, a destination that cannot be written once, and a
    // link on the way never reaches the network.
    EXPECT_EQ(server.requestCount(objectTarget(entry("Imgs/missing.dds").sha256)), 3);
    EXPECT_EQ(server.requestCount(objectTarget(entry("Imgs/endless.dds").sha256)), 3);
    EXPECT_EQ(server.requestCount(objectTarget(entry("Imgs/slot.dds").sha256)), 1);
    EXPECT_EQ(server.requestCount(objectTarget(entry("Interf/frozen/x.cfg").sha256)), 1);
    EXPECT_EQ(server.requestCount(objectTarget(entry("Templates/linked/a.txt").sha256)), 0);
    // An endless body stops at the size the signed manifest announced.
    const auto endless = readFileBytes(gamePath("Imgs/endless.dds.gz"));
    ASSERT_TRUE(endless);
    EXPECT_LE(endless->size(), static_cast<size_t>(entry("Imgs/endless.dds").packedSize));
    EXPECT_EQ(readFileBytes(winePathFromUnix(outside + "/a.txt")).value_or("(missing)"), oldContent);
    EXPECT_FALSE(fileExists(winePathFromUnix(outside + "/a.txt.gz")));
    // A server object that does not hash to its name stays next to the target as it arrived.
    EXPECT_TRUE(readFileBytes(gamePath("Imgs/corrupt.dds.gz")) == publishedObject("Imgs/corrupt.dds"));
}

TEST_F(FileUpdate, ReasonsAreStoredInTheLanguageOfTheMoment) {
    publish({{"Imgs/a.dds", "a"}}, {"--missing-object", "Imgs/a.dds"});
    ASSERT_EQ(checkFiles().toUpdate, 1);
    LanguageScope russian(Language::Russian);
    const UpdateCounts counts = updateAll();
    EXPECT_EQ(counts.failed, 1);
    EXPECT_EQ(counts.blocked, 0);
    EXPECT_EQ(entry("Imgs/a.dds").reason, L"не удалось скачать");
}

// Wine lets root move a file over a read-only one, which Windows refuses with access denied; the
// rename is replaced through the test seam by one that refuses the way Windows does.
bool refuseReadOnlyTargetAsWindowsDoes(const WString& replacement, const WString& target) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return MoveFileExW(replacement.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

TEST_F(FileUpdate, ReadOnlyTargetIsNotReplacedAndCountsAsBlocked) {
    publish({{"Globals/ro.ini", "new\n"}, {"Globals/rw.ini", "new too\n"}});
    writeGameFile("Globals/ro.ini", "old\n");
    writeGameFile("Globals/rw.ini", "old too\n");
    ASSERT_TRUE(SetFileAttributesW(gamePath("Globals/ro.ini").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_EQ(checkFiles().toUpdate, 2);
    setReplaceTargetForTests(refuseReadOnlyTargetAsWindowsDoes);
    const UpdateCounts counts = updateAll();
    SetFileAttributesW(gamePath("Globals/ro.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(counts.failed, 1);
    EXPECT_EQ(counts.blocked, 1);
    EXPECT_EQ(entry("Globals/ro.ini").reason, L"could not replace file");
    EXPECT_EQ(gameFile("Globals/ro.ini"), "old\n");
    EXPECT_FALSE(fileExists(gamePath("Globals/ro.ini.new")));
    EXPECT_EQ(gameFile("Globals/rw.ini"), "new too\n");
}

// A scanner that holds a file for a moment is waited out; a program that holds it throughout still
// blocks its replacement, in the single downloads and in the bundle alike.
TEST_F(FileUpdate, BriefLockIsWaitedOutAndALastingLockBlocks) {
    const ReleaseFiles files = {{"Imgs/held.dds", textBytes(5000, "held")},
                                {"Imgs/free.dds", textBytes(5000, "free")}};
    for (const bool bundle : {false, true}) {
        publish(files, bundle ? std::vector<std::string>{"--bundle"} : std::vector<std::string>{});
        for (const bool brief : {true, false}) {
            SCOPED_TRACE(std::string(bundle ? "bundle" : "single") + (brief ? ", held 300 ms" : ", held on"));
            game = dir / (L"game" + std::to_wstring(bundle) + std::to_wstring(brief));
            for (const auto& file : files) writeGameFile(file.first, "old");
            ASSERT_EQ(checkFiles().toUpdate, 2);
            FileHolder holder(gamePath("Imgs/held.dds"), L"r", L"r");
            ASSERT_TRUE(holder.holding());
            // The lock ends 300 ms after the unpacked copy is in place, while its rename is refused.
            std::thread releaser([&] {
                if (!brief || !waitUntil([&] { return fileExists(gamePath("Imgs/held.dds.new")); }, 10000))
                    return;
                Sleep(300);
                (void)holder.release();
            });
            UpdateCounts counts;
            if (bundle) {
                applyBundle(engine, manifest, game, releaseUrl(), release.pack, release.packSize);
            } else {
                counts = updateAll();
            }
            releaser.join();

            EXPECT_EQ(gameFile("Imgs/held.dds") == files[0].second, brief);
            EXPECT_TRUE(gameFile("Imgs/free.dds") == files[1].second);
            EXPECT_FALSE(fileExists(gamePath("Imgs/held.dds.new")));
            if (bundle) {
                EXPECT_EQ(entry("Imgs/held.dds").needsUpdate, !brief);
            } else {
                EXPECT_EQ(counts.blocked, brief ? 0 : 1);
                EXPECT_EQ(entry("Imgs/held.dds").reason, brief ? L"" : L"could not replace file");
            }
        }
    }
}

TEST_F(FileUpdate, EntryNotMarkedIsSkippedButItsFailedFlagCleared) {
    publish({{"Imgs/a.dds", "a"}, {"Imgs/b.dds", "b"}});
    ManifestEntry& skipped = entry("Imgs/a.dds");
    skipped.needsUpdate = false;
    skipped.failed = true;
    skipped.reason = L"could not open for checking";
    entry("Imgs/b.dds").needsUpdate = true;
    const UpdateCounts counts = updateAll();
    EXPECT_EQ(counts.failed, 0);
    EXPECT_FALSE(skipped.failed);
    EXPECT_FALSE(fileExists(gamePath("Imgs/a.dds")));
    EXPECT_EQ(server.requestCount(objectTarget(skipped.sha256)), 0);
    EXPECT_EQ(gameFile("Imgs/b.dds"), "b");
}

TEST_F(FileUpdate, CancelBeforeTheRunTouchesNoEntry) {
    publish({{"Imgs/a.dds", "a"}, {"Imgs/b.dds", "b"}});
    ASSERT_EQ(checkFiles().toUpdate, 2);
    entry("Imgs/b.dds").failed = true;  // flags from earlier stay as they are
    engine.filesDone = 7;
    engine.stopRequested = true;
    const UpdateCounts counts = updateAll();
    EXPECT_EQ(counts.failed, 0);
    EXPECT_EQ(counts.blocked, 0);
    EXPECT_TRUE(entry("Imgs/b.dds").failed);
    EXPECT_EQ(engine.filesDone.load(), 0);
    EXPECT_EQ(engine.filesTotal.load(), 2);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(FileUpdate, CancelDuringAFileFinishesThatFileAndStopsBeforeTheNext) {
    publish({{"Imgs/a.dds", patternBytes(200000, 1)}, {"Imgs/b.dds", "b"}, {"Imgs/c.dds", "c"}});
    ASSERT_EQ(checkFiles().toUpdate, 3);
    entry("Imgs/c.dds").failed = true;
    const std::string first = objectTarget(entry("Imgs/a.dds").sha256);
    // Slow enough that the cancel lands while the first body is still on its way.
    ASSERT_TRUE(
        server.setRules(R"([{"path":")" + first + R"(","action":"drip","chunk":32768,"interval":0.05}])"));
    std::thread canceller([&] {
        (void)server.waitForEvents(
            [&first](const std::vector<ServerEvent>& events) {
                return std::any_of(events.begin(), events.end(), [&first](const ServerEvent& e) {
                    return e.event == "request" && e.field("path") == first;
                });
            },
            10000);
        engine.stopRequested.exchange(true);
    });
    const UpdateCounts counts = updateAll();
    canceller.join();
    EXPECT_EQ(counts.failed, 0);
    EXPECT_TRUE(gameFile("Imgs/a.dds") == patternBytes(200000, 1));
    EXPECT_FALSE(fileExists(gamePath("Imgs/b.dds")));
    EXPECT_EQ(server.requestCount(objectTarget(entry("Imgs/b.dds").sha256)), 0);
    EXPECT_TRUE(entry("Imgs/c.dds").failed);
    EXPECT_EQ(engine.filesDone.load(), 1);
}

// --- gunzipFile ----------------------------------------------------------------------------------

std::string gzipBytes(const std::string& content) {
    z_stream stream{};
    // 15 + 16: a gzip wrapper around the deflate stream.
    if (deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    std::string out(deflateBound(&stream, static_cast<uLong>(content.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : std::string();
}

TEST(GunzipFile, SucceedsOnlyForACompleteStreamOrPlainBytes) {
    ScratchDir dir;
    const std::string content = textBytes(300000, "gz");
    const std::string packed = gzipBytes(content);
    ASSERT_FALSE(packed.empty());
    struct Case {
        const char* name;
        std::string source;
        bool ok;
        std::string unpacked;
    };
    const Case cases[] = {
        {"complete", packed, true, content},
        {"plain bytes pass through", content, true, content},
        {"empty content", gzipBytes(""), true, ""},
        {"cut in the middle", packed.substr(0, packed.size() / 2), false, ""},
        {"cut before the trailer", packed.substr(0, packed.size() - 4), false, ""},
        {"corrupt stream", packed.substr(0, 20) + std::string(200, '\x55') + packed.substr(220), false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeFileBytes(dir / L"in.gz", c.source));
        int64_t size = -1;
        uint32_t crc = 1;
        EXPECT_EQ(gunzipFile(dir / L"in.gz", dir / L"out.new", &size, &crc), c.ok);
        if (c.ok) {
            EXPECT_TRUE(readFileBytes(dir / L"out.new") == c.unpacked);
            EXPECT_EQ(size, static_cast<int64_t>(c.unpacked.size()));
            EXPECT_EQ(crc, crc32(0L, reinterpret_cast<const Bytef*>(c.unpacked.data()),
                                 static_cast<uInt>(c.unpacked.size())));
        } else {
            EXPECT_EQ(size, 0);
            EXPECT_EQ(crc, 0u);
        }
    }
    EXPECT_FALSE(gunzipFile(dir / L"absent.gz", dir / L"never.new"));
    EXPECT_FALSE(fileExists(dir / L"never.new"));
    ASSERT_TRUE(CreateDirectoryW((dir / L"taken.new").c_str(), nullptr));
    EXPECT_FALSE(gunzipFile(dir / L"in.gz", dir / L"taken.new"));
}

}  // namespace
