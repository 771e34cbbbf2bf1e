#include "update/local_check_win.h"

#include <windows.h>

#include <zlib.h>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "config/text_convert.h"
#include "support/file_holder_win.h"
#include "support/language_scope.h"
#include "support/test_env_win.h"
#include "update/local_check.h"
#include "update/update_engine.h"

namespace {

// Content whose CRC differs from block to block, so that chaining faults show.
std::string pattern(size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 7 + 3) % 251);
    return bytes;
}

ManifestEntry entryFor(const std::string& path, const std::string& content, int32_t packedSize = 3) {
    ManifestEntry entry;
    entry.path = path;
    entry.size = static_cast<int32_t>(content.size());
    entry.packedSize = packedSize;
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(content.data()),
                            static_cast<uInt>(content.size()));
    entry.crc32 = formatCrc32(static_cast<uint32_t>(crc));
    entry.sha256 = std::string(64, 'a');
    return entry;
}

// Writes the files into the folder (making their folders) and returns their manifest.
FileManifest publishLocally(const WString& folder,
                            const std::vector<std::pair<std::string, std::string>>& files) {
    FileManifest manifest;
    for (const auto& [path, content] : files) {
        const std::string unixFolder = unixPathFromWine(folder);
        EXPECT_EQ(runUnixShell("mkdir -p \"$(dirname " + shellQuote(unixFolder + "/" + path) + ")\""), 0);
        EXPECT_TRUE(writeFileBytes(folder + L"\\" + utf8ToWide(path), content));
        manifest.push_back(entryFor(path, content));
    }
    return manifest;
}

int makeLink(const std::string& target, const std::string& link) {
    return runUnixShell("ln -s " + shellQuote(target) + " " + shellQuote(link));
}

TEST(LocalCheck, CurrentFilesNeedNothingAndEveryByteIsCounted) {
    ScratchDir dir;
    FileManifest manifest = publishLocally(
        dir.path(), {{"Scripts/a.lua", "hello"}, {"Imgs/big.bin", pattern(200000)}, {"mss32.dll", "dll"}});
    UpdateEngine engine;
    engine.bytesTotal = 12345;  // left as the manifest parse set it
    const LocalCheckCounts counts = checkLocalFiles(engine, manifest, dir.path());

    EXPECT_EQ(counts.couldNotCheck, 0);
    EXPECT_EQ(counts.toUpdate, 0);
    EXPECT_EQ(counts.bytesToDownload, 0);
    for (const ManifestEntry& entry : manifest) {
        SCOPED_TRACE(entry.path);
        EXPECT_FALSE(entry.needsUpdate);
        EXPECT_FALSE(entry.failed);
    }
    EXPECT_EQ(engine.state.load(), kStateCheckingFiles);
    EXPECT_EQ(engine.filesTotal.load(), 3);
    EXPECT_EQ(engine.filesDone.load(), 3);
    EXPECT_EQ(engine.bytesDone.load(), 5 + 200000 + 3);
    EXPECT_EQ(engine.bytesTotal.load(), 12345);
    EXPECT_EQ(engine.currentDone.load(), 3);
    EXPECT_EQ(engine.currentTotal.load(), 3);
    const EngineTexts texts = copyEngineTexts(engine);
    EXPECT_EQ(texts.statusText, L"");
    EXPECT_EQ(texts.currentFile, L"mss32.dll");
}

TEST(LocalCheck, ChangedByteOfTheRightLengthNeedsAnUpdateCountedByPackedSize) {
    ScratchDir dir;
    FileManifest manifest =
        publishLocally(dir.path(), {{"Imgs/a.bin", pattern(70000)}, {"Imgs/b.bin", "same"}});
    manifest[0].packedSize = 333;
    std::string changed = pattern(70000);
    changed[69999] ^= 1;  // in the second block
    ASSERT_TRUE(writeFileBytes(dir / L"Imgs/a.bin", changed));

    UpdateEngine engine;
    const LocalCheckCounts counts = checkLocalFiles(engine, manifest, dir.path());
    EXPECT_TRUE(manifest[0].needsUpdate);
    EXPECT_FALSE(manifest[0].failed);
    EXPECT_FALSE(manifest[1].needsUpdate);
    EXPECT_EQ(counts.toUpdate, 1);
    EXPECT_EQ(counts.bytesToDownload, 333);
    EXPECT_EQ(counts.couldNotCheck, 0);
    EXPECT_EQ(engine.filesDone.load(), 2);  // both were read
}

