#include "base/paths_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "config/text_convert.h"
#include "support/test_env_win.h"

namespace {

WString helperPath(const char* name) {
    return winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/" + name);
}

TEST(Paths, ModulePathOfThisTestNamesItsExecutable) {
    const WString path = modulePath();
    ASSERT_GT(path.size(), 4u);
    EXPECT_EQ(path.substr(path.size() - 4), L".exe");
    EXPECT_TRUE(fileExists(path));
    EXPECT_EQ(launcherFolder() + path.substr(launcherFolder().size()), path);
    EXPECT_TRUE(folderExists(launcherFolder()));
}

// GetModuleFileNameW truncates into a 260-character buffer; the launcher must grow it.
TEST(Paths, ModulePathLongerThanTheFirstBufferComesBackWhole) {
    ScratchDir dir;
    WString folder = dir.path();
    for (int i = 0; folder.size() < 600; ++i) {
        folder += L"\\long folder name number " + std::to_wstring(i) + L" Ёжик";
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr));
    }
    const WString copy = folder + L"\\VarnholdLauncher.exe";
    ASSERT_TRUE(CopyFileW(helperPath("print_module_path.exe").c_str(), (L"\\\\?\\" + copy).c_str(), FALSE));

    // Wine's CreateProcessW refuses application paths beyond MAX_PATH, so the copy is started
    // from the Linux side, as "wine <path>" would be by a user; the module path is the same.
    const WString output = dir / L"module_path.txt";
    const int status = runUnixShell("\"${WINE:-wine}\" " + shellQuote(unixPathFromWine(copy)) + " " +
                                    shellQuote(wideToUtf8(output)));
    ASSERT_EQ(status, 0);

    const auto text = readFileBytes(output);
    ASSERT_TRUE(text.has_value());
    const WString lines = utf8ToWide(*text);
    EXPECT_EQ(lines, copy + L"\n" + folder + L"\n");
}

}  // namespace
