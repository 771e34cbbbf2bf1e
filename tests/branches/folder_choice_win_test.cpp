#include "branches/folder_choice_win.h"

#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <gtest/gtest.h>

#include "base/handles_win.h"
#include "branches/branch_fixture_win.h"
#include "branches/game_folder_win.h"
#include "config/settings_win.h"
#include "support/dialog_driver_win.h"
#include "support/language_scope.h"
#include "support/test_env_win.h"
#include "ui/branch_ui_win.h"

namespace {

// The real folder browser and message boxes, owned by a window of the test thread and answered
// by the dialog driver from another thread.
class FolderChoice : public testing::Test {
protected:
    void SetUp() override {
        comReady = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        owner = CreateWindowExW(0, L"STATIC", L"Varnhold test owner", WS_OVERLAPPEDWINDOW, 10, 10, 400, 300,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(owner, nullptr);
        worker.ui = makeWindowBranchUi(owner);
        worker.ui.checkStarting = [this] { ++checkStarts; };
        worker.runBranch = [](int, UpdateEngine&) {};
        worker.launcherFolder = dir / L"launcher";
        ASSERT_TRUE(makeFolders(worker.launcherFolder));
        for (const wchar_t* game : {L"Game", L"Other", L"Tree", L"Hash#1"}) {
            ASSERT_TRUE(makeCompleteGameFolder(dir / game));
        }
        ASSERT_TRUE(makeFolders(dir / L"Tree\\.git"));
        ASSERT_TRUE(makeFolders(dir / L"Empty"));
    }

    void TearDown() override {
        EXPECT_TRUE(stopUpdateWorker(worker));
        if (owner) DestroyWindow(owner);
        if (comReady) CoUninitialize();
    }

    // Runs the choice while the driver answers; returns the dialogs it met.
    std::vector<DialogSnapshot> choose(int branch, std::vector<DialogStep> steps) {
        for (const WString& folder : appSettings().branchFolders) listFoldersAlong(folder);
        listFoldersAlong(worker.launcherFolder);
        DialogAnswerer answerer(std::move(steps));
        chooseBranchFolder(worker, branch);
        std::vector<DialogSnapshot> seen = answerer.finish();
        EXPECT_EQ(answerer.failure(), "");
        EXPECT_TRUE(waitUntil([&] { return !worker.workerRunning.load(); }));
        return seen;
    }

    [[nodiscard]] WString settingsFile() const { return worker.launcherFolder + L"\\launcher.ini"; }

    ScratchDir dir;
    bool comReady = false;
    HWND owner = nullptr;
    int checkStarts = 0;
    UpdateWorker worker;
};

struct Box {
    const wchar_t* caption;
    const wchar_t* text;
    const wchar_t* button;
};

constexpr wchar_t kOtherBranchText[] =
    L"This folder is already used by the other branch.\n\nThe branches carry different files — sharing one "
    L"folder "
    L"breaks both installs. Pick a separate folder.";
constexpr wchar_t kNoExeQuestion[] = L"The selected folder has no Tharnvl2.exe.\n\nUse this folder anyway?";

TEST_F(FolderChoice, ChoicesThroughTheRealBrowser) {
    const struct {
        const char* name;
        Language language;
        int branch;
        std::array<const wchar_t*, kBranchCount> before;  // below the scratch folder; nullptr: not set
        const wchar_t* pick;                              // nullptr: OK at the start folder; "": Cancel
        std::vector<Box> boxes;
        const wchar_t* after;
        bool saved;  // and a new check started
    } cases[] = {
        {"its own folder again", Language::English, 0, {L"Game", L"Other"}, nullptr, {}, L"Game", true},
        {"the other branch's folder, where the browser opens",
         Language::English,
         0,
         {nullptr, L"Other"},
         nullptr,
         {{L"Check the folder", kOtherBranchText, L"OK"}},
         nullptr,
         false},
        {"a working tree",
         Language::Russian,
         1,
         {L"Game", nullptr},
         L"Tree",
         {{L"Рабочая папка защищена",
           L"Это рабочая папка git/hg/svn. Обновление заменяет файлы манифеста и может уничтожить "
           L"незакоммиченные правки.\n\nВыберите отдельную копию игры без репозитория.",
           L"OK"}},
         nullptr,
         false},
        {"no game executable, answered No",
         Language::English,
         1,
         {L"Game", nullptr},
         L"Empty",
         {{L"Check the folder", kNoExeQuestion, L"No"}},
         nullptr,
         false},
        {"no game executable, answered Yes",
         Language::Russian,
         1,
         {L"Game", nullptr},
         L"Empty",
         {{L"Проверьте папку", L"В выбранной папке нет Tharnvl2.exe.\n\nВсе равно использовать эту папку?",
           L"Yes"}},
         L"Empty",
         true},
        {"nothing set: the browser opens at the launcher folder",
         Language::English,
         0,
         {nullptr, nullptr},
         nullptr,
         {{L"Check the folder", kNoExeQuestion, L"No"}},
         nullptr,
         false},
        {"a '#' that launcher.ini would cut off",
         Language::English,
         0,
         {nullptr, nullptr},
         L"Hash#1",
         {{L"Check the folder",
           L"The path of this folder cannot be kept in launcher.ini unchanged: it contains '#' or ';', "
           L"blanks at "
           L"its start or end, or characters the file cannot hold. After the next start the branch would "
           L"point at "
           L"another folder.\n\nRename the folder or choose another one.",
           L"OK"}},
         nullptr,
         false},
        {"cancelled", Language::English, 0, {L"Game", nullptr}, L"", {}, L"Game", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LanguageScope language(c.language);
        std::array<WString, kBranchCount> before;
        for (size_t i = 0; i < before.size(); ++i) before[i] = c.before[i] ? dir / c.before[i] : L"";
        FoldersScope folders(before);
        DeleteFileW(settingsFile().c_str());
        checkStarts = 0;

        std::vector<DialogStep> steps{{kFolderBrowserCaption, c.pick && !*c.pick ? L"Cancel" : L"",
                                       c.pick && *c.pick ? dir / c.pick : L""}};
        if (!c.pick) steps[0].button = L"OK";
        for (const Box& box : c.boxes) steps.push_back({box.caption, box.button, L""});
        const std::vector<DialogSnapshot> seen = choose(c.branch, steps);

        ASSERT_EQ(seen.size(), steps.size());
        const WString title =
            WString(c.language == Language::English ? L"Choose the game folder (it contains Tharnvl2.exe): "
                                                    : L"Укажите папку игры (в ней лежит Tharnvl2.exe): ") +
            kBranches[c.branch].displayName;
        EXPECT_NE(std::find(seen[0].texts.begin(), seen[0].texts.end(), title), seen[0].texts.end())
            << describeDialog(seen[0]);
        for (size_t i = 0; i < c.boxes.size(); ++i) {
            EXPECT_EQ(seen[i + 1].owner, owner);
            EXPECT_EQ(seen[i + 1].texts, std::vector<WString>{c.boxes[i].text})
                << describeDialog(seen[i + 1]);
        }
        const WString expected = c.after ? dir / c.after : L"";
        EXPECT_EQ(appSettings().branchFolders[static_cast<size_t>(c.branch)], expected);
        EXPECT_EQ(checkStarts, c.saved ? 1 : 0);
        EXPECT_EQ(fileExists(settingsFile()), c.saved);
        if (c.saved) {
            Settings saved;
            loadSettingsFrom(saved, worker.launcherFolder);
            EXPECT_EQ(saved.branchFolders[static_cast<size_t>(c.branch)], expected);
        }
    }
}

TEST_F(FolderChoice, ReadOnlyLauncherFolderKeepsTheOldFolder) {
    LanguageScope english(Language::English);
    FoldersScope folders({dir / L"Game", L""});
    ASSERT_TRUE(saveSettingsTo(appSettings(), worker.launcherFolder));
    const std::optional<std::string> before = readFileBytes(settingsFile());
    ImmutableFolder readOnly(worker.launcherFolder);
    if (!readOnly.active()) GTEST_SKIP() << "chattr +i is not available here (file system or user)";

    const std::vector<DialogSnapshot> seen =
        choose(0, {{kFolderBrowserCaption, L"", dir / L"Other"}, {L"Settings not saved", L"OK", L""}});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].texts,
              std::vector<WString>{
                  L"Could not save launcher.ini next to the launcher. The folder was not changed."});
    EXPECT_EQ(appSettings().branchFolders[0], dir / L"Game");
    EXPECT_EQ(readFileBytes(settingsFile()), before);
    EXPECT_EQ(checkStarts, 0);
}

TEST_F(FolderChoice, RefusedWhileACheckRuns) {
    LanguageScope english(Language::English);
    FoldersScope folders({dir / L"Game", L""});
    ASSERT_TRUE(writeFileBytes(dir / L"Game\\Mss23.dll", "library"));
    std::atomic<bool> release{false};
    worker.runBranch = [&](int, UpdateEngine&) { (void)waitUntil([&] { return release.load(); }); };
    startUpdateCheck(worker, false);
    ASSERT_TRUE(waitUntil([&] { return worker.activeBranch.load() == 0; }));
    checkStarts = 0;

    DialogAnswerer answerer({{L"Update check in progress", L"OK", L""}});
    chooseBranchFolder(worker, 0);
    release.store(true);
    const std::vector<DialogSnapshot> seen = answerer.finish();
    EXPECT_EQ(answerer.failure(), "");  // the browser never opened
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(
        seen[0].texts,
        std::vector<WString>{L"Wait for the current update check to finish, then choose the folder again."});
    EXPECT_EQ(checkStarts, 0);
}

// The driver program reads and answers a box of this process from outside, Cyrillic intact.
TEST_F(FolderChoice, DriverProgramAnswersFromAnotherProcess) {
    LanguageScope russian(Language::Russian);
    FoldersScope folders({L"", L""});
    worker.ui.pickFolder = [&](const WString&, const WString&) { return dir / L"Tree"; };
    const WString output = dir / L"driver.txt";
    std::wstring commandLine =
        L"dialog_driver.exe click \"Рабочая папка защищена\" OK 10000 --out \"" + output + L"\"";
    const WString program =
        winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/dialog_driver.exe");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle threadHandle(process.hThread);

    // Closes the box should the program fail to, so that the test cannot hang in it.
    DialogAnswerer watchdog({}, 10000, 15000);
    chooseBranchFolder(worker, 1);
    EXPECT_TRUE(watchdog.finish().empty());
    ASSERT_EQ(WaitForSingleObject(processHandle.get(), 10000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    GetExitCodeProcess(processHandle.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    const std::string listing = readFileBytes(output).value_or("");
    EXPECT_NE(listing.find("dialog \"Рабочая папка защищена\"\n  text: Это рабочая папка git/hg/svn."),
              std::string::npos)
        << listing;
    EXPECT_NE(listing.find("  button: OK\n"), std::string::npos) << listing;
}

}  // namespace