TEST(LocalCheck, WrongLengthFolderInPlaceAndMissingFilesNeedAnUpdateWithoutBeingRead) {
    ScratchDir dir;
    FileManifest manifest = publishLocally(dir.path(), {{"Globals/short.txt", "abc"}});
    manifest[0].size = 4;
    manifest[0].packedSize = 10;
    ManifestEntry folderEntry = entryFor("Globals/folder", "x");
    folderEntry.packedSize = 20;
    manifest.push_back(folderEntry);
    ASSERT_TRUE(CreateDirectoryW((dir / L"Globals/folder").c_str(), nullptr));
    ManifestEntry missing = entryFor("Templates/none/missing.txt", "x");
    missing.packedSize = 40;
    manifest.push_back(missing);

    UpdateEngine engine;
    const LocalCheckCounts counts = checkLocalFiles(engine, manifest, dir.path());
    EXPECT_EQ(counts.toUpdate, 3);
    EXPECT_EQ(counts.bytesToDownload, 70);
    EXPECT_EQ(counts.couldNotCheck, 0);
    for (const ManifestEntry& entry : manifest) {
        SCOPED_TRACE(entry.path);
        EXPECT_TRUE(entry.needsUpdate);
        EXPECT_FALSE(entry.failed);
    }
    EXPECT_EQ(engine.filesDone.load(), 0);
    EXPECT_EQ(engine.bytesDone.load(), 0);
    EXPECT_EQ(engine.currentDone.load(), 100);  // the bar of a missing file shows complete
    EXPECT_EQ(engine.currentTotal.load(), 100);
}

TEST(LocalCheck, FileCounterAdvancesOnlyForFilesWhoseCrcWasComputed) {
    ScratchDir dir;
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < 10; ++i) files.push_back({"Imgs/f" + std::to_string(i), pattern(i * 10)});
    FileManifest manifest = publishLocally(dir.path(), files);
    for (int i : {2, 5, 9}) ASSERT_TRUE(DeleteFileW((dir / (L"Imgs/f" + std::to_wstring(i))).c_str()));

    UpdateEngine engine;
    const LocalCheckCounts counts = checkLocalFiles(engine, manifest, dir.path());
    EXPECT_EQ(engine.filesTotal.load(), 10);
    EXPECT_EQ(engine.filesDone.load(), 7);
    EXPECT_EQ(counts.toUpdate, 3);
    EXPECT_EQ(counts.bytesToDownload, 9);
}

TEST(LocalCheck, EmptyFileWithZeroCrcIsCurrent) {
    ScratchDir dir;
    FileManifest manifest = publishLocally(dir.path(), {{"Interf/empty.cfg", ""}});
    ASSERT_EQ(manifest[0].crc32, "00000000");
    UpdateEngine engine;
    const LocalCheckCounts counts = checkLocalFiles(engine, manifest, dir.path());
    EXPECT_FALSE(manifest[0].needsUpdate);
    EXPECT_EQ(counts.toUpdate, 0);
    EXPECT_EQ(engine.filesDone.load(), 1);
}

TEST(LocalCheck, FileHeldOpenForWritingCannotBeChecked) {
    ScratchDir dir;
    FileManifest manifest =
        publishLocally(dir.path(), {{"Scripts/held.lua", "content"}, {"Scripts/free.lua", "other"}});
    // Another program writes the file but lets readers in: a reader that shares writing would get
    // in and read a moving target; the check must not.
    FileHolder holder(dir / L"Scripts/held.lua", L"w", L"r");
    ASSERT_TRUE(holder.holding());

    LanguageScope english(Language::English);
    UpdateEngine engine;
    const LocalCheckCounts counts = checkLocalFiles(engine, manifest, dir.path());
    EXPECT_EQ(counts.couldNotCheck, 1);
    EXPECT_EQ(counts.toUpdate, 0);
    EXPECT_TRUE(manifest[0].failed);
    EXPECT_FALSE(manifest[0].needsUpdate);
    EXPECT_EQ(manifest[0].reason, L"could not open for checking");
    EXPECT_FALSE(manifest[1].failed);
    EXPECT_EQ(engine.filesDone.load(), 1);

    LanguageScope russian(Language::Russian);
    FileManifest again = manifest;
    again[0].failed = false;
    (void)checkLocalFiles(engine, again, dir.path());
    EXPECT_EQ(again[0].reason, L"не удалось открыть для проверки");
}

