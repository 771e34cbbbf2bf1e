#include "config/settings.h"

#include <gtest/gtest.h>
#include <string>

namespace {

TEST(SettingsText, IsExactlySixLinesWithFoldersInUtf8) {
    Settings settings;
    settings.branchFolders[0] = L"C:\\Games\\Тарнвейл";
    settings.language = Language::English;
    EXPECT_EQ(buildSettingsText(settings),
              "# VarnholdLauncher config (UTF-8)\n[paths]\nlurra=C:\\Games\\\xD0\xA2\xD0\xB0\xD1\x80\xD0\xBD"
              "\xD0\xB2\xD0\xB5\xD0\xB9\xD0\xBB\nktvx=\n[ui]\nlanguage=en\n");
    settings.language = Language::Russian;
    settings.branchFolders[1] = L"D:\\a;b#c";
    EXPECT_EQ(buildSettingsText(settings).substr(buildSettingsText(settings).find("ktvx=")),
              "ktvx=D:\\a;b#c\n[ui]\nlanguage=ru\n");
}

TEST(SettingsText, RoundTripsFoldersButInlineCommentsAndBlanksCutThem) {
    Settings saved;
    saved.branchFolders = {L"  C:\\Games\\Tharnveil II\t", L"E:\\mods #2\\ktvx"};
    saved.language = Language::English;
    Settings loaded;
    ASSERT_TRUE(applySettingsText(loaded, buildSettingsText(saved)));
    EXPECT_EQ(loaded.branchFolders[0], L"C:\\Games\\Tharnveil II");
    EXPECT_EQ(loaded.branchFolders[1], L"E:\\mods ");
    EXPECT_EQ(loaded.language.load(), Language::English);
}

TEST(SettingsText, OnlyTheExactValueEnSelectsEnglish) {
    const struct {
        const char* text;
        Language language;
    } cases[] = {
        {"[ui]\nlanguage=en\n", Language::English},
        {"[ui]\nlanguage=EN\n", Language::Russian},
        {"[ui]\nlanguage=english\n", Language::Russian},
        {"[ui]\nlanguage = en \n", Language::English},
        {"[paths]\nlurra=C:\\g\n", Language::Russian},  // no [ui]: Russian
        {"", Language::Russian},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Settings settings;
        settings.language = Language::English;
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
        settings.language = Language::English;
        EXPECT_FALSE(applySettingsText(settings, text));
        EXPECT_EQ(settings.branchFolders[0], L"");
        EXPECT_EQ(settings.branchFolders[1], L"");
        EXPECT_EQ(settings.language.load(), Language::English);  // unchanged
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
