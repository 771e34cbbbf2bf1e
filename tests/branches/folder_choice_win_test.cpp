#include "branches/folder_choice_win.h"

#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <cstdio>

#include "branches/branch_fixture_win.h"
#include "config/settings_win.h"
#include "support/child_process_win.h"
#include "support/dialog_driver_win.h"
#include "ui/branch_ui_win.h"

namespace {

// The real folder browser and message boxes, owned by a window of the test thread and answered by
// the dialog driver from another thread.
class FolderChoice : public BranchTest {
protected:
    void SetUp() override {
        BranchTest::SetUp();
        comReady = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        // Never shown: destroying a shown window costs 2 s under Wine without a window manager.
        owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(owner, nullptr);
        worker.ui = makeWindowBranchUi(owner, false);
        worker.ui.checkStarting = [this] { ++checkStarts; };
        worker.runBranch = [](int, UpdateEngine&) {};
        worker.launcherFolder = run / L"launcher";
        ASSERT_TRUE(makeFolders(worker.launcherFolder) && makeFolders(run / L"Empty"));
        for (const wchar_t* game : {L"Game", L"Other", L"Tree", L"Hash#1"}) {
            ASSERT_TRUE(makeCompleteGameFolder(run / game));
        }
        ASSERT_TRUE(makeFolders(run / L"Tree\\.git"));
    }

    void TearDown() override {
        release.store(true);
        EXPECT_TRUE(stopUpdateWorker(worker));
        if (owner) DestroyWindow(owner);
        if (comReady) CoUninitialize();
    }

    // Runs the choice while the driver answers; returns the dialogs it met. Under load Wine's
    // browser now and then opens on a folder beside the way to its start folder (a sibling of one of
    // its parents), or its tree stops following the selection on the way to the folder to pick; the
    // driver then cancels it, which ends the choice without a trace, and the whole choice is made
    // again, at most twice: the last browser must open and pick where it should.
    std::vector<DialogSnapshot> choose(int branch, const std::vector<DialogStep>& steps) {
        for (int attempt = 1;; ++attempt) {
            for (const WString& folder : appSettings().branchFolders) listFoldersAlong(folder);
            listFoldersAlong(worker.launcherFolder);
            DialogAnswerer answerer(steps);
            chooseBranchFolder(worker, branch);
            std::vector<DialogSnapshot> seen = answerer.finish();
            if (attempt < 3 && answerer.failure().rfind("the browser did not ", 0) == 0) {
                std::printf("note: %s; choosing again\n", answerer.failure().c_str());
                Sleep(1000);  // the load that led Wine's browser astray may pass
                continue;
            }
            EXPECT_EQ(answerer.failure(), "");
            return seen;
        }
    }

    [[nodiscard]] WString settingsFile() const { return worker.launcherFolder + L"\\launcher.ini"; }

    // A folder name of its own per run: Wine's shell keeps folder listings for as long as the
    // wineserver lives, and a browser sent to a folder that was deleted and made again under the
    // same name by an earlier run stops short of it.
    struct RunFolder {
        WString base;
        [[nodiscard]] WString operator/(const WString& relative) const { return base + L"\\" + relative; }
    };
    RunFolder run{
        dir / (L"run" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount64()))};
    bool comReady = false;
    HWND owner = nullptr;
    int checkStarts = 0;
};

constexpr wchar_t kCheck[] = L"Check the folder";
constexpr wchar_t kNoExe[] = L"The selected folder has no Tharnvl2.exe.\n\nUse this folder anyway?";
constexpr wchar_t kOther[] =
    L"This folder is already used by the other branch.\n\nThe branches carry different files — sharing one "
    L"folder breaks both installs. Pick a separate folder.";
constexpr wchar_t kTreeRu[] =
    L"Это рабочая папка git/hg/svn. Обновление заменяет файлы манифеста и может уничтожить незакоммиченные "
    L"правки.\n\nВыберите отдельную копию игры без репозитория.";
constexpr wchar_t kNoExeRu[] = L"В выбранной папке нет Tharnvl2.exe.\n\nВсе равно использовать эту папку?";
constexpr wchar_t kUnstorable[] =
    L"The path of this folder cannot be kept in launcher.ini unchanged: it contains '#' or ';', blanks at "
    L"its start or end, or characters the file cannot hold. After the next start the branch would point "
    L"at another folder.\n\nRename the folder or choose another one.";

