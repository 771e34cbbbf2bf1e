#include "ui/tick_win.h"

#include <string>

#include "base/constants.h"
#include "base/paths_win.h"
#include "branches/folder_choice_win.h"
#include "branches/game_launch_win.h"
#include "config/settings_win.h"
#include "config/text_convert.h"
#include "ui/paint_win.h"
#include "ui/shell_win.h"
#include "ui/ui_texts.h"
#include "ui/worker_link_win.h"

namespace {

void invalidateWindow(LauncherApp& app) { InvalidateRect(app.window, nullptr, FALSE); }

void closeGearPanel(LauncherApp& app) {
    if (!app.input.gearPanelOpen) return;
    app.input.gearPanelOpen = false;
    invalidate(app.window, app.layout.gearArea);
}

// The mouse has left the client area: no button keeps a hover or press it cannot lose otherwise.
void resetWhenMouseOutside(LauncherApp& app) {
    // Nothing to reset while no button is hovered or pressed: the common idle tick asks the system
    // nothing.
    bool anyActive = false;
    for (ImageButton* button : buttonsTakingInput(app.buttons, app.input)) {
        anyActive = anyActive || button->hovered || button->pressed;
    }
    if (!anyActive) return;
    POINT cursor{};
    if (!GetCursorPos(&cursor) || !ScreenToClient(app.window, &cursor)) return;
    RECT client{};
    GetClientRect(app.window, &client);
    if (PtInRect(&client, cursor)) return;
    for (const IntRect& rect : resetButtonsTakingInput(app.buttons, app.input).rects)
        invalidate(app.window, rect);
}

// The cards show the first entries of the news text in the interface language.
void rebuildNews(LauncherApp& app) {
    app.newsSource = app.snapshot.newsText;
    app.newsLanguage = currentLanguage();
    app.news = parseNewsEntries(app.newsSource, app.newsLanguage);
    for (size_t i = 0; i < app.buttons.news.size(); ++i) {
        ImageButton& card = app.buttons.news[i];
        setButtonEnabled(card, i < app.news.size());
    }
    invalidate(app.window, app.layout.contentArea);
}

void openNewsClicks(LauncherApp& app) {
    for (size_t i = 0; i < app.buttons.news.size(); ++i) {
        if (!takeClick(app.buttons.news[i]) || i >= app.news.size()) continue;
        // Only a web address goes to the shell: a signed file still must not start programs.
        if (isOpenableWebLink(app.news[i].link)) (void)openWebPage(app.news[i].link, nullptr, app.elevated);
    }
}

void switchLanguage(LauncherApp& app) {
    Settings& settings = appSettings();
    settings.language.exchange(otherLanguage(settings.language.load()));
    if (!saveSettings()) {
        MessageBoxW(app.window, localized(ui_texts::kSettingsNotSavedText),
                    localized(ui_texts::kSettingsNotSavedCaption), MB_OK | MB_ICONWARNING);
    }
    onLanguageSwitched(app);
    if (!app.snapshot.newsText.empty()) rebuildNews(app);
    invalidateWindow(app);
}

void openClientLinks(LauncherApp& app) {
    for (size_t i = 0; i < app.buttons.mainLinks.size(); ++i) {
        const bool fromMain = takeClick(app.buttons.mainLinks[i]);
        const bool fromGear = takeClick(app.buttons.gearLinks[i]);
        if (!fromMain && !fromGear) continue;
        (void)openWebPage(utf8ToWide(kClientPageUrls[i]), L"open", app.elevated);
        if (fromGear) closeGearPanel(app);
    }
}

void showStatusLine(LauncherApp& app, const WString& text) {
    if (text == app.shownStatus) return;
    app.fileBar.visible = false;
    app.totalBar.visible = false;
    app.shownStatus = text;
    invalidate(app.window, progressRegion(app.layout));
}

void setBarVisible(LauncherApp& app, ProgressBar& bar, bool visible) {
    if (bar.visible == visible) return;
    bar.visible = visible;
    invalidate(app.window, progressRegion(app.layout));
}

void updateTransfer(LauncherApp& app) {
    UpdateEngine& engine = app.worker->engine;
    if (!app.shownStatus.empty()) {
        invalidate(app.window, progressRegion(app.layout));
        app.shownStatus.clear();
    }
    const int32_t state = engine.state.load();
    setBarVisible(app, app.fileBar, true);
    const bool single = state == kStateUpdatingLauncher;
    setBarVisible(app, app.totalBar, !single);
    if (single != app.singleBarMode) {
        app.singleBarMode = single;
        app.fileBar.bar = single ? app.totalBar.ownBar : app.fileBar.ownBar;
        app.fileBar.label = single ? app.totalBar.ownLabel : app.fileBar.ownLabel;
        invalidate(app.window, progressRegion(app.layout));
    }
    const WString caption = single ? app.snapshot.launcherUpdateText : WString();
    if (caption != app.progressCaption) {
        app.progressCaption = caption;
        invalidate(app.window, app.fileBar.ownLabel);
    }

    const int32_t currentDone = engine.currentDone.load();
    const int32_t currentTotal = engine.currentTotal.load();
    const Language language = currentLanguage();
    bool fileChanged = currentDone != app.fileBar.value || currentTotal != app.fileBar.maximum;
    if (fileChanged) sampleTransferRate(app.progress, static_cast<int64_t>(GetTickCount64()), currentDone);
    if (auto label =
            fileProgressLabel(state, app.snapshot.currentFile, app.progress.rateMbPerSecond, language)) {
        if (*label != app.fileBar.labelText) {
            app.fileBar.labelText = std::move(*label);
            fileChanged = true;
        }
    }
    if (fileChanged) {
        app.fileBar.value = currentDone;
        app.fileBar.maximum = currentTotal;
        invalidate(app.window, progressBarDirtyRect(app.fileBar));
    }

    const TransferCounters counters{engine.filesDone.load(), engine.filesTotal.load(),
                                    engine.bytesDone.load(), engine.bytesTotal.load()};
    if (!takeTotalCounters(app.progress, counters)) return;
    app.totalBar.labelText = totalProgressLabel(counters, app.progress.rateHistory, language);
    app.totalBar.value = totalBarValue(counters);
    app.totalBar.maximum = kTotalBarMaximum;
    invalidate(app.window, progressBarDirtyRect(app.totalBar));
}

void updateStatusAndProgress(LauncherApp& app) {
    if (app.snapshot.statusText.empty()) {
        updateTransfer(app);
        return;
    }
    WString text = app.snapshot.statusText;
    const int32_t branch = app.worker->activeBranch.load();
    if (branch >= 0 && branch < kBranchCount) text = WString(kBranches[branch].displayName) + L" — " + text;
    showStatusLine(app, text);
}

// The run waits for an answer: only the question's three answers act.
void answerQuestion(LauncherApp& app) {
    UpdateEngine& engine = app.worker->engine;
    ScreenButtons& b = app.buttons;
    if (takeClick(b.continueAnyway)) {
        engine.dialogAnswer.exchange(true);
        engine.dialogPending.exchange(false);
        app.input.questionOpen = false;
        invalidateWindow(app);
    } else if (takeClick(b.tryAgain)) {
        app.input.questionOpen = false;
        invalidateWindow(app);
        requestRerun(*app.worker);
    } else if (takeClick(b.tryAgainAdmin) && !app.elevated) {
        // The elevated copy waits for this instance's mutex; this one ends at the next loop turn.
        // When the user refuses, the question stays open for another answer.
        if (runElevated(modulePath(), L"-ignoreinstances")) app.running = false;
    }
}

// A question's text is written before its flag is set, so it is read after the flag has been seen;
// should it still change while the question is open, the box shows the new text.
void showQuestionText(LauncherApp& app, const WString& text) {
    if (text == app.questionText) return;
    app.questionText = text;
    invalidate(app.window, app.layout.questionBox);
}

}  // namespace

