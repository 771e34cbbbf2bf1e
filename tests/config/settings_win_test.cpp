#include "config/settings_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/handles_win.h"
#include "support/test_env_win.h"

namespace {

const char kTwoFolders[] =
    "# VarnholdLauncher config (UTF-8)\n[paths]\nlurra=C:\\Games\\\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0\n"
    "ktvx=D:\\tvx\n[ui]\nlanguage=en\n";

TEST(SettingsFile, SaveWritesTheExactTextThroughANewFileAndLoadReadsItBack) {
    ScratchDir dir;
    Settings saved;
    saved.branchFolders = {L"C:\\Games\\Игра", L"D:\\tvx"};
    saved.language = Language::English;
    ASSERT_TRUE(writeFileBytes(dir / L"launcher.ini", "old"));
    ASSERT_TRUE(saveSettingsTo(saved, dir.path()));
    EXPECT_EQ(readFileBytes(dir / L"launcher.ini"), std::string(kTwoFolders));
    EXPECT_FALSE(fileExists(dir / L"launcher.ini.new"));

    Settings loaded;
    loadSettingsFrom(loaded, dir.path());
    EXPECT_EQ(loaded.branchFolders[0], L"C:\\Games\\Игра");
    EXPECT_EQ(loaded.branchFolders[1], L"D:\\tvx");
    EXPECT_EQ(loaded.language.load(), Language::English);
}

TEST(SettingsFile, FolderThatCannotBeWrittenFailsTheSaveAndKeepsTheOldFile) {
    ScratchDir dir;
    ASSERT_TRUE(writeFileBytes(dir / L"launcher.ini", kTwoFolders));
    Settings settings;
    settings.branchFolders = {L"X:\\new", L""};
    ImmutableFolder readOnly(dir.path());
    if (!readOnly.active()) GTEST_SKIP() << readOnly.whyNot();
    EXPECT_FALSE(saveSettingsTo(settings, dir.path()));
    EXPECT_FALSE(fileExists(dir / L"launcher.ini.new"));
    EXPECT_EQ(readFileBytes(dir / L"launcher.ini"), std::string(kTwoFolders));
}

TEST(SettingsFile, TargetThatCannotBeReplacedLeavesNoNewFile) {
    ScratchDir dir;
    ASSERT_TRUE(writeFileBytes(dir / L"launcher.ini", kTwoFolders));
    // Held open without delete sharing, the file cannot be replaced by a rename.
    UniqueKernelHandle held(CreateFileW((dir / L"launcher.ini").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    Settings settings;
    settings.branchFolders = {L"X:\\new", L""};
    EXPECT_FALSE(saveSettingsTo(settings, dir.path()));
    held.reset();
    EXPECT_FALSE(fileExists(dir / L"launcher.ini.new"));
    EXPECT_EQ(readFileBytes(dir / L"launcher.ini"), std::string(kTwoFolders));
}

TEST(SettingsFile, HandEditedFileWithAByteOrderMarkIsIgnoredAndLeftAlone) {
    ScratchDir dir;
    const std::string edited = std::string("\xEF\xBB\xBF") + kTwoFolders;
    ASSERT_TRUE(writeFileBytes(dir / L"launcher.ini", edited));
    Settings settings;
    settings.branchFolders = {L"keep?", L"keep?"};
    loadSettingsFrom(settings, dir.path());
    EXPECT_EQ(settings.branchFolders[0], L"");
    EXPECT_EQ(settings.branchFolders[1], L"");
    EXPECT_EQ(settings.language.load(), Language::Russian);
    EXPECT_EQ(readFileBytes(dir / L"launcher.ini"), edited);
}

TEST(SettingsFile, MissingFileEmptiesTheFoldersAndKeepsTheLanguage) {
    ScratchDir dir;
    Settings settings;
    settings.branchFolders = {L"a", L"b"};
    settings.language = Language::English;
    loadSettingsFrom(settings, dir.path());
    EXPECT_EQ(settings.branchFolders[0], L"");
    EXPECT_EQ(settings.language.load(), Language::English);
}

TEST(SettingsFile, CarriageReturnLineEndsLoad) {
    ScratchDir dir;
    ASSERT_TRUE(writeFileBytes(dir / L"launcher.ini", "[paths]\r\nlurra=C:\\g\r\n[ui]\r\nlanguage=en\r\n"));
    Settings settings;
    loadSettingsFrom(settings, dir.path());
    EXPECT_EQ(settings.branchFolders[0], L"C:\\g");
    EXPECT_EQ(settings.language.load(), Language::English);
}

}  // namespace
