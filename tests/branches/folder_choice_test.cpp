#include "branches/folder_choice.h"

#include <gtest/gtest.h>

namespace {

TEST(FolderChoiceRules, OnlyPathsThatComeBackFromLauncherIniUnchangedAreKept) {
    const struct {
        const wchar_t* path;
        bool kept;
    } cases[] = {
        {L"C:\\Games\\Tharnveil II", true},
        {L"D:\\Игры\\Варнхольд", true},
        {L"C:\\Mods\\a=b [x]", true},
        {L"C:\\Games\\#2", false},  // the reader cuts an inline comment
        {L"C:\\Games;old", false},
        {L" C:\\Games", false},  // blanks at either end are trimmed
        {L"C:\\Games ", false},
        {L"C:\\Games\t", false},
        {L"C:\\Games\\\xD800", false},  // a lone surrogate has no UTF-8 form
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        for (int branch = 0; branch < kBranchCount; ++branch) {
            EXPECT_EQ(folderSurvivesSettingsFile(branch, c.path), c.kept);
        }
    }
}

TEST(FolderChoiceRules, TheBrowserOpensAtTheBranchsFolderElseAnotherSetOneElseTheLaunchers) {
    EXPECT_EQ(folderChoiceStart({L"A", L"B"}, 1, L"L"), L"B");
    EXPECT_EQ(folderChoiceStart({L"A", L""}, 1, L"L"), L"A");
    EXPECT_EQ(folderChoiceStart({L"", L"B"}, 0, L"L"), L"B");
    EXPECT_EQ(folderChoiceStart({L"", L""}, 0, L"L"), L"L");
}

}  // namespace
