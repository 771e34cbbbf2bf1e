// The application object in this test process, for what a separate launcher process cannot show:
// the answer that restarts elevated (Wine reports every process as elevated) and a failure inside
// the window procedure. The window and its input are real; only the shell calls are replaced.
#include <windows.h>

#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

#include "base/paths_win.h"
#include "support/exe_pictures_win.h"
#include "support/language_scope.h"
#include "support/launcher_process_win.h"
#include "support/screen_win.h"
#include "support/test_env_win.h"
#include "ui/frame_loop_win.h"
#include "ui/launcher_app_win.h"
#include "ui/shell_win.h"
#include "ui/tick_win.h"

namespace {

// The elevated restart as the shell would make it: refused the first time, accepted after that.
struct ElevatedStart {
    int calls = 0;
    WString executable;
    WString parameters;
};
ElevatedStart elevatedStart;

bool recordElevatedStart(const WString& executable, const WString& parameters) {
    elevatedStart.executable = executable;
    elevatedStart.parameters = parameters;
    return ++elevatedStart.calls > 1;
}

bool failToOpenPage(const WString&, const wchar_t*) { throw std::runtime_error("the shell went away"); }

class AppInProcess : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(noLauncherWindowLeft());
        startGdiplusOnce();
        elevatedStart = ElevatedStart{};
        // Never deleted, as in the launcher; the window goes at the end of the test.
        app = new LauncherApp(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE);
        layout = app->layout;
        // A test that hangs would otherwise hold the loop: the window closes after a while.
        SetTimer(app->window, 1, 30000,
                 [](HWND window, UINT, UINT_PTR, DWORD) CALLBACK { DestroyWindow(window); });
    }

    void TearDown() override {
        setShellHooksForTests({});
        if (app && IsWindow(app->window)) DestroyWindow(app->window);
    }

    // A real click at client coordinates, given by the X server `seconds` after the loop started.
    void clickAfter(int seconds, int x, int y) {
        const POINT origin = clientOrigin(app->window);
        ASSERT_EQ(runUnixShell("(sleep " + std::to_string(seconds) + "; xdotool mousemove " +
                               std::to_string(origin.x + x) + " " + std::to_string(origin.y + y) +
                               " sleep 0.1 click 1) >/dev/null 2>&1 &"),
                  0);
    }
    void clickAfter(int seconds, const IntRect& r) {
        clickAfter(seconds, r.left + r.width / 2, r.top + r.height / 2);
    }

    LauncherApp* app = nullptr;
    ScreenLayout layout;
};

TEST_F(AppInProcess, TheAdministratorAnswerRestartsElevatedAndEndsThisInstanceOnceAllowed) {
    app->elevated = false;
    setButtonEnabled(app->buttons.tryAgainAdmin, true);
    setShellHooksForTests({nullptr, recordElevatedStart});
    UpdateEngine& engine = app->worker->engine;
    engine.dialogText =
        L"Could not check the following files:\n\nImgs/a.dds (error: could not open for checking)\n\n";
    engine.dialogPending.exchange(true);

    // Refused: the question stays open for another answer, the same one here, which is allowed.
    clickAfter(1, layout.tryAgainAdmin);
    clickAfter(3, layout.tryAgainAdmin);
    (void)runFrameLoop(*app);

    EXPECT_EQ(elevatedStart.calls, 2);
    EXPECT_EQ(elevatedStart.executable, modulePath());
    EXPECT_EQ(elevatedStart.parameters, L"-ignoreinstances");
    EXPECT_FALSE(app->running);
    // The question stays: the run is not answered by a restart.
    EXPECT_TRUE(app->input.questionOpen);
    EXPECT_TRUE(engine.dialogPending.load());
    EXPECT_FALSE(engine.dialogAnswer.load());
}

TEST_F(AppInProcess, AFailureInTheWindowProcedureReachesTheLoopNotDispatch) {
    setShellHooksForTests({failToOpenPage, nullptr});
    const FloatRect& footer = layout.rating.footer;
    clickAfter(1, enclosing(footer));
    try {
        (void)runFrameLoop(*app);
        ADD_FAILURE() << "the loop ended without the failure";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "the shell went away");
    }
    EXPECT_FALSE(app->running);
    EXPECT_EQ(app->pendingError, nullptr);  // handed over once
}