TEST_F(FolderChoice, ChoicesThroughTheRealBrowser) {
    constexpr Language en = Language::English;
    constexpr Language ru = Language::Russian;
    const struct {
        const char* name;
        Language language;
        int branch;
        const wchar_t* before[kBranchCount];  // below the run folder; nullptr: not set
        const wchar_t* pick;                  // nullptr: OK where it opens; "": Cancel
        const wchar_t* box[3];                // caption, text, button of the box that follows, if any
        const wchar_t* saved;                 // the folder saved, and a new check; nullptr: nothing changes
    } cases[] = {
        {"its own folder again", en, 0, {L"Game", L"Other"}, nullptr, {}, L"Game"},
        {"the other's, opened at", en, 0, {nullptr, L"Other"}, nullptr, {kCheck, kOther, L"OK"}, nullptr},
        {"a working tree", ru, 1, {L"Game"}, L"Tree", {L"Рабочая папка защищена", kTreeRu, L"OK"}, nullptr},
        {"no game executable, No", en, 1, {L"Game"}, L"Empty", {kCheck, kNoExe, L"No"}, nullptr},
        {"no exe, Yes", ru, 1, {L"Game"}, L"Empty", {L"Проверьте папку", kNoExeRu, L"Yes"}, L"Empty"},
        {"none set: the launcher's", en, 0, {}, nullptr, {kCheck, kNoExe, L"No"}, nullptr},
        {"a '#' launcher.ini would cut", en, 0, {}, L"Hash#1", {kCheck, kUnstorable, L"OK"}, nullptr},
        {"cancelled", en, 0, {L"Game"}, L"", {}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LanguageScope language(c.language);
        std::array<WString, kBranchCount> before;
        for (size_t i = 0; i < before.size(); ++i) before[i] = c.before[i] ? run / c.before[i] : L"";
        FoldersScope folders(before);
        DeleteFileW(settingsFile().c_str());
        checkStarts = 0;

        std::vector<DialogStep> steps{{kFolderBrowserCaption, L"OK", L""}};
        if (c.pick && *c.pick) steps[0].folder = run / c.pick;
        if (!c.pick) {  // where the browser opens: the branch's folder, another branch's, or the launcher's
            const wchar_t* start = c.before[c.branch] ? c.before[c.branch] : c.before[1 - c.branch];
            steps[0].openAt = start ? start : L"launcher";
        }
        if (c.pick && !*c.pick) steps[0].button = L"Cancel";
        if (c.box[0]) steps.push_back({c.box[0], c.box[2], L""});
        const std::vector<DialogSnapshot> seen = choose(c.branch, steps);
        ASSERT_TRUE(waitUntil([&] { return !worker.workerRunning.load(); }, kWaitMs));

        ASSERT_EQ(seen.size(), steps.size());
        const WString title =
            WString(c.language == en ? L"Choose the game folder (it contains Tharnvl2.exe): "
                                     : L"Укажите папку игры (в ней лежит Tharnvl2.exe): ") +
            kBranches[c.branch].displayName;
        EXPECT_NE(std::find(seen[0].texts.begin(), seen[0].texts.end(), title), seen[0].texts.end());
        if (c.box[0]) {
            EXPECT_EQ(seen[1].owner, owner);
            EXPECT_EQ(seen[1].texts, std::vector<WString>{c.box[1]}) << describeDialog(seen[1]);
        }
        const WString after = c.saved ? run / c.saved : before[static_cast<size_t>(c.branch)];
        EXPECT_EQ(appSettings().branchFolders[static_cast<size_t>(c.branch)], after);
        EXPECT_EQ(checkStarts, c.saved ? 1 : 0);
        Settings saved;
        loadSettingsFrom(saved, worker.launcherFolder);
        EXPECT_EQ(saved.branchFolders[static_cast<size_t>(c.branch)], c.saved ? after : L"");
    }
}

// What the browser hands over, for folders Wine's browser cannot offer: its shell parses no path
// beyond MAX_PATH (SHParseDisplayName fails), so reading such a path whole is left to Windows.
TEST_F(FolderChoice, AHandedOverPathIsSavedWholeOrRefusedWhenItCannotBeOpened) {
    const WString deep = run / (WString(150, L'd') + L"\\" + WString(150, L'e'));
    ASSERT_TRUE(makeFolders(deep));
    const std::pair<WString, bool> cases[] = {{deep, true}, {L"", false}, {run / L"Gone", false}};
    for (const auto& [given, saved] : cases) {
        SCOPED_TRACE(testing::Message() << given.size() << " units");
        const WString handedOver = given;
        FoldersScope folders({L"", L""});
        recorder = UiRecorder();
        recorder.answerYes = true;  // no Tharnvl2.exe: use it anyway
        worker.ui = recorder.ui();
        worker.ui.pickFolder = [&](const WString&, const WString&) { return handedOver; };
        chooseBranchFolder(worker, 0);
        ASSERT_TRUE(waitUntil([&] { return !worker.workerRunning.load(); }, kWaitMs));
        EXPECT_EQ(appSettings().branchFolders[0], saved ? deep : L"");
        ASSERT_FALSE(recorder.messages.empty());
        EXPECT_EQ(
            recorder.messages.back().text.rfind(saved ? L"The selected" : L"The launcher cannot open", 0),
            0u);
    }
}

TEST_F(FolderChoice, ReadOnlyLauncherFolderKeepsTheOldFolder) {
    FoldersScope folders({run / L"Game", L""});
    ASSERT_TRUE(saveSettingsTo(appSettings(), worker.launcherFolder));
    const std::optional<std::string> before = readFileBytes(settingsFile());
    ImmutableFolder readOnly(worker.launcherFolder);
    if (!readOnly.active()) GTEST_SKIP() << readOnly.whyNot();

    const std::vector<DialogSnapshot> seen =
        choose(0, {{kFolderBrowserCaption, L"", run / L"Other"}, {L"Settings not saved", L"OK", L""}});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].texts, std::vector<WString>{L"Could not save launcher.ini next to the launcher. The "
                                                  L"folder was not changed."});
    EXPECT_EQ(appSettings().branchFolders[0], run / L"Game");
    EXPECT_EQ(readFileBytes(settingsFile()), before);
    EXPECT_EQ(checkStarts, 0);
}

