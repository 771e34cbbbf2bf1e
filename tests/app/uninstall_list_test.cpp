#include "app/uninstall_list.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

TEST(UninstallList, SplitsAtLineFeedsAndCutsOneCarriageReturn) {
    EXPECT_EQ(splitUninstallList("Imgs/a\nImgs/b\n"), (Lines{"Imgs/a", "Imgs/b"}));
    EXPECT_EQ(splitUninstallList("Imgs/a\r\nImgs/b\r\n"), (Lines{"Imgs/a", "Imgs/b"}));
    EXPECT_EQ(splitUninstallList("Imgs/a\r\r\nlast"), (Lines{"Imgs/a\r", "last"}));
    EXPECT_EQ(splitUninstallList("\n\r\nImgs/a"), (Lines{"", "", "Imgs/a"}));
    EXPECT_EQ(splitUninstallList("Imgs/a\x1A\nImgs/b"), (Lines{"Imgs/a\x1A", "Imgs/b"}));
    EXPECT_EQ(splitUninstallList(""), Lines{});
}

TEST(UninstallList, AcceptsOnlySafePathsInsideTheGameFolders) {
    const struct {
        std::string path;
        bool safe;
    } cases[] = {
        {"Imgs/Icons.ff", true},
        {"imgs/deep/er/x.dat", true},
        {"Templates/\xD0\xA2.txt", true},
        {"mss32.dll", true},
        {"MSS32.DLL", true},
        {"Interf/a b/c d.txt", true},
        {"../Tharnvl2.exe", false},
        {"Imgs/../x", false},
        {"Imgs/a..b", false},  // any ".." is refused
        {"C:/x", false},
        {"Imgs/x:stream", false},
        {"Imgs\\x", false},
        {"/Imgs/x", false},
        {"Imgs//x", false},
        {"Imgs/x/", false},
        {"Imgs/.hidden", false},
        {".git/config", false},
        {"Imgs/./x", false},
        {"Tharnvl2.exe", false},  // outside the game's own folders
        {"launcher.ini", false},
        {"launcher_error.log", false},
        {"VarnholdLauncher.exe", false},
        {"Mss23.dll", false},
        {"Imgs", false},
        {"Imgs/", false},
        {"", false},
        {"Imgs/x\r", false},
        {"Imgs/x\t", false},
        {std::string("Imgs/keep\0/x", 12), false},  // a NUL would cut the path short
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(isSafeUninstallPath(c.path), c.safe);
    }
}

TEST(UninstallList, EnclosingFoldersComeInnermostFirst) {
    EXPECT_EQ(enclosingFoldersInnermostFirst("Interf/Deep/Er/file.txt"),
              (Lines{"Interf/Deep/Er", "Interf/Deep", "Interf"}));
    EXPECT_EQ(enclosingFoldersInnermostFirst("Imgs/a"), (Lines{"Imgs"}));
    EXPECT_EQ(enclosingFoldersInnermostFirst("mss32.dll"), Lines{});
}

}  // namespace
