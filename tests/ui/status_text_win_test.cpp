// Texts of the window that must show whole at every window size: the status line after a check
// (the longest summaries in both languages, each line broken at most once) and the news titles.
#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <algorithm>
#include <gtest/gtest.h>
#include <iterator>

#include "support/exe_pictures_win.h"
#include "ui/canvas_win.h"
#include "ui/image_table.h"
#include "ui/layout.h"
#include "ui/text_fit_win.h"
#include "update/update_texts.h"

namespace {

TEST(StatusText, EveryRunMessageOfBothBranchesShowsWholeAtEveryWindowSize) {
    startGdiplusOnce();
    Gdiplus::FontFamily family(L"Segoe UI");
    ASSERT_EQ(family.GetLastStatus(), Gdiplus::Ok);
    const TextPair* const messages[] = {
        &kNoConnectionText,          &kDowngradeSkippedText,         &kPatchInfoMissingText,
        &kPatchSignatureMissingText, &kPatchSignatureInvalidText,    &kPatchInfoCorruptText,
        &kUncheckedFilesText,        &kNothingToUpdateUncheckedText, &kFilesInUseText,
        &kDownloadFailedText,
    };
    for (const int32_t height : {480, 540, 1080}) {
        const WindowGeometry window = computeWindowGeometry(height * 2, height * 2, 60);
        const ScreenLayout L =
            computeLayout(window.width, window.height, scaledPictureSize(kPlayButtonSize, window.scale));
        Canvas canvas(L.width, L.height, L.fontBase, family);
        for (const Language language : {Language::English, Language::Russian}) {
            for (size_t m = 0; m < std::size(messages); ++m) {
                const TextPair* message = messages[m];
                const WString text = WString(L"LURRA 1.44 — ") + localized(*message, language) +
                                     L"\nKORDAN TVX — " + localized(*message, language);
                SCOPED_TRACE(testing::Message() << "height " << height << ", message " << m << ", language "
                                                << static_cast<int>(language));
                const StatusTextFit fit = fitStatusText(canvas, *canvas.graphics, L.progressArea, text);
                EXPECT_EQ(fit.rowsShown, fit.rows);
                const size_t lines = 1 + static_cast<size_t>(std::count(text.begin(), text.end(), L'\n'));
                EXPECT_LE(fit.rows, 2 * lines);
            }
        }
    }
}

// A title line too wide for the card at the base size once cut it off, and every line after it;
// a line too wide in every size breaks between its words.
TEST(NewsTitle, EveryLineShowsWholeInASmallerSizeWhenNeeded) {
    startGdiplusOnce();
    Gdiplus::FontFamily family(L"Segoe UI");
    const struct {
        const wchar_t* title;
        size_t lines;
    } titles[] = {
        {L"Патч 1.44", 1},
        {L"Второй сезон\nначался", 2},
        {L"Зимний\nтурнир", 2},
        {L"Season two\nbegins", 2},
        {L"Обновление баланса", 2},  // broken between its words
        {L"Три\nстроки\nзаголовка", 3},
    };
    for (const int32_t height : {480, 540, 1080}) {
        const WindowGeometry window = computeWindowGeometry(height * 2, height * 2, 60);
        const ScreenLayout L =
            computeLayout(window.width, window.height, scaledPictureSize(kPlayButtonSize, window.scale));
        Canvas canvas(L.width, L.height, L.fontBase, family);
        const IntRect& card = L.news[0];
        // The title area of a news card.
        const Gdiplus::RectF area(card.left + 0.07f * card.width, card.top + 0.15f * card.height,
                                  0.39f * card.width, 0.7f * card.height);
        for (size_t i = 0; i < std::size(titles); ++i) {
            const auto& t = titles[i];
            SCOPED_TRACE(testing::Message() << "height " << height << ", title " << i);
            const LinesFit fit =
                fitLines(*canvas.graphics, t.title,
                         {canvas.bold.get(), canvas.bold080.get(), canvas.bold066.get()}, area);
            EXPECT_EQ(fit.lines.size(), t.lines);
            EXPECT_EQ(fit.linesShown, t.lines);
            EXPECT_LE(fit.widest, area.Width);
        }
    }
}

}  // namespace
