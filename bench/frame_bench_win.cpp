// The cost of one frame of the launcher's window and of one idle tick, next to a bare blit of the
// back buffer to a device context (the least any frame costs). The application object is built as
// the launcher builds it, with news and a season rating on screen, and drawn into a memory device
// context; median of 500 of each. Also checks that an idle tick repaints nothing, with news cards on
// screen and with a news text that yields no card.
// usage: frame_bench.exe [COUNT]
#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "bench_clock_win.h"
#include "config/settings.h"
#include "ui/launcher_app_win.h"
#include "ui/paint_win.h"
#include "ui/tick_win.h"

namespace {

template <typename Step>
double medianMs(int count, Step step) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        const double begin = nowMs();
        step();
        times.push_back(nowMs() - begin);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void fillScreen(LauncherApp& app) {
    app.news = {
        {L"Season two\nbegins", L"The fortress opens its gates for the second season.", L"12.03.2026",
         L"https://localhost/news/1"},
        {L"Patch 1.44", L"Balance changes for the late waves and two new heroes.", L"01.03.2026",
         L"https://localhost/news/2"},
        {L"Tournament", L"Sign up before the end of the month.", L"20.02.2026", L"https://localhost/news/3"}};
    for (size_t i = 0; i < app.news.size(); ++i) setButtonEnabled(app.buttons.news[i], true);
    for (auto& rows : app.rating.rows) {
        for (int i = 0; i < 10; ++i)
            rows.push_back({i + 1, L"Player " + std::to_wstring(i + 1), 50 - i, i % 3});
    }
    app.rating.loaded.exchange(true);
}

// English items only: no card in the Russian interface.
constexpr wchar_t kNewsWithoutRussian[] =
    L"[news]\ntitle_en=Season two\ntext_en=The fortress opens its gates.\ndate=12.03.2026\n"
    L"url_en=https://localhost/news/1\n[news]\ntitle_en=Patch 1.44\ntext_en=Balance changes.\n"
    L"date=01.03.2026\nurl_en=https://localhost/news/2\n";

struct IdleTick {
    double medianMs = 0;
    bool repainted = false;  // an idle tick left something to repaint
};

// Ticks once to take in what changed, then times idle ticks and reads what they left to repaint.
IdleTick measureIdleTick(LauncherApp& app, int count) {
    tick(app);
    ValidateRect(app.window, nullptr);
    IdleTick idle;
    idle.medianMs = medianMs(count, [&] { tick(app); });
    RECT dirty{};
    idle.repainted = GetUpdateRect(app.window, &dirty, FALSE) != FALSE;
    return idle;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int count = argc > 1 ? _wtoi(argv[1]) : 500;
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    auto* app = new LauncherApp(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
    fillScreen(*app);

    HDC screen = GetDC(nullptr);
    HDC target = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, app->geometry.width, app->geometry.height);
    SelectObject(target, bitmap);

    for (int i = 0; i < 20; ++i) paintFrame(*app, target);  // warm the glyph caches
    const double frame = medianMs(count, [&] { paintFrame(*app, target); });
    const double blit = medianMs(count, [&] { presentBackBuffer(*app->canvas, target); });
    // What a progress update repaints: the file bar with its label.
    app->fileBar.visible = true;
    app->fileBar.maximum = 100;
    app->fileBar.labelText = L"Updating: Imgs/interface/panel_frame.dds";
    const IntRect barArea = progressBarDirtyRect(app->fileBar);
    int value = 0;
    const double barFrame = medianMs(count, [&] {
        app->fileBar.value = ++value % 100;
        paintFrame(*app, target, barArea);
    });
    const IdleTick withCards = measureIdleTick(*app, count);
    // A news text whose items all lack the fields of the interface language yields no card; the
    // idle tick must not parse it again and again.
    appSettings().language.exchange(Language::Russian);
    app->news.clear();
    for (ImageButton& card : app->buttons.news) setButtonEnabled(card, false);
    app->worker->engine.newsText = kNewsWithoutRussian;
    const IdleTick withoutCards = measureIdleTick(*app, count);

    std::printf("one frame (median of %d): %.3f ms; bare blit of the back buffer %.3f ms; ratio %.1f\n",
                count, frame, blit, frame / blit);
    std::printf("progress bar update (median of %d): %.3f ms; ratio to a bare blit %.1f\n", count, barFrame,
                barFrame / blit);
    for (const auto& [name, idle] :
         {std::pair{"news cards shown", withCards}, {"news without a card", withoutCards}}) {
        std::printf(
            "idle tick, %s (median of %d): %.4f ms (%.4f of a bare blit); region left to repaint: %s\n", name,
            count, idle.medianMs, idle.medianMs / blit,
            idle.repainted ? "SOME (an idle tick must repaint nothing)" : "none");
    }
    DestroyWindow(app->window);
    return withCards.repainted || withoutCards.repainted ? 1 : 0;
}