TEST(LocalCheck, FileHeldOpenByAnotherReaderIsCheckedNormally) {
    ScratchDir dir;
    FileManifest manifest = publishLocally(dir.path(), {{"Scripts/read.lua", "content"}});
    FileHolder holder(dir / L"Scripts/read.lua", L"r", L"r");
    ASSERT_TRUE(holder.holding());
    UpdateEngine engine;
    const LocalCheckCounts counts = checkLocalFiles(engine, manifest, dir.path());
    EXPECT_EQ(counts.couldNotCheck, 0);
    EXPECT_FALSE(manifest[0].failed);
    EXPECT_FALSE(manifest[0].needsUpdate);
}

TEST(LocalCheck, FolderLinkedElsewhereFailsEveryEntryBelowItEvenWhenCurrent) {
    ScratchDir dir;
    ASSERT_TRUE(CreateDirectoryW((dir / L"game").c_str(), nullptr));
    FileManifest outside = publishLocally(dir / L"elsewhere", {{"a.lua", "one"}, {"ai/b.lua", "two"}});
    FileManifest manifest = publishLocally(dir / L"game", {{"Imgs/c.png", "three"}});
    manifest.push_back(entryFor("Scripts/a.lua", "one"));
    manifest.push_back(entryFor("Scripts/ai/b.lua", "two"));
    ASSERT_EQ(makeLink(dir.unixPath() + "/elsewhere", dir.unixPath() + "/game/Scripts"), 0);
    ASSERT_TRUE(fileExists(dir / L"game/Scripts/ai/b.lua"));

    LanguageScope english(Language::English);
    UpdateEngine engine;
    const LocalCheckCounts counts = checkLocalFiles(engine, manifest, dir / L"game");
    EXPECT_EQ(counts.couldNotCheck, 2);
    EXPECT_EQ(counts.toUpdate, 0);
    EXPECT_FALSE(manifest[0].failed);
    for (size_t i = 1; i < 3; ++i) {
        SCOPED_TRACE(manifest[i].path);
        EXPECT_TRUE(manifest[i].failed);
        EXPECT_FALSE(manifest[i].needsUpdate);
        EXPECT_EQ(manifest[i].reason, L"path crosses a symlink/junction");
    }
    EXPECT_EQ(engine.filesDone.load(), 1);  // nothing was read through the link

    LanguageScope russian(Language::Russian);
    EXPECT_TRUE(crossesReparsePoint(dir / L"game", "Scripts/ai/b.lua"));
    EXPECT_TRUE(crossesReparsePoint(dir / L"game", "Scripts\\a.lua"));
    EXPECT_FALSE(crossesReparsePoint(dir / L"game", "Imgs/c.png"));
    EXPECT_FALSE(crossesReparsePoint(dir / L"game", "Imgs/not/there/yet.png"));
    manifest[1].failed = false;
    (void)checkLocalFiles(engine, manifest, dir / L"game");
    EXPECT_EQ(manifest[1].reason, L"путь проходит через ссылку/junction");
}

TEST(LocalCheck, LinkDeeperInIsFound) {
    ScratchDir dir;
    ASSERT_EQ(runUnixShell("mkdir -p " + shellQuote(dir.unixPath() + "/game/Imgs") + " " +
                           shellQuote(dir.unixPath() + "/target")),
              0);
    ASSERT_EQ(makeLink(dir.unixPath() + "/target", dir.unixPath() + "/game/Imgs/deep"), 0);
    EXPECT_TRUE(crossesReparsePoint(dir / L"game", "Imgs/deep/x.png"));
    EXPECT_FALSE(crossesReparsePoint(dir / L"game", "Imgs/missing/deep/x.png"));
    EXPECT_TRUE(crossesReparsePoint(dir / L"game", "Imgs/deep/"));
}

