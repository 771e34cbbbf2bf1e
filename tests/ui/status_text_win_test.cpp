// The status line after a check: the longest summaries show whole, at every window size and in both
// languages, with each line broken at most once.
#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <algorithm>
#include <gtest/gtest.h>
#include <iterator>

#include "support/launcher_window_win.h"
#include "ui/canvas_win.h"
#include "ui/image_table.h"
#include "ui/layout.h"
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

}  // namespace
