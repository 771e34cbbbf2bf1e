#include "branches/folder_checks_win.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <vector>

#include "support/game_folder_win.h"
#include "support/test_env_win.h"

namespace {

WString shortPathOf(const WString& path) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetShortPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) return {};
    return WString(buffer.data(), length);
}

WString upperAscii(WString text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    return text;
}

WString withForwardSlashes(WString text) {
    for (wchar_t& c : text) {
        if (c == L'\\') c = L'/';
    }
    return text;
}

// --- folder identity ---

TEST(SameFolder, ExistingFolderWrittenDifferently) {
    ScratchDir dir;
    const WString folder = dir / L"Game Folder With A Long Name";
    ASSERT_TRUE(makeFolders(folder));
    const WString shortName = shortPathOf(folder);
    ASSERT_FALSE(shortName.empty());
    ASSERT_NE(shortName, folder) << "no short name to compare with";

    const WString spellings[] = {upperAscii(folder), withForwardSlashes(folder),
                                 folder + L"\\",     folder + L"\\\\",
                                 shortName,          folder + L"\\.\\"};
    for (const WString& other : spellings) {
        SCOPED_TRACE(testing::Message() << "spelling " << (&other - spellings));
        EXPECT_TRUE(isSameFolder(folder, other));
        EXPECT_TRUE(isSameFolder(other, folder));
    }
    EXPECT_FALSE(isSameFolder(folder, dir.path()));
    EXPECT_FALSE(isSameFolder(folder, folder + L" 2"));
}

// A link has a text of its own: only the file identity tells that it is the same folder.
TEST(SameFolder, LinkToTheFolderIsTheSameFolder) {
    ScratchDir dir;
    ASSERT_TRUE(makeFolders(dir / L"real"));
    ASSERT_EQ(runUnixShell("ln -s real " + shellQuote(dir.unixPath() + "/link")), 0);
    EXPECT_TRUE(isSameFolder(dir / L"link", dir / L"real"));
    EXPECT_NE(normalizeFolderPath(dir / L"link"), normalizeFolderPath(dir / L"real"));
}

TEST(SameFolder, MissingFolderComparedByNormalisedText) {
    ScratchDir dir;
    const WString missing = dir / L"Missing\\Game";
    ASSERT_FALSE(folderExists(missing));
    EXPECT_TRUE(isSameFolder(missing, upperAscii(missing)));
    EXPECT_TRUE(isSameFolder(missing, withForwardSlashes(missing) + L"/"));
    EXPECT_TRUE(isSameFolder(missing + L"\\ \\", missing));
    EXPECT_TRUE(isSameFolder(dir / L"Missing\\other\\..\\Game", missing));
    EXPECT_FALSE(isSameFolder(missing, missing + L"2"));

    // Only Latin letters are folded; other scripts count as different names.
    EXPECT_TRUE(isSameFolder(dir / L"Нет\\Ёжик", dir / L"Нет\\Ёжик"));
    EXPECT_FALSE(isSameFolder(dir / L"Нет\\Ёжик", dir / L"Нет\\ёжик"));
    EXPECT_FALSE(isSameFolder(dir / L"Нет\\Ёжик", dir / L"нет\\Ёжик"));
}

TEST(SameFolder, OneExistingAndOneMissingFolderDiffer) {
    ScratchDir dir;
    ASSERT_TRUE(makeFolders(dir / L"game"));
    EXPECT_FALSE(isSameFolder(dir / L"game", dir / L"gone"));
    EXPECT_FALSE(isSameFolder(dir / L"gone", dir / L"game"));
}

TEST(SameFolder, PathOfOnlySeparatorsOrBlanksClashesWithAnyFolder) {
    ScratchDir dir;
    ASSERT_TRUE(makeFolders(dir / L"game"));
    const WString blanks[] = {L"\\", L"\\\\\\", L"   ", L" \\ ", L"/"};
    for (const WString& blank : blanks) {
        SCOPED_TRACE(testing::Message() << "path " << (&blank - blanks));
        EXPECT_TRUE(isSameFolder(blank, dir / L"game"));
        EXPECT_TRUE(isSameFolder(dir / L"game", blank));
        EXPECT_TRUE(isSameFolder(blank, dir / L"missing"));
        EXPECT_EQ(normalizeFolderPath(blank), L"");
    }
}

