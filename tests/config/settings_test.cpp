#include "config/settings.h"

#include <gtest/gtest.h>
#include <string>

namespace {

TEST(SettingsText, IsExactlySixLinesWithFoldersInUtf8) {
    Settings settings;
    settings.branchFolders[0] = L"C:\\Games\\Тарнвейл";
    settings.language = 1;
    EXPECT_EQ(buildSettingsText(settings),
              "# VarnholdLauncher config (UTF-8)\n[paths]\nlurra=C:\\Games\\\xD0\xA2\xD0\xB0\xD1\x80\xD0\xBD"
              "\xD0\xB2\xD0\xB5\xD0\xB9\xD0\xBB\nktvx=\n[ui]\nlanguage=en\n");
    settings.language = 7;  // anything but 1 is Russian
    settings.branchFolders[1] = L"D:\\a;b#c";
    EXPECT_EQ(buildSettingsText(settings).substr(buildSettingsText(settings).find("ktvx=")),
              "ktvx=D:\\a;b#c\n[ui]\nlanguage=ru\n");
}

TEST(SettingsText, RoundTripsFoldersButInlineCommentsAndBlanksCutThem) {
    Settings saved;
    saved.branchFolders = {L"  C:\\Games\\Tharnveil II\t", L"E:\\mods #2\\ktvx"};
    saved.language = 1;
    Settings loaded;
    ASSERT_TRUE(applySettingsText(loaded, buildSettingsText(saved)));
    EXPECT_EQ(loaded.branchFolders[0], L"C:\\Games\\Tharnveil II");
    EXPECT_EQ(loaded.branchFolders[1], L"E:\\mods ");
    EXPECT_EQ(loaded.language.load(), 1);
}

TEST(SettingsText, OnlyTheExactValueEnSelectsEnglish) {
    const struct {
        const char* text;
        int language;
    } cases[] = {
        {"[ui]\nlanguage=en\n", 1},
        {"[ui]\nlanguage=EN\n", 0},
        {"[ui]\nlanguage=english\n", 0},
        {"[ui]\nlanguage = en \n", 1},
        {"[paths]\nlurra=C:\\g\n", 0},  // no [ui]: Russian
        {"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Settings settings;
        settings.language = 1;
        EXPECT_TRUE(applySettingsText(settings, c.text));
        EXPECT_EQ(settings.language.load(), c.language);
    }
}

TEST(SettingsText, HandEditedTextTheReaderRejectsIsIgnoredAsAWhole) {
    const char* cases[] = {
        "\xEF\xBB\xBF# VarnholdLauncher config (UTF-8)\n[paths]\nlurra=C:\\g\n",  // BOM on a comment line
        "\xEF\xBB\xBF[paths]\nlurra=C:\\g\n",
        "[paths]\nlurra=C:\\g\nlurra=C:\\h\n[ui]\nlanguage=ru\n",
        "[paths]\nlurra=C:\\g\n[ui]\nlanguage=ru\n[ui]\n",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        Settings settings;
        settings.branchFolders = {L"old0", L"old1"};
        settings.language = 1;
        EXPECT_FALSE(applySettingsText(settings, text));
        EXPECT_EQ(settings.branchFolders[0], L"");
        EXPECT_EQ(settings.branchFolders[1], L"");
        EXPECT_EQ(settings.language.load(), 1);  // unchanged
    }
}

TEST(SettingsText, InvalidUtf8FolderIsKeptWithReplacementCharacters) {
    Settings settings;
    ASSERT_TRUE(applySettingsText(settings,
                                  "[paths]\nktvx=C:\\a\xFF"
                                  "b\n"));
    EXPECT_EQ(settings.branchFolders[1],
              L"C:\\a\xFFFD"
              L"b");
}

}  // namespace
