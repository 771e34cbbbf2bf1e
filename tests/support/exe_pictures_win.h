#pragma once

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "base/wstring.h"
#include "support/screen_win.h"
#include "ui/geometry.h"
#include "ui/layout.h"
#include "ui/pictures_win.h"

// The launcher's pictures in the test process, for pixel checks without golden images: what a
// picture puts on the screen is computed from the executable's own pictures.

// GDI+ in the test process (for reading pictures), started on first use and kept to the end.
void startGdiplusOnce();

// The pictures of a launcher executable, decoded the way the launcher decodes and scales them.
class ExePictures {
public:
    explicit ExePictures(const WString& exePath);
    ~ExePictures();
    ExePictures(const ExePictures&) = delete;
    ExePictures& operator=(const ExePictures&) = delete;

    [[nodiscard]] bool any() const;
    [[nodiscard]] DecodedPng load(int32_t id) const { return loadPngResource(module, id); }
    // The picture resized to `size`, as the launcher draws it.
    [[nodiscard]] std::unique_ptr<Gdiplus::Bitmap> at(int32_t id, PixelSize size) const;
    // The size of picture `id` in a window `windowHeight` high; empty when it is missing.
    [[nodiscard]] PixelSize sizeAt(int32_t id, int32_t windowHeight) const;
    // The launcher's layout for its window: the client size and the play picture's size.
    [[nodiscard]] ScreenLayout layoutOf(HWND window) const;

private:
    HMODULE module = nullptr;
};

// A pixel of a picture at least this opaque shows the picture's own colour, hardly what lies under it.
inline constexpr int kSolidAlpha = 200;

// A pixel of `bitmap` at least kSolidAlpha opaque, searched in the part of it given as fractions of
// its size.
[[nodiscard]] std::optional<POINT> solidPixelIn(Gdiplus::Bitmap& bitmap, double left, double top,
                                                double right, double bottom);
[[nodiscard]] Rgb pixelOf(Gdiplus::Bitmap& bitmap, int x, int y);
// `over` with its alpha on top of `under`, as the window composes its pictures.
[[nodiscard]] Rgb blend(Gdiplus::Bitmap& over, int x, int y, const Rgb& under);
// The share of the pixels of `area` (client coordinates of a window whose client area starts at
// `origin`) that differ from `expected` (a bitmap of the whole window) by more than `tolerance`.
[[nodiscard]] double differingShare(const Screenshot& shot, POINT origin, Gdiplus::Bitmap& expected,
                                    const IntRect& area, int tolerance);