void tick(LauncherApp& app) {
    UpdateEngine& engine = app.worker->engine;
    app.snapshot = copyEngineTexts(engine);
    (void)startPendingRerun(*app.worker);
    resetWhenMouseOutside(app);

    if (app.input.questionOpen) {
        showQuestionText(app, app.snapshot.dialogText);
        answerQuestion(app);
        return;
    }
    if (engine.dialogPending.load()) {
        app.input.questionOpen = true;
        app.questionText = copyDialogText(engine);
        // Clicks made on the main screen just before it was covered are not carried past the answer.
        dropClicksOutsideQuestion(app.buttons);
        invalidateWindow(app);
        return;
    }

    // Parsed again only when the text or the language has changed: every parse repaints the panels,
    // and a text that yields no card would otherwise be parsed at every tick.
    if (!app.snapshot.newsText.empty() &&
        (app.snapshot.newsText != app.newsSource || currentLanguage() != app.newsLanguage)) {
        rebuildNews(app);
    }
    openNewsClicks(app);
    if (!app.ratingShownOnce && app.rating.loaded.load()) {
        app.ratingShownOnce = true;
        invalidate(app.window, app.layout.rating.panel);
    }
    if (!app.versionShownOnce && !app.snapshot.displayVersion.empty()) {
        app.versionShownOnce = true;
        invalidate(app.window, app.layout.topStrip);
    }
    takeOverResults(app);

    ScreenButtons& b = app.buttons;
    if (takeClick(b.close)) app.running = false;
    if (takeClick(b.gear)) {
        app.input.gearPanelOpen = !app.input.gearPanelOpen;
        invalidate(app.window, app.layout.gearArea);
    }
    if (takeClick(b.minimise)) {
        ShowWindow(app.window, SW_MINIMIZE);
        UpdateWindow(app.window);
    }
    if (takeClick(b.language)) switchLanguage(app);
    for (int i = 0; i < kBranchCount; ++i) {
        if (takeClick(b.play[static_cast<size_t>(i)]) && launchBranch(*app.worker, i)) app.running = false;
    }
    if (takeClick(b.verify)) {
        startUpdateCheck(*app.worker, true);
        closeGearPanel(app);
    }
    for (int i = 0; i < kBranchCount; ++i) {
        if (!takeClick(b.folders[static_cast<size_t>(i)])) continue;
        closeGearPanel(app);
        chooseBranchFolder(*app.worker, i);
    }
    openClientLinks(app);
    updateStatusAndProgress(app);
}
