// Reads the status line off a picture of the launcher window: draws each candidate text with the
// launcher's own status-line drawing (its fonts, its layout for a window of the picture's size) and
// compares the text's solid pixels with the picture's. Used by the demo's check.
//
// usage: status_text_probe.exe WINDOW.png LAUNCHER.exe TEXTS.txt
//   WINDOW.png   the launcher window's client area, pixel for pixel as on screen
//   LAUNCHER.exe the launcher that drew it (its pictures set the play buttons and with them the layout)
//   TEXTS.txt    UTF-8, one candidate per line: "+" then a text the status line may show, or "-" then
//                one it must not; "\n" in a text is a line break
// Prints a score per candidate; exit code 0 when a "+" text matches and no "-" text does, 1 when not,
// 2 for unusable input.
#include <windows.h>

#include <gdiplus.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/read_file_win.h"
#include "config/text_convert.h"
#include "ui/canvas_win.h"
#include "ui/geometry.h"
#include "ui/image_table.h"
#include "ui/layout.h"
#include "ui/pictures_win.h"
#include "ui/text_fit_win.h"

namespace {

// Where the text drawn white on black reaches kSolidLevel, the picture must show at least kBrightLevel
// (the text over the window's background, antialiased a little differently at its edges).
constexpr int kSolidLevel = 235;
constexpr int kBrightLevel = 190;
// A match covers nearly every solid pixel and leaves few bright pixels of the picture unexplained.
constexpr double kMinCoverage = 0.9;
constexpr double kMaxStray = 0.1;

struct Candidate {
    bool wanted = false;
    WString text;
    double coverage = 0;
    double stray = 0;
};

int brightness(Gdiplus::Color c) { return std::min({int{c.GetR()}, int{c.GetG()}, int{c.GetB()}}); }

std::vector<Candidate> readCandidates(const WString& path) {
    std::vector<Candidate> list;
    const std::optional<std::string> bytes = readWholeFile(path);
    if (!bytes) return list;
    size_t start = 0;
    while (start < bytes->size()) {
        size_t end = bytes->find('\n', start);
        if (end == std::string::npos) end = bytes->size();
        std::string line = bytes->substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() < 2 || (line[0] != '+' && line[0] != '-')) continue;
        std::string text;
        for (size_t i = 1; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
                text += '\n';
                ++i;
            } else {
                text += line[i];
            }
        }
        list.push_back({line[0] == '+', utf8ToWide(text)});
    }
    return list;
}

// Draws `text` white on black as the status line and scores it against the picture's status area.
void score(Canvas& canvas, const ScreenLayout& layout, Gdiplus::Bitmap& picture, Candidate& candidate) {
    Gdiplus::Graphics& g = *canvas.graphics;
    const IntRect& area = layout.progressArea;
    g.FillRectangle(&canvas.blackBrush, toRectF(area));
    drawStatusText(canvas, g, area, candidate.text);
    g.Flush(Gdiplus::FlushIntentionSync);

    int solid = 0, covered = 0, bright = 0, stray = 0;
    for (int y = area.top; y < area.bottom(); ++y) {
        for (int x = area.left; x < area.right(); ++x) {
            Gdiplus::Color drawn, shown;
            canvas.backBuffer->GetPixel(x, y, &drawn);
            picture.GetPixel(x, y, &shown);
            const bool isBright = brightness(shown) >= kBrightLevel;
            if (brightness(drawn) >= kSolidLevel) {
                ++solid;
                if (isBright) ++covered;
            }
            if (!isBright) continue;
            ++bright;
            // Antialiased edges may fall a pixel either way: a bright pixel next to any drawn ink
            // belongs to the text.
            bool ink = false;
            for (int dy = -1; dy <= 1 && !ink; ++dy) {
                for (int dx = -1; dx <= 1 && !ink; ++dx) {
                    Gdiplus::Color around;
                    canvas.backBuffer->GetPixel(std::clamp(x + dx, area.left, area.right() - 1),
                                                std::clamp(y + dy, area.top, area.bottom() - 1), &around);
                    ink = brightness(around) > 40;
                }
            }
            if (!ink) ++stray;
        }
    }
    candidate.coverage = solid > 0 ? static_cast<double>(covered) / solid : 0;
    candidate.stray = bright > 0 ? static_cast<double>(stray) / bright : 1;
}

bool matches(const Candidate& c) { return c.coverage >= kMinCoverage && c.stray <= kMaxStray; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: status_text_probe WINDOW.png LAUNCHER.exe TEXTS.txt\n");
        return 2;
    }
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 2;
    int result = 2;
    {
        Gdiplus::Bitmap picture(argv[1]);
        std::vector<Candidate> candidates = readCandidates(argv[3]);
        HMODULE launcher =
            LoadLibraryExW(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        const int width = static_cast<int>(picture.GetWidth());
        const int height = static_cast<int>(picture.GetHeight());
        Gdiplus::FontFamily family(L"Segoe UI");
        if (picture.GetLastStatus() != Gdiplus::Ok || width == 0 || candidates.empty() || !launcher ||
            family.GetLastStatus() != Gdiplus::Ok) {
            std::fprintf(stderr,
                         "status_text_probe: cannot read the picture, the launcher, the texts or the font\n");
        } else {
            // The launcher's own layout for this window size.
            const ScreenLayout layout =
                PictureStore(launcher, static_cast<float>(height) / 1080.0f).layoutFor(width, height);
            Canvas canvas(width, height, layout.fontBase, family);

            bool wantedSeen = false;
            bool otherSeen = false;
            for (Candidate& c : candidates) {
                score(canvas, layout, picture, c);
                std::printf("%c coverage %.3f stray %.3f %s \"%s\"\n", c.wanted ? '+' : '-', c.coverage,
                            c.stray, matches(c) ? "MATCH" : "no   ", wideToUtf8(c.text).c_str());
                (c.wanted ? wantedSeen : otherSeen) |= matches(c);
            }
            result = wantedSeen && !otherSeen ? 0 : 1;
            std::printf("status line %s\n", result == 0 ? "reads as expected" : "does not read as expected");
        }
        if (launcher) FreeLibrary(launcher);
    }
    Gdiplus::GdiplusShutdown(token);
    return result;
}
