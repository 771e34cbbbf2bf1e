#pragma once

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "ui/canvas_win.h"
#include "ui/geometry.h"
#include "ui/layout.h"

struct StreamRelease {
    void operator()(IStream* stream) const { stream->Release(); }
};
using UniqueStream = std::unique_ptr<IStream, StreamRelease>;

// A bitmap decoded from a stream that owns the bytes; GDI+ may read the stream for as long as the
// bitmap lives, so the stream goes last.
struct DecodedPng {
    UniqueStream stream;
    std::unique_ptr<Gdiplus::Bitmap> bitmap;
};

// Decodes the resource of type "PNG" with this id from `module`; no bitmap when it is missing or
// does not decode. The bytes are copied into movable global memory owned by the stream, so the
// bitmap never points into the module's mapped resource.
[[nodiscard]] DecodedPng loadPngResource(HMODULE module, int32_t id);

// The pixel size in the header of the PNG resource; empty when it is missing or not a PNG.
[[nodiscard]] PixelSize pngResourceSize(HMODULE module, int32_t id);

// A copy of `source` at `size`, in the source's pixel format; null on failure.
[[nodiscard]] std::unique_ptr<Gdiplus::Bitmap> resizedBitmap(Gdiplus::Bitmap& source, PixelSize size);

// A cached bitmap of `image` for fast blits; null when GDI+ cannot make one.
[[nodiscard]] SharedPicture makePicture(Gdiplus::Bitmap& image);

// The pictures of one window, scaled once and shared: every button that shows the same picture at
// the same size holds the same cached bitmap. Pictures are asked for first and then loaded
// together, decoded and scaled on several threads.
class PictureStore {
public:
    PictureStore(HMODULE module, double scale) : module(module), scale(scale) {}

    // The picture's size at the window's scale, from its header; empty when it is missing.
    [[nodiscard]] PixelSize scaledSize(int32_t id) const;
    // The screen layout of a window of this size at the store's scale: the play buttons take the
    // size of their picture, or without one the size it would have.
    [[nodiscard]] ScreenLayout layoutFor(int32_t width, int32_t height) const;

    // Asks for the picture at the window's scale, or drawn `height` pixels high.
    void request(int32_t id);
    void requestAtHeight(int32_t id, int32_t height);
    // Loads every picture asked for and not loaded yet, on at most `threads` threads.
    void loadRequested(int threads);

    // Null until loaded, and when the resource is missing or broken.
    [[nodiscard]] SharedPicture scaled(int32_t id) const;
    [[nodiscard]] SharedPicture atHeight(int32_t id, int32_t height) const;

private:
    using Key = std::pair<int32_t, int32_t>;  // id, height

    HMODULE module;
    double scale;
    std::map<Key, SharedPicture> loaded;
    std::vector<Key> pending;
};