TEST(SameFolder, NormalisedFormIsFullLongLowerCaseWithoutTrailingSeparator) {
    ScratchDir dir;
    const WString folder = dir / L"Game Folder With A Long Name";
    ASSERT_TRUE(makeFolders(folder));
    const WString expected = normalizeFolderPath(folder);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected.find_first_of(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ/"), WString::npos);
    EXPECT_NE(expected.back(), L'\\');
    EXPECT_EQ(normalizeFolderPath(shortPathOf(folder)), expected);
    EXPECT_EQ(normalizeFolderPath(folder + L"\\sub\\..\\"), expected);
    EXPECT_EQ(normalizeFolderPath(L""), L"");
}

// --- content tests ---

TEST(WorkTree, AnyMetadataNameAsFileOrFolder) {
    const struct {
        const wchar_t* name;
        bool asFolder;
        bool workTree;
    } cases[] = {
        {L".git", false, true},
        {L".hg", true, true},
        {L".svn", true, true},
        {L".gitignore", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        ScratchDir dir;
        const WString path = dir / c.name;
        ASSERT_TRUE(c.asFolder ? makeFolders(path)
                               : writeFileBytes(path, "gitdir: ../main/.git/worktrees/x\n"));
        EXPECT_EQ(isWorkTree(dir.path()), c.workTree);
    }
}

TEST(MissingItems, FolderWithOnlyAnEmptyMusicFolderListsAllTwelveInOrder) {
    ScratchDir dir;
    ASSERT_TRUE(makeFolders(dir / L"Music"));
    EXPECT_EQ(
        listMissingGameItems(dir.path()),
        L"Tharnvl2.exe, binkw32.dll, gameinfo.dat, Imgs\\, ImgData\\, Music\\, Sounds\\, Video\\, Scens\\, "
        L"ScenData\\, Campaign\\, Briefing\\");
    EXPECT_EQ(listMissingGameItems(dir / L"does not exist"), listMissingGameItems(dir.path()));
}

TEST(MissingItems, CompleteFolderHasNone) {
    ScratchDir dir;
    ASSERT_TRUE(makeCompleteGameFolder(dir.path()));
    EXPECT_EQ(listMissingGameItems(dir.path()), L"");
    EXPECT_FALSE(isExeMissing(dir.path()));
}

TEST(MissingItems, FolderHoldingOnlyAnEmptySubfolderCountsAsPresent) {
    ScratchDir dir;
    ASSERT_TRUE(makeCompleteGameFolder(dir.path()));
    ASSERT_TRUE(DeleteFileW((dir / L"Music\\data.bin").c_str()));
    ASSERT_TRUE(makeFolders(dir / L"Music\\Empty"));
    EXPECT_EQ(listMissingGameItems(dir.path()), L"");
}

TEST(MissingItems, WrongKindOfEntryIsMissing) {
    ScratchDir dir;
    ASSERT_TRUE(makeCompleteGameFolder(dir.path()));
    // The executable as a folder, a data folder as a file, an emptied folder.
    ASSERT_TRUE(DeleteFileW((dir / L"Tharnvl2.exe").c_str()));
    ASSERT_TRUE(makeFolders(dir / L"Tharnvl2.exe\\inner"));
    ASSERT_TRUE(DeleteFileW((dir / L"Video\\data.bin").c_str()));
    ASSERT_TRUE(RemoveDirectoryW((dir / L"Video").c_str()));
    ASSERT_TRUE(writeFileBytes(dir / L"Video", "not a folder"));
    ASSERT_TRUE(DeleteFileW((dir / L"Briefing\\data.bin").c_str()));
    EXPECT_EQ(listMissingGameItems(dir.path()), L"Tharnvl2.exe, Video\\, Briefing\\");
    EXPECT_TRUE(isExeMissing(dir.path()));
}

// --- sound library ---

TEST(SoundLibrary, DescriptionFromTheFirstTranslationLowerCasedLatinOnly) {
    ScratchDir dir;
    ASSERT_TRUE(writeFileBytes(dir / L"plain.dll", "no version resource here"));
    EXPECT_EQ(readFileDescription(testDllPath("sound_library")), L"tharnveil sound library");
    EXPECT_EQ(readFileDescription(testDllPath("sound_proxy")), L"Звуковой proxy-модуль");
    EXPECT_EQ(readFileDescription(testDllPath("sound_no_description")), L"");
    EXPECT_EQ(readFileDescription(dir / L"plain.dll"), L"");
    EXPECT_EQ(readFileDescription(dir / L"absent.dll"), L"");
}

TEST(SoundLibrary, RestoresFromASecondLibraryThatIsNoProxy) {
    enum Source { kNone, kLibrary, kProxy, kNoDescription, kNotADll, kFolder };
    const struct {
        const char* name;
        bool mss23File;
        bool mss23Folder;
        Source mss32;
        int expected;
    } cases[] = {
        {"present", true, false, kProxy, kSoundLibraryPresent},
        {"present without source", true, false, kNone, kSoundLibraryPresent},
        {"restored from library", false, false, kLibrary, kSoundLibraryRestored},
        {"restored, empty description", false, false, kNoDescription, kSoundLibraryRestored},
        {"restored, no version resource", false, false, kNotADll, kSoundLibraryRestored},
        {"proxy refused", false, false, kProxy, kSoundLibraryLost},
        {"nothing to restore from", false, false, kNone, kSoundLibraryLost},
        {"source is a folder", false, false, kFolder, kSoundLibraryLost},
        {"library is a folder", false, true, kLibrary, kSoundLibraryLost},
        {"library is a folder, no source", false, true, kNone, kSoundLibraryLost},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const WString mss23 = dir / L"Mss23.dll";
        const WString mss32 = dir / L"mss32.dll";
        if (c.mss23File) {
            ASSERT_TRUE(writeFileBytes(mss23, "the real library"));
        }
        if (c.mss23Folder) {
            ASSERT_TRUE(makeFolders(mss23));
        }
        switch (c.mss32) {
            case kNone:
                break;
            case kLibrary:
                ASSERT_TRUE(CopyFileW(testDllPath("sound_library").c_str(), mss32.c_str(), TRUE));
                break;
            case kProxy:
                ASSERT_TRUE(CopyFileW(testDllPath("sound_proxy").c_str(), mss32.c_str(), TRUE));
                break;
            case kNoDescription:
                ASSERT_TRUE(CopyFileW(testDllPath("sound_no_description").c_str(), mss32.c_str(), TRUE));
                break;
            case kNotADll:
                ASSERT_TRUE(writeFileBytes(mss32, "plain bytes"));
                break;
            case kFolder:
                ASSERT_TRUE(makeFolders(mss32));
                break;
        }
        const auto sourceBefore = readFileBytes(mss32);

        EXPECT_EQ(ensureSoundLibrary(dir.path()), c.expected);

        if (c.expected == kSoundLibraryRestored) {
            EXPECT_EQ(readFileBytes(mss23), sourceBefore);
        } else if (c.mss23Folder) {
            EXPECT_TRUE(folderExists(mss23));
        } else if (!c.mss23File) {
            EXPECT_FALSE(fileExists(mss23));
        } else {
            EXPECT_EQ(readFileBytes(mss23), std::optional<std::string>("the real library"));
        }
        EXPECT_EQ(readFileBytes(mss32), sourceBefore);
    }
}

// --- install marker ---

TEST(InstallMarker, OtherBranchNamedByTheFirstChannelLine) {
    const struct {
        const char* content;
        bool namesOther;
    } cases[] = {
        {"# Varnhold install marker - do not edit\r\nchannel=ktvx\r\n", true},
        {"# Varnhold install marker - do not edit\nchannel=lurra\n", false},
        {"channel=ktvx", true},               // no final line feed
        {"channel=\nchannel=ktvx\n", false},  // the first channel line decides, even when empty
        {"# comment\n\n channel=lurra\nchannel=ktvx\n", true},
        {"# no channel line\n", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        ScratchDir dir;
        ASSERT_TRUE(writeFileBytes(dir / L"VarnholdChannel.ini", c.content));
        EXPECT_EQ(markerNamesOtherBranch(dir.path(), "lurra"), c.namesOther);
    }
}

TEST(InstallMarker, MissingOrUnreadableMarkerNamesNoBranch) {
    ScratchDir dir;
    EXPECT_FALSE(markerNamesOtherBranch(dir.path(), "lurra"));
    ASSERT_TRUE(makeFolders(dir / L"VarnholdChannel.ini"));
    EXPECT_FALSE(markerNamesOtherBranch(dir.path(), "lurra"));
}

TEST(InstallMarker, WrittenExactlyAndReplacingTheOldOne) {
    ScratchDir dir;
    const WString marker = dir / L"VarnholdChannel.ini";
    ASSERT_TRUE(
        writeFileBytes(marker, "# old marker with a much longer text than the new one\r\nchannel=lurra\r\n"));
    writeInstallMarker(dir.path(), "ktvx");
    EXPECT_EQ(readFileBytes(marker),
              std::optional<std::string>("# Varnhold install marker - do not edit\nchannel=ktvx\n"));
    EXPECT_TRUE(markerNamesOtherBranch(dir.path(), "lurra"));
    EXPECT_FALSE(markerNamesOtherBranch(dir.path(), "ktvx"));
}

TEST(InstallMarker, WriteIntoAMissingFolderCreatesNothing) {
    ScratchDir dir;
    writeInstallMarker(dir / L"gone", "lurra");
    EXPECT_FALSE(folderExists(dir / L"gone"));
}

}  // namespace