// What the tick leaves behind, on a fresh application object per case with the engine's texts set
// as a run sets them; ticks run directly, and what is left to repaint is read from the window's
// update region (no message is dispatched meanwhile).
TEST_F(AppInProcess, TheTickFollowsTheEngineAndRepaintsWhatChanged) {
    const auto repaints = [](LauncherApp& a, const IntRect& area) {
        HRGN region = CreateRectRgn(0, 0, 0, 0);
        const RECT r{area.left, area.top, area.right(), area.bottom()};
        const bool hit = GetUpdateRgn(a.window, region, FALSE) != ERROR && RectInRegion(region, &r);
        DeleteObject(region);
        return hit;
    };
    const auto settle = [](LauncherApp& a) {
        tick(a);
        ValidateRect(a.window, nullptr);
    };
    const std::pair<const char*, std::function<void(LauncherApp&, UpdateEngine&)>> cases[] = {
        {"news without a card in this language are parsed once, again in the other",
         [&](LauncherApp& a, UpdateEngine& e) {
             e.newsText = L"[news]\ntitle_en=T\ntext_en=x\ndate=d\nurl_en=https://a/\n";
             settle(a);
             tick(a);
             EXPECT_TRUE(a.news.empty() && !repaints(a, {0, 0, a.layout.width, a.layout.height}));
             LanguageScope english(Language::English);
             tick(a);
             EXPECT_EQ(a.news.size(), 1u);
         }},
        {"cards follow the language; only filled cards take the mouse",
         [&](LauncherApp& a, UpdateEngine& e) {
             e.newsText = L"[news]\ntitle_ru=R\ntitle_en=E\ntext_ru=x\ndate=d\nurl_ru=https://a/\n";
             tick(a);
             EXPECT_TRUE(!a.buttons.news[0].disabled && a.buttons.news[1].disabled &&
                         a.buttons.news[2].disabled);
             LanguageScope english(Language::English);
             tick(a);
             EXPECT_EQ(a.news.at(0).title, L"E");
         }},
        {"the first branch's run keeps its name",
         [&](LauncherApp& a, UpdateEngine& e) {
             e.statusText = L"x";
             a.worker->activeBranch.exchange(0);
             tick(a);
             a.worker->activeBranch.exchange(-1);
             EXPECT_EQ(a.shownStatus, L"LURRA 1.44 — x");
         }},
        {"the launcher's own download shows one bar",
         [&](LauncherApp& a, UpdateEngine& e) {
             e.statusText.clear();
             e.state.exchange(kStateUpdatingLauncher);
             tick(a);
             EXPECT_TRUE(a.fileBar.visible && !a.totalBar.visible && a.singleBarMode);
         }},
        {"the release version repaints the title when it arrives",
         [&](LauncherApp& a, UpdateEngine& e) {
             settle(a);
             e.displayVersion = "1.44";
             tick(a);
             EXPECT_TRUE(repaints(a, a.layout.titleArea));
         }},
        {"a question's text changed while it is open is shown",
         [&](LauncherApp& a, UpdateEngine& e) {
             e.dialogText = L"first";
             e.dialogPending.exchange(true);
             settle(a);
             e.dialogText = L"second";
             tick(a);
             EXPECT_TRUE(a.questionText == L"second" && repaints(a, a.layout.questionBox));
         }},
        {"clicks made just before the question opened do not act after the answer",
         [&](LauncherApp& a, UpdateEngine& e) {
             a.buttons.close.clicked = a.buttons.gear.clicked = true;
             e.dialogPending.exchange(true);
             tick(a);
             a.buttons.continueAnyway.clicked = true;
             tick(a);
             tick(a);
             EXPECT_TRUE(a.running && !a.input.questionOpen && !a.input.gearPanelOpen);
         }},
    };
    for (const auto& [name, run] : cases) {
        SCOPED_TRACE(name);
        LanguageScope russian(Language::Russian);
        if (app) DestroyWindow(app->window);
        app = new LauncherApp(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE);
        run(*app, app->worker->engine);
    }
}

}  // namespace
