#include "branches/game_launch_win.h"

#include <windows.h>

#include <objbase.h>

#include "branches/branch_fixture_win.h"
#include "branches/folder_checks_win.h"
#include "config/text_convert.h"
#include "support/dialog_driver_win.h"
#include "ui/branch_ui_win.h"
#include "ui/shell_win.h"

namespace {

using GameLaunch = BranchTest;

bool refuseStart(const ShellRequest&) { return false; }
// What Explorer's ShellExecute does with a start it cannot carry out: it takes the request.
bool takeRequestOnly(const ShellRequest&) { return true; }

// An elevated launcher hands the game to the desktop's shell and starts it itself only when that
// fails. Wine's desktop answers as Explorer's does; that the game then runs without the launcher's
// elevation only Windows can show (under Wine every process counts as elevated). A start the shell
// cannot carry out: Wine's answers S_FALSE (a "succeeded" code) for a file that is no program;
// Explorer's takes the request and reports nothing, which the seam does (it starts nothing).
TEST_F(GameLaunch, StartsTheGameInItsFolderWithoutArguments) {
    const WString standIn =
        winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/stand_in_game.exe");
    ASSERT_TRUE(CopyFileW(standIn.c_str(), (games[1] + L"\\Tharnvl2.exe").c_str(), FALSE));
    const bool comReady = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    const struct {
        const char* name;
        bool elevated;
        ShellHooks hooks;
        bool started = true;
        const char* game = nullptr;  // Tharnvl2.exe's bytes from this row on; the stand-in game before
    } cases[] = {
        {"not elevated: directly", false, {nullptr, nullptr, refuseStart, nullptr}},
        {"elevated: the desktop's shell only", true, {nullptr, nullptr, nullptr, refuseStart}},
        {"elevated, no desktop shell: directly", true, {nullptr, nullptr, refuseStart, nullptr}},
        // The launcher stays open, and does not start the game itself as well.
        {"elevated: the desktop's shell takes the request and starts nothing",
         true,
         {nullptr, nullptr, takeRequestOnly, nullptr, 1500},
         false},
        {"elevated: a file the shell cannot start", true, {}, false, "this is no program\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const WString logPath = games[1] + L"\\stand_in_game.log";
        DeleteFileW(logPath.c_str());
        // Last: the stand-in game of a row before may still be running.
        if (c.game) {
            ASSERT_TRUE(
                waitUntil([&] { return writeFileBytes(games[1] + L"\\Tharnvl2.exe", c.game); }, kWaitMs));
        }
        setShellHooksForTests(c.hooks);
        worker.ui.startProgram = makeWindowBranchUi(nullptr, c.elevated).startProgram;  // the shell, for real
        {
            DialogAnswerer errorBox({}, 10000, 300);  // the system's, should a direct start show one
            EXPECT_EQ(launchBranch(worker, 1), c.started);
        }
        setShellHooksForTests({});
        if (!c.started) {
            Sleep(500);
            EXPECT_FALSE(readFileBytes(logPath).has_value());
            continue;
        }
        std::string log;  // written aside and renamed into place: complete once it is there
        ASSERT_TRUE(waitUntil([&] { return !(log = readFileBytes(logPath).value_or("")).empty(); }, kWaitMs));
        const size_t end = log.find('\n');
        EXPECT_TRUE(isSameFolder(utf8ToWide(log.substr(7, end - 7)), games[1])) << log;
        EXPECT_EQ(log.substr(end), "\narguments=0\n");
        EXPECT_TRUE(recorder.messages.empty());
    }
    if (comReady) CoUninitialize();
}

TEST_F(GameLaunch, RefusedLaunchSaysWhatIsMissingAndMarksTheBranch) {
    const WString gone = dir / L"gone", noLibrary = dir / L"no library", libraryFolder = dir / L"dll folder";
    ASSERT_TRUE(makeCompleteGameFolder(noLibrary) && makeCompleteGameFolder(libraryFolder));
    ASSERT_TRUE(makeFolders(libraryFolder + L"\\Mss23.dll"));
    const WString all =
        L"Tharnvl2.exe, binkw32.dll, gameinfo.dat, Imgs\\, ImgData\\, Music\\, Sounds\\, Video\\, "
        L"Scens\\, ScenData\\, Campaign\\, Briefing\\";
    const struct {
        Language language;
        WString folder;
        WString text;
        bool mss23Lost;
    } cases[] = {
        {Language::English, L"",
         L"The folder of this branch is not set.\n\nOpen the gear menu and choose the folder with the "
         L"installed game.",
         false},
        {Language::English, noLibrary,
         L"Mss23.dll is missing — the game cannot start without it.\n\nFolder: " + noLibrary +
             L"\n\nIt is the game's own sound library and updates do not carry it.\nReinstall the game (or "
             L"the base mod) into this folder.",
         true},
        {Language::Russian, libraryFolder,
         L"В папке нет Mss23.dll — без него игра не запустится.\n\nПапка: " + libraryFolder +
             L"\n\nЭто звуковая библиотека самой игры, обновления ее не содержат.\nПереустановите игру (или "
             L"базовый мод) в эту папку.",
         true},
        {Language::Russian, gone,
         L"В папке ветки не хватает файлов базовой игры:\n" + all + L"\n\nПапка: " + gone +
             L"\n\nОбновления содержат только файлы мода — ветка ставится ПОВЕРХ установленной Tharnveil II "
             L"(Emberhall v3.01).\nУкажите через меню шестеренки папку, где стоит сама игра, или "
             L"переустановите игру.",
         false},
        {Language::English, gone,
         L"The branch folder is missing base game files:\n" + all + L"\n\nFolder: " + gone +
             L"\n\nUpdates carry mod files only — the branch installs ON TOP of an existing Tharnveil II "
             L"(Emberhall v3.01).\nUse the gear menu to choose the folder with the installed game, or "
             L"reinstall the game.",
         false},
    };
    BranchCheckResults& results = worker.results[0];
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        LanguageScope language(c.language);
        FoldersScope folders({c.folder, L""});
        recorder = UiRecorder();
        results.status.exchange(BranchStatus::Ready);
        results.exeMissing.exchange(true);
        results.mss23Lost.exchange(false);
        results.missingItems = L"earlier";
        // Still waiting for the hand-off, or handed over long ago as when a play button is clickable:
        // the status line follows the change either way.
        worker.resultsReady.exchange((&c - cases) % 2 == 0);
        setStatusText(worker.engine, L"");

        EXPECT_FALSE(launchBranch(worker, 0));
        EXPECT_TRUE(recorder.started.empty());
        ASSERT_EQ(recorder.messages.size(), 1u);
        EXPECT_EQ(recorder.messages[0].kind, MessageKind::Warning);
        EXPECT_EQ(recorder.messages[0].caption, L"LURRA 1.44");
        EXPECT_EQ(recorder.messages[0].text, c.text);
        EXPECT_EQ(recorder.invalidations, 1);
        // Without a folder the branch keeps what its check found.
        const bool gameMissing = c.folder == gone;
        EXPECT_EQ(results.status.load(),
                  c.folder.empty() ? BranchStatus::Ready : BranchStatus::NotGameFolder);
        EXPECT_EQ(results.exeMissing.load(), gameMissing);
        EXPECT_EQ(results.mss23Lost.load(), c.mss23Lost);
        EXPECT_EQ(results.missingItems, c.folder.empty() ? L"earlier" : gameMissing ? all : L"");
        EXPECT_EQ(copyStatusText(worker.engine), buildStatusSummary(worker.results));
    }
}

TEST_F(GameLaunch, NothingStartsWhileACheckRuns) {
    startHeldCheck();
    EXPECT_FALSE(launchBranch(worker, 0));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].kind, MessageKind::Information);
    EXPECT_EQ(
        recorder.messages[0].text,
        L"An update check is running: the game files may be changing right now.\n\nWait for it to finish, "
        L"then press the play button again.");
    EXPECT_TRUE(recorder.started.empty());
}

}  // namespace
