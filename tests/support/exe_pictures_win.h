#pragma once

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <memory>
#include <optional>

#include "base/wstring.h"
#include "support/launcher_window_win.h"
#include "ui/geometry.h"
#include "ui/pictures_win.h"

// The pictures of a launcher executable, decoded in the test process the way the launcher decodes
// and scales them, and what the screen should show where they are drawn: for pixel checks of
// screenshots without golden images.
class ExePictures {
public:
    explicit ExePictures(const WString& exePath);
    ~ExePictures();
    ExePictures(const ExePictures&) = delete;
    ExePictures& operator=(const ExePictures&) = delete;

    [[nodiscard]] bool any() const;
    [[nodiscard]] DecodedPng load(int32_t id) const { return loadPngResource(module, id); }
    // The picture as the launcher draws it: decoded, then resized to `size`.
    [[nodiscard]] std::unique_ptr<Gdiplus::Bitmap> at(int32_t id, PixelSize size) const;

private:
    HMODULE module = nullptr;
};

// A pixel of `bitmap` that is mostly opaque, searched in the part of it given as fractions of its
// size (where no label is drawn over it).
[[nodiscard]] std::optional<POINT> solidPixelIn(Gdiplus::Bitmap& bitmap, double left, double top,
                                                double right, double bottom);
[[nodiscard]] Rgb pixelOf(Gdiplus::Bitmap& bitmap, int x, int y);
// `over` with its alpha on top of `under`, as the window composes its pictures.
[[nodiscard]] Rgb blend(Gdiplus::Bitmap& over, int x, int y, const Rgb& under);
// The top strip darkens the background with 0x4C000000.
[[nodiscard]] Rgb underTopStrip(const Rgb& background);

// How far the pixels of `area` (client coordinates of a window whose client area starts at
// `origin`) on the screenshot differ from `expected` (a bitmap of the whole window): the share of
// pixels off by more than `tolerance` in any channel.
[[nodiscard]] double differingShare(const Screenshot& shot, POINT origin, Gdiplus::Bitmap& expected,
                                    const IntRect& area, int tolerance);
