// The pictures' share of the start-up, step by step, against what each step cost before.
//   scaling   the background scaled to the window of common screens (540 lines high on a 1080-line
//             screen, 720 on 1440, 1080 on 2160) by resizedBitmap, against GDI+'s high-quality
//             filter that every start used before (filteredBitmap), median of RUNS each; and how far
//             the two pictures lie apart: the mean absolute difference per channel (0 to 255) and
//             the largest one; with REFERENCE (the background drawn from its source at 960 x 540),
//             how far each of the two lies from that;
//   decoding  every picture of the build as rendered (ART_FOLDER/raw) against the same picture
//             re-encoded as embedded (ART_FOLDER), median of RUNS decodings of each set; and the
//             bytes of both sets.
// usage: picture_bench.exe ART_FOLDER [RUNS [REFERENCE]]
#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/read_file_win.h"
#include "bench_clock_win.h"
#include "ui/gdiplus_session_win.h"
#include "ui/geometry.h"
#include "ui/image_table.h"
#include "ui/pictures_win.h"

namespace {

// The medians of two steps timed in turns, so that a machine busy for a while slows both alike.
template <typename Before, typename After>
std::pair<double, double> medianMs(int runs, Before before, After after) {
    std::vector<double> beforeMs, afterMs;
    auto time = [](auto& step, std::vector<double>& times) {
        const double begin = nowMs();
        step();
        times.push_back(nowMs() - begin);
    };
    for (int i = 0; i < runs; ++i) {
        time(before, beforeMs);
        time(after, afterMs);
    }
    std::sort(beforeMs.begin(), beforeMs.end());
    std::sort(afterMs.begin(), afterMs.end());
    return {beforeMs[beforeMs.size() / 2], afterMs[afterMs.size() / 2]};
}

struct Difference {
    double meanPerChannel = -1;  // -1: the pictures could not be compared
    int largest = 0;
    // GDI+'s filter fades the outermost pixels toward transparency (it samples beyond the edge):
    // the largest difference away from them tells the filters apart.
    int largestInside = 0;
};

Difference difference(Gdiplus::Bitmap& a, Gdiplus::Bitmap& b) {
    Difference result;
    const UINT width = a.GetWidth();
    const UINT height = a.GetHeight();
    if (width != b.GetWidth() || height != b.GetHeight()) return result;
    Gdiplus::Rect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    Gdiplus::BitmapData da{}, db{};
    if (a.LockBits(&whole, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &da) != Gdiplus::Ok)
        return result;
    if (b.LockBits(&whole, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &db) != Gdiplus::Ok) {
        a.UnlockBits(&da);
        return result;
    }
    double sum = 0;
    for (UINT y = 0; y < height; ++y) {
        const auto* rowA = static_cast<const uint8_t*>(da.Scan0) + static_cast<ptrdiff_t>(y) * da.Stride;
        const auto* rowB = static_cast<const uint8_t*>(db.Scan0) + static_cast<ptrdiff_t>(y) * db.Stride;
        const bool edgeRow = y == 0 || y + 1 == height;
        for (UINT i = 0; i < 4 * width; ++i) {
            const int d = std::abs(rowA[i] - rowB[i]);
            sum += d;
            result.largest = std::max(result.largest, d);
            if (!edgeRow && i >= 4 && i < 4 * (width - 1))
                result.largestInside = std::max(result.largestInside, d);
        }
    }
    a.UnlockBits(&da);
    b.UnlockBits(&db);
    result.meanPerChannel = sum / (4.0 * width * height);
    return result;
}

bool benchScaling(int runs, const std::wstring& referencePath) {
    const DecodedPng background = loadPngResource(GetModuleHandleW(nullptr), kImageBackground);
    if (!background.bitmap) return false;
    Gdiplus::Bitmap& source = *background.bitmap;
    std::printf("background scaling (median of %d):\n", runs);
    for (int32_t height : {540, 720, 1080}) {
        const PixelSize size = pictureSizeAtHeight(kBackgroundSize, height);
        const auto [before, now] = medianMs(
            runs, [&] { (void)filteredBitmap(source, size); }, [&] { (void)resizedBitmap(source, size); });
        const auto filtered = filteredBitmap(source, size);
        const auto scaled = resizedBitmap(source, size);
        if (!filtered || !scaled) return false;
        const Difference d = difference(*filtered, *scaled);
        std::printf(
            "  to %dx%d: %.1f ms, GDI+ high-quality filter %.1f ms, ratio %.2f; difference from GDI+'s "
            "picture: mean %.3f per channel, largest %d (%d away from the outermost pixels)\n",
            size.width, size.height, now, before, now / before, d.meanPerChannel, d.largest, d.largestInside);
        if (referencePath.empty() || height != 540) continue;
        const auto bytes = readWholeFile(referencePath);
        const DecodedPng drawn = bytes ? decodePng(bytes->data(), bytes->size()) : DecodedPng{};
        if (!drawn.bitmap) return false;
        const Difference fromNow = difference(*drawn.bitmap, *scaled);
        const Difference fromBefore = difference(*drawn.bitmap, *filtered);
        std::printf(
            "    against the background drawn from its source at that size: mean %.3f per channel "
            "(GDI+'s filter %.3f), largest away from the outermost pixels %d (%d)\n",
            fromNow.meanPerChannel, fromBefore.meanPerChannel, fromNow.largestInside,
            fromBefore.largestInside);
    }
    return true;
}

bool benchDecoding(const std::wstring& folder, int runs) {
    std::vector<std::string> raw, embedded;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\raw\\*.png").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        const auto before = readWholeFile(folder + L"\\raw\\" + found.cFileName);
        const auto after = readWholeFile(folder + L"\\" + found.cFileName);
        if (!before || !after) {
            FindClose(search);
            return false;
        }
        raw.push_back(*before);
        embedded.push_back(*after);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    auto decodeAll = [](const std::vector<std::string>& set) {
        return [&set] {
            for (const std::string& bytes : set)
                (void)decodePng(bytes.data(), bytes.size()).bitmap->GetWidth();
        };
    };
    auto bytesOf = [](const std::vector<std::string>& set) {
        size_t total = 0;
        for (const std::string& bytes : set) total += bytes.size();
        return total;
    };
    for (const std::string& bytes : embedded) {
        if (!decodePng(bytes.data(), bytes.size()).bitmap) return false;
    }
    const auto [before, after] = medianMs(runs, decodeAll(raw), decodeAll(embedded));
    std::printf(
        "decoding all %zu pictures (median of %d): re-encoded %.1f ms, as rendered %.1f ms, ratio %.2f "
        "(at most 1); %zu bytes, as rendered %zu, %.1f %% smaller\n",
        raw.size(), runs, after, before, after / before, bytesOf(embedded), bytesOf(raw),
        100.0 * (1.0 - static_cast<double>(bytesOf(embedded)) / bytesOf(raw)));
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: picture_bench.exe ART_FOLDER [RUNS [REFERENCE]]\n");
        return 2;
    }
    const int runs = argc > 2 ? _wtoi(argv[2]) : 15;
    const GdiplusSession gdiplus;
    const bool scaled = benchScaling(runs, argc > 3 ? argv[3] : L"");
    if (!scaled) std::fprintf(stderr, "the background did not load or scale\n");
    const bool decoded = benchDecoding(argv[1], runs);
    if (!decoded) std::fprintf(stderr, "the pictures of %ls did not read or decode\n", argv[1]);
    return scaled && decoded ? 0 : 1;
}