TEST_F(FolderChoice, RefusedWhileACheckRunsWithoutOpeningTheBrowser) {
    startHeldCheck();
    checkStarts = 0;
    const std::vector<DialogSnapshot> seen = choose(0, {{L"Update check in progress", L"OK", L""}});
    ASSERT_EQ(seen.size(), 1u);  // an unexpected browser would have been recorded too
    EXPECT_EQ(seen[0].texts, std::vector<WString>{L"Wait for the current update check to finish, then "
                                                  L"choose the folder again."});
    EXPECT_EQ(checkStarts, 0);
}

// The driver program reads and answers a box of this process from outside, Cyrillic intact.
TEST_F(FolderChoice, DriverProgramAnswersFromAnotherProcess) {
    LanguageScope russian(Language::Russian);
    worker.ui.pickFolder = [&](const WString&, const WString&) { return run / L"Tree"; };
    const WString output = dir / L"driver.txt";
    const WString program =
        winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/dialog_driver.exe");
    const ChildProcess driver = startChild(
        program, L"dialog_driver click \"Рабочая папка защищена\" OK 10000 --out \"" + output + L"\"");
    ASSERT_TRUE(driver);

    DialogAnswerer watchdog({}, 10000, 15000);  // closes the box should the program fail to
    chooseBranchFolder(worker, 1);
    EXPECT_TRUE(watchdog.finish().empty());
    EXPECT_EQ(waitForChild(driver, 10000), std::optional<DWORD>(0));
    const std::string listing = readFileBytes(output).value_or("");
    EXPECT_NE(listing.find("dialog \"Рабочая папка защищена\"\n  text: Это рабочая папка git/hg/svn. "
                           "Обновление"),
              std::string::npos)
        << listing;
    EXPECT_NE(listing.find("\n  button: OK\n"), std::string::npos) << listing;
}

}  // namespace
