#include "base/paths.h"

#include <gtest/gtest.h>

namespace {

TEST(Paths, LauncherFolderIsCutBeforeTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(folderOfPath(L"C:\\Games\\Launcher\\VarnholdLauncher.exe"), L"C:\\Games\\Launcher");
    EXPECT_EQ(folderOfPath(L"C:\\Games/Launcher/VarnholdLauncher.exe"), L"C:\\Games/Launcher");
    EXPECT_EQ(folderOfPath(L"C:/a\\b.exe"), L"C:/a");
    EXPECT_EQ(folderOfPath(L"\\\\server\\share\\l.exe"), L"\\\\server\\share");
    EXPECT_EQ(folderOfPath(L"VarnholdLauncher.exe"), L"VarnholdLauncher.exe");
    EXPECT_EQ(folderOfPath(L""), L"");
}

}  // namespace
