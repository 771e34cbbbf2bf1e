#pragma once

#include <windows.h>

#include <gtest/gtest.h>
#include <string>

#include "config/settings.h"
#include "support/launcher_window_win.h"
#include "support/test_env_win.h"
#include "ui/layout.h"

// A launcher copy of this build in a scratch folder, started with a launcher.ini of the test's
// choosing, and its window with the layout it uses.
class RunningLauncher : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(noLauncherWindowLeft()) << "a launcher window from elsewhere is still open";
        ASSERT_TRUE(launcher.copied());
    }
    void TearDown() override { launcher.close(); }

    [[nodiscard]] static std::string settingsText(const WString& lurra, const WString& ktvx,
                                                  Language language) {
        Settings settings;
        settings.branchFolders = {lurra, ktvx};
        settings.language = language;
        return buildSettingsText(settings);
    }

    // Writes launcher.ini, starts the launcher and waits for its window and first frame.
    void startWith(const std::string& settings, const WString& tail = L"") {
        ASSERT_TRUE(writeFileBytes(launcher.folder() + L"\\launcher.ini", settings));
        ASSERT_TRUE(launcher.start(tail));
        window = launcher.waitForWindow();
        ASSERT_NE(window, nullptr);
        layout = launcherLayout(window, launcher.exePath());
        // The first tick and paint; Wine shows the frame a moment after the window appears.
        Sleep(700);
    }

    // Folders that exist but hold no game: no first-run question and nothing to update.
    void startIdle(Language language = Language::English) {
        startWith(settingsText(scratch.path(), L"", language));
    }

    [[nodiscard]] Screenshot shot(const std::string& name) {
        Screenshot screenshot;
        EXPECT_TRUE(screenshot.take(name));
        return screenshot;
    }

    [[nodiscard]] Rgb pixel(const Screenshot& screenshot, int x, int y) const {
        return screenshot.atClient(clientOrigin(window), x, y);
    }

    static std::pair<int, int> centre(const IntRect& r) {
        return {r.left + r.width / 2, r.top + r.height / 2};
    }
    bool click(const IntRect& r) { return mouse::click(window, centre(r).first, centre(r).second); }

    ScratchDir scratch;
    LauncherProcess launcher{scratch / L"launcher"};
    HWND window = nullptr;
    ScreenLayout layout;
};