TEST(LocalCheck, GameFolderThatIsItselfALinkIsAccepted) {
    ScratchDir dir;
    FileManifest manifest = publishLocally(dir / L"real", {{"Scripts/a.lua", "one"}});
    ASSERT_EQ(makeLink(dir.unixPath() + "/real", dir.unixPath() + "/game"), 0);
    UpdateEngine engine;
    const LocalCheckCounts counts = checkLocalFiles(engine, manifest, dir / L"game");
    EXPECT_EQ(counts.couldNotCheck, 0);
    EXPECT_EQ(counts.toUpdate, 0);
    EXPECT_FALSE(manifest[0].failed);
}

TEST(LocalCheck, FileThatIsALinkFails) {
    ScratchDir dir;
    FileManifest manifest = publishLocally(dir / L"game", {{"Imgs/real.png", "x"}});
    manifest.push_back(entryFor("Imgs/link.png", "x"));
    ASSERT_EQ(makeLink(dir.unixPath() + "/game/Imgs/real.png", dir.unixPath() + "/game/Imgs/link.png"), 0);
    const DWORD attributes = GetFileAttributesW((dir / L"game/Imgs/link.png").c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        GTEST_SKIP() << "Wine reports a symbolic link to a file as a plain file; the walk's check of the "
                        "last component is covered by LocalCheck.LinkWalkFindsALinkAtAnyDepthAndStopsThere";
    }
    UpdateEngine engine;
    const LocalCheckCounts counts = checkLocalFiles(engine, manifest, dir / L"game");
    EXPECT_EQ(counts.couldNotCheck, 1);
    EXPECT_TRUE(manifest[1].failed);
}

TEST(LocalCheck, CancelBeforeTheFirstEntryChangesNothing) {
    ScratchDir dir;
    FileManifest manifest = publishLocally(dir.path(), {{"Scripts/a.lua", "one"}});
    manifest.push_back(entryFor("Scripts/missing.lua", "two"));
    manifest[0].needsUpdate = true;  // flags from earlier stay as they are
    manifest[1].failed = true;
    const FileManifest before = manifest;

    UpdateEngine engine;
    engine.stopRequested = true;
    engine.filesDone = 9;
    const LocalCheckCounts counts = checkLocalFiles(engine, manifest, dir.path());
    EXPECT_EQ(counts.couldNotCheck, 0);
    EXPECT_EQ(counts.toUpdate, 0);
    EXPECT_EQ(counts.bytesToDownload, 0);
    for (size_t i = 0; i < manifest.size(); ++i) {
        EXPECT_EQ(manifest[i].needsUpdate, before[i].needsUpdate);
        EXPECT_EQ(manifest[i].failed, before[i].failed);
    }
    EXPECT_EQ(engine.filesDone.load(), 0);
    EXPECT_EQ(engine.filesTotal.load(), 2);
    EXPECT_EQ(engine.state.load(), kStateCheckingFiles);
}

TEST(LocalCheck, FailedFlagIsNeverClearedByTheCheck) {
    ScratchDir dir;
    FileManifest manifest = publishLocally(dir.path(), {{"Scripts/a.lua", "one"}});
    manifest[0].failed = true;
    UpdateEngine engine;
    (void)checkLocalFiles(engine, manifest, dir.path());
    EXPECT_TRUE(manifest[0].failed);
    EXPECT_FALSE(manifest[0].needsUpdate);
}

TEST(LocalCheck, Crc32FileHex) {
    ScratchDir dir;
    ASSERT_TRUE(writeFileBytes(dir / L"check", "123456789"));
    ASSERT_TRUE(writeFileBytes(dir / L"empty", ""));
    ASSERT_TRUE(writeFileBytes(dir / L"blocks", pattern(200000)));
    EXPECT_EQ(crc32FileHex(dir / L"check"), "CBF43926");
    EXPECT_EQ(crc32FileHex(dir / L"empty"), "00000000");
    EXPECT_EQ(crc32FileHex(dir / L"blocks"), "195DBBA6");  // computed independently by Python's zlib
    EXPECT_EQ(crc32FileHex(dir / L"missing"), "");
    EXPECT_EQ(crc32FileHex(dir.path()), "");
    FileHolder holder(dir / L"check", L"w", L"-");
    ASSERT_TRUE(holder.holding());
    EXPECT_EQ(crc32FileHex(dir / L"check"), "");
}

}  // namespace
