#include "branches/folder_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(FolderText, NormalisesSeparatorsLatinCaseAndTrailingSeparatorsOnly) {
    const struct {
        const wchar_t* path;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\Games\\Tharnveil II", L"c:\\games\\tharnveil ii"},
        {L"C:/Games/Tharnveil II/", L"c:\\games\\tharnveil ii"},
        {L"C:\\Games\\ \\ \\\\  ", L"c:\\games"},
        {L"D:\\ИГРЫ\\Ёжик", L"d:\\ИГРЫ\\Ёжик"},  // no case folding beyond A-Z
        {L"  C:\\lead", L"  c:\\lead"},          // only trailing blanks are cut
        {L"\\\\", L""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        EXPECT_EQ(normalizeFolderText(c.path), c.expected);
    }
}

TEST(FolderText, OnlySeparatorsAndBlanksMakeABlankPath) {
    EXPECT_TRUE(isBlankFolderPath(L"\\"));
    EXPECT_TRUE(isBlankFolderPath(L"\\\\\\"));
    EXPECT_TRUE(isBlankFolderPath(L"   "));
    EXPECT_TRUE(isBlankFolderPath(L" /\\ "));
    EXPECT_FALSE(isBlankFolderPath(L""));
    EXPECT_FALSE(isBlankFolderPath(L"\\a"));
    EXPECT_FALSE(isBlankFolderPath(L"\t"));
    EXPECT_FALSE(isBlankFolderPath(L"."));
}

TEST(FolderText, LowerCasesOnlyLatinCapitals) {
    EXPECT_EQ(lowerAsciiLetters(L"AZaz@[`{ ÄЖ Proxy"), L"azaz@[`{ ÄЖ proxy");
}

TEST(MissingItems, AreJoinedByCommaAndBlankWithFolderSuffix) {
    WString list;
    appendListItem(list, L"Tharnvl2.exe");
    EXPECT_EQ(list, L"Tharnvl2.exe");
    appendListItem(list, L"Imgs", L"\\");
    appendListItem(list, L"Music", L"\\");
    EXPECT_EQ(list, L"Tharnvl2.exe, Imgs\\, Music\\");
}

TEST(InstallMarker, IsTwoLinesWithLineFeedsOnly) {
    EXPECT_EQ(installMarkerText("ktvx"), "# Varnhold install marker - do not edit\nchannel=ktvx\n");
    EXPECT_EQ(installMarkerText("lurra"), "# Varnhold install marker - do not edit\nchannel=lurra\n");
}

TEST(InstallMarker, OnlyAnExactChannelLineDecides) {
    const struct {
        const char* line;
        std::optional<bool> expected;
    } cases[] = {
        {"channel=ktvx", true},
        {"channel=ktvx\r", true},
        {"channel=ktvx \t\r\r", true},
        {"channel=lurra", false},
        {"channel=lurra\r\r", false},
        {"channel=", false},  // an empty value blocks nothing
        {"channel= \t", false},
        {"channel=LURRA", true},  // the value is compared byte for byte
        {"channel=lurra2", true},
        {"channel=lurr", true},
        {" channel=ktvx", std::nullopt},  // not at column 1
        {"Channel=ktvx", std::nullopt},
        {"channel ktvx", std::nullopt},
        {"# Varnhold install marker - do not edit", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(markerLineNamesOtherBranch(c.line, "lurra"), c.expected);
    }
}

}  // namespace
