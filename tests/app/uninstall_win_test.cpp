#include "app/uninstall_win.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "base/constants.h"
#include "config/text_convert.h"
#include "support/child_process_win.h"
#include "support/launcher_process_win.h"
#include "support/test_env_win.h"

namespace {

const char kLauncherIni[] = "# VarnholdLauncher config (UTF-8)\n[paths]\nlurra=C:\\Games\n";
const char kErrorLog[] = "Failed to create window!";
const char kInstalledVersion[] = "[version]\nversion=144\n";

bool makeFolders(const WString& folder) {
    if (folderExists(folder)) return true;
    const size_t cut = folder.find_last_of(L"\\/");
    if (cut != WString::npos && cut > 2 && !makeFolders(folder.substr(0, cut))) return false;
    return CreateDirectoryW(folder.c_str(), nullptr) != 0;
}

bool makeFile(const WString& path, const std::string& bytes = "data") {
    const size_t cut = path.find_last_of(L"\\/");
    return (cut == WString::npos || makeFolders(path.substr(0, cut))) && writeFileBytes(path, bytes);
}

// The launcher's main window (its class is the instance name) on the process's first thread, or
// null once the process has ended without one.
HWND waitForMainWindow(const ChildProcess& process) {
    for (int waited = 0; waited < 30000; waited += 10) {
        if (HWND found = threadLauncherWindow(process.threadId)) return found;
        if (WaitForSingleObject(process.process.get(), 10) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
}

bool isUnixSymlink(const std::string& unixPath) {
    return runUnixShell("test -L " + shellQuote(unixPath)) == 0;
}

// A game folder holding a copy of this build's launcher with its own files around it, inside a
// scratch folder that stands for the world outside the game folder.
class Uninstall : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(makeFolders(game));
        const WString built = winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/VarnholdLauncher.exe");
        ASSERT_TRUE(CopyFileW(built.c_str(), exe.c_str(), TRUE));
        exeBytes = readFileBytes(exe);
        ASSERT_TRUE(exeBytes.has_value());
        ASSERT_TRUE(makeFile(at(L"launcher.ini"), kLauncherIni));
        ASSERT_TRUE(makeFile(at(L"launcher_error.log"), kErrorLog));
        ASSERT_TRUE(makeFile(at(L"VarnholdLauncher.ini"), kInstalledVersion));
    }

    [[nodiscard]] WString at(const WString& relative) const { return game + L"\\" + relative; }

    // Starts the launcher copy with the command-line tail, from a working folder outside the game
    // folder, and waits for its end. Empty when it could not be started or did not end.
    [[nodiscard]] std::optional<DWORD> runLauncher(const WString& tail) const {
        const ChildProcess launcher = startChild(exe, L"\"" + exe + L"\" " + tail, ChildOptions(dir.path()));
        return waitForChild(launcher, 60000);
    }

    // The launcher's own files are never touched by the uninstall.
    void expectLauncherFilesKept() const {
        EXPECT_EQ(readFileBytes(exe), exeBytes);
        EXPECT_EQ(readFileBytes(at(L"launcher.ini")), std::optional<std::string>(kLauncherIni));
        EXPECT_EQ(readFileBytes(at(L"launcher_error.log")), std::optional<std::string>(kErrorLog));
    }

    ScratchDir dir;
    const WString game = dir / L"game";
    const WString exe = game + L"\\VarnholdLauncher.exe";
    std::optional<std::string> exeBytes;
};

TEST_F(Uninstall, RemovesSafeListedFilesTheirCompanionsAndEmptiedFolders) {
    const wchar_t* removed[] = {
        L"Imgs\\Icons.ff",      L"Imgs\\Icons.ff.gz", L"Interf\\Deep\\Er\\file.txt",
        L"Globals\\sub\\x.dat", L"Templates\\Т.txt",  L"mss32.dll",
        L"mss32.dll.gz",        L"Scripts\\last.lua", L"ScenData\\after.dat",
    };
    const wchar_t* kept[] = {
        L"Tharnvl2.exe",       L"x",
        L"Mss23.dll",          L"VarnholdChannel.ini",
        L"Globals\\other.dat", L"Globals\\sub2\\inner.dat",
        L"ScenData\\keep1",    L"ScenData\\keep2",
        L"ScenData\\keep3",    L"ScenData\\.hidden",
        L"ScenData\\keep6",    L"ScenData\\x",
        L"launcher.log",       L"launcher.log.1",
        L"launcher_crash.dmp",
    };
    for (const wchar_t* name : removed) ASSERT_TRUE(makeFile(at(name)));
    for (const wchar_t* name : kept) ASSERT_TRUE(makeFile(at(name)));
    ASSERT_TRUE(makeFolders(at(L"ScenData\\keep4")));
    ASSERT_TRUE(makeFile(dir / L"Tharnvl2.exe"));  // beside the game folder

    const std::string list = std::string(
                                 "Imgs/Icons.ff\r\n"
                                 "Interf/Deep/Er/file.txt\r\n"
                                 "Globals/sub/x.dat\r\n"
                                 "Globals/sub2\r\n"
                                 "Templates/\xD0\xA2.txt\r\n"
                                 "mss32.dll\r\n"
                                 "Imgs/never-installed.ff\r\n"
                                 "\r\n"
                                 "../Tharnvl2.exe\r\n"
                                 "Imgs/../x\r\n"
                                 "C:/x\r\n"
                                 "ScenData\\keep1\r\n"
                                 "/ScenData/keep2\r\n"
                                 "ScenData//keep3\r\n"
                                 "ScenData/.hidden\r\n"
                                 "ScenData/keep4/\r\n"
                                 "Tharnvl2.exe\r\n"
                                 "Mss23.dll\r\n"
                                 "launcher.ini\r\n"
                                 "launcher_error.log\r\n"
                                 "launcher.log\r\n"
                                 "launcher_crash.dmp\r\n"
                                 "VarnholdLauncher.exe\r\n"
                                 "VarnholdChannel.ini\r\n") +
                             std::string("ScenData/keep6\0/x\r\n", 20) +
                             "\x1A\r\n"  // read as bytes: a Ctrl-Z does not end the list
                             "ScenData/after.dat\r\n"
                             "Scripts/last.lua";  // no final line feed
    ASSERT_TRUE(writeFileBytes(at(L"launcher_unins.ini"), list));

    EXPECT_EQ(runLauncher(L"-uninstall"), std::optional<DWORD>(0));

    for (const wchar_t* name : removed) EXPECT_FALSE(fileExists(at(name))) << wideToUtf8(name);
    for (const wchar_t* name : kept) EXPECT_TRUE(fileExists(at(name))) << wideToUtf8(name);
    EXPECT_TRUE(fileExists(dir / L"Tharnvl2.exe"));
    for (const wchar_t* folder : {L"Imgs", L"Interf\\Deep\\Er", L"Interf\\Deep", L"Interf", L"Globals\\sub",
                                  L"Templates", L"Scripts"}) {
        EXPECT_FALSE(folderExists(at(folder))) << wideToUtf8(folder);
    }
    for (const wchar_t* folder : {L"Globals", L"Globals\\sub2", L"ScenData", L"ScenData\\keep4"}) {
        EXPECT_TRUE(folderExists(at(folder))) << wideToUtf8(folder);
    }
    EXPECT_FALSE(fileExists(at(L"VarnholdLauncher.ini")));
    EXPECT_FALSE(fileExists(at(L"launcher_unins.ini")));
    expectLauncherFilesKept();
}

// Wine deletes what a link points to, so these paths must never reach a delete call.
TEST_F(Uninstall, PathsThroughDirectoryLinksAreSkippedAndTheirTargetsKept) {
    const WString outside = dir / L"outside";
    const wchar_t* outsideFiles[] = {L"imgs\\a.ff", L"imgs\\sub\\b.ff", L"globals\\only.dat", L"deep\\c.ff",
                                     L"gz\\keep.dat"};
    for (const wchar_t* name : outsideFiles) ASSERT_TRUE(makeFile(outside + L"\\" + name));
    ASSERT_TRUE(makeFile(at(L"Interf\\real.ff")));
    const std::string gameUnix = dir.unixPath() + "/game";
    const std::string outsideUnix = dir.unixPath() + "/outside";
    ASSERT_EQ(
        runUnixShell("ln -s " + shellQuote(outsideUnix + "/imgs") + " " + shellQuote(gameUnix + "/Imgs") +
                     " && ln -s " + shellQuote(outsideUnix + "/globals") + " " +
                     shellQuote(gameUnix + "/Globals") + " && ln -s " + shellQuote(outsideUnix + "/deep") +
                     " " + shellQuote(gameUnix + "/Interf/linked") + " && ln -s " +
                     shellQuote(outsideUnix + "/gz") + " " + shellQuote(gameUnix + "/Interf/real.ff.gz")),
        0);
    ASSERT_TRUE(
        writeFileBytes(at(L"launcher_unins.ini"),
                       "Imgs/a.ff\nImgs/sub/b.ff\nGlobals/only.dat\nInterf/linked/c.ff\nInterf/real.ff\n"));

    EXPECT_EQ(runLauncher(L"-uninstall"), std::optional<DWORD>(0));

    for (const wchar_t* name : outsideFiles)
        EXPECT_TRUE(fileExists(outside + L"\\" + name)) << wideToUtf8(name);
    for (const char* link : {"/Imgs", "/Globals", "/Interf/linked", "/Interf/real.ff.gz"}) {
        EXPECT_TRUE(isUnixSymlink(gameUnix + link)) << link;
    }
    EXPECT_FALSE(fileExists(at(L"Interf\\real.ff")));
    EXPECT_TRUE(folderExists(at(L"Interf")));
    EXPECT_FALSE(fileExists(at(L"launcher_unins.ini")));
    expectLauncherFilesKept();
}

TEST_F(Uninstall, WithoutAListOnlyTheInstalledVersionFileGoes) {
    const wchar_t* kept[] = {L"Imgs\\a.ff", L"mss32.dll", L"Tharnvl2.exe", L"VarnholdChannel.ini"};
    for (const wchar_t* name : kept) ASSERT_TRUE(makeFile(at(name)));

    EXPECT_EQ(runLauncher(L"-uninstall"), std::optional<DWORD>(0));

    EXPECT_FALSE(fileExists(at(L"VarnholdLauncher.ini")));
    for (const wchar_t* name : kept) EXPECT_TRUE(fileExists(at(name))) << wideToUtf8(name);
    EXPECT_FALSE(fileExists(at(L"launcher.log")));  // the uninstall run keeps no log of its own
    expectLauncherFilesKept();
}

// Game paths are built with "\" only, so a launcher folder in the "\\?\" form works as well.
TEST_F(Uninstall, LauncherFolderInLongPathForm) {
    ASSERT_TRUE(makeFile(at(L"Imgs\\Sub\\a.ff")));
    ASSERT_TRUE(makeFile(at(L"Imgs\\Sub\\a.ff.gz")));
    ASSERT_TRUE(writeFileBytes(at(L"launcher_unins.ini"), "Imgs/Sub/a.ff\n"));
    runUninstall(L"\\\\?\\" + game);
    EXPECT_FALSE(fileExists(at(L"Imgs\\Sub\\a.ff")));
    EXPECT_FALSE(fileExists(at(L"Imgs\\Sub\\a.ff.gz")));
    EXPECT_FALSE(folderExists(at(L"Imgs")));
    EXPECT_FALSE(fileExists(at(L"VarnholdLauncher.ini")));
    EXPECT_FALSE(fileExists(at(L"launcher_unins.ini")));
}

// Only the exact tail "-uninstall" uninstalls; anything else is a normal start, which shows the
// window and deletes nothing.
TEST_F(Uninstall, AnyOtherCommandLineIsANormalStart) {
    ASSERT_TRUE(makeFile(at(L"Imgs\\a.ff")));
    ASSERT_TRUE(writeFileBytes(at(L"launcher_unins.ini"), "Imgs/a.ff\n"));
    for (const wchar_t* tail : {L"-uninstall ", L"-Uninstall"}) {
        SCOPED_TRACE(wideToUtf8(tail));
        const ChildProcess process =
            startChild(exe, L"\"" + exe + L"\" " + std::wstring(tail), ChildOptions(dir.path()));
        ASSERT_TRUE(process);
        // An uninstall run would have ended before any window exists: once the main window is
        // there (or the process has ended, as it does without a display), the files tell which
        // mode ran.
        const HWND window = waitForMainWindow(process);
        EXPECT_TRUE(fileExists(at(L"Imgs\\a.ff")));
        EXPECT_TRUE(fileExists(at(L"launcher_unins.ini")));
        EXPECT_TRUE(fileExists(at(L"VarnholdLauncher.ini")));

        if (window) PostMessageW(window, WM_CLOSE, 0, 0);
        (void)waitForChild(process, 10000);
        EXPECT_TRUE(fileExists(at(L"Imgs\\a.ff")));
    }
    expectLauncherFilesKept();
}

}  // namespace
