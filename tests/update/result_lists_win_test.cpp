#include "update/result_lists_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/handles_win.h"
#include "support/test_env_win.h"

namespace {

FileManifest twoEntries() {
    FileManifest manifest(2);
    manifest[0].path = "Scripts/Main.lua";
    manifest[1].path = "mss32.dll";
    return manifest;
}

TEST(UninstallList, HoldsEveryManifestPathInOrderEachEndedByLineFeed) {
    ScratchDir dir;
    ASSERT_TRUE(writeFileBytes(dir / L"launcher_unins.ini", "Old/list\n"));
    writeUninstallList(dir.path(), twoEntries());
    EXPECT_EQ(readFileBytes(dir / L"launcher_unins.ini"), std::string("Scripts/Main.lua\nmss32.dll\n"));
    EXPECT_FALSE(fileExists(dir / L"launcher_unins.ini.new"));
}

TEST(UninstallList, ShorterListReplacesALongerOneWhole) {
    ScratchDir dir;
    ASSERT_TRUE(writeFileBytes(dir / L"launcher_unins.ini", std::string(5000, 'x') + "\n"));
    FileManifest one(1);
    one[0].path = "Imgs/\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0.png";  // kept as the manifest's UTF-8 bytes
    writeUninstallList(dir.path(), one);
    EXPECT_EQ(readFileBytes(dir / L"launcher_unins.ini"),
              std::string("Imgs/\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0.png\n"));
}

TEST(UninstallList, NewFileThatCannotBeWrittenKeepsTheOldList) {
    ScratchDir dir;
    ASSERT_TRUE(writeFileBytes(dir / L"launcher_unins.ini", "Old/list\n"));
    ASSERT_TRUE(CreateDirectoryW((dir / L"launcher_unins.ini.new").c_str(), nullptr));
    writeUninstallList(dir.path(), twoEntries());
    EXPECT_EQ(readFileBytes(dir / L"launcher_unins.ini"), std::string("Old/list\n"));
}

TEST(UninstallList, ListThatCannotBeReplacedStaysAndNoNewFileRemains) {
    ScratchDir dir;
    ASSERT_TRUE(writeFileBytes(dir / L"launcher_unins.ini", "Old/list\n"));
    UniqueKernelHandle held(CreateFileW((dir / L"launcher_unins.ini").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    writeUninstallList(dir.path(), twoEntries());
    held.reset();
    EXPECT_EQ(readFileBytes(dir / L"launcher_unins.ini"), std::string("Old/list\n"));
    EXPECT_FALSE(fileExists(dir / L"launcher_unins.ini.new"));
}

}  // namespace
