#pragma once

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <thread>
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

// Decodes a PNG picture; no bitmap when it does not decode. The bytes are copied into movable global
// memory owned by the stream, so the bitmap never points into memory of the caller's.
[[nodiscard]] DecodedPng decodePng(const void* bytes, size_t size);
// Decodes the resource of type "PNG" with this id from `module`; no bitmap when it is missing or
// does not decode.
[[nodiscard]] DecodedPng loadPngResource(HMODULE module, int32_t id);

// The pixel size in the header of the PNG resource; empty when it is missing or not a PNG.
[[nodiscard]] PixelSize pngResourceSize(HMODULE module, int32_t id);

// A copy of `source` at `size`, 32-bit ARGB; null on failure. An opaque picture (the background) by
// the cheapest method that gives that picture: a plain copy at its own size, the mean of each 2 x 2
// block at exactly half of it (a 1080-line screen); everything else by filteredBitmap.
[[nodiscard]] std::unique_ptr<Gdiplus::Bitmap> resizedBitmap(Gdiplus::Bitmap& source, PixelSize size);
// The same drawn with GDI+'s high-quality filter, at any size.
[[nodiscard]] std::unique_ptr<Gdiplus::Bitmap> filteredBitmap(Gdiplus::Bitmap& source, PixelSize size);

// A cached bitmap of `image` for fast blits; null when GDI+ cannot make one.
[[nodiscard]] SharedPicture makePicture(Gdiplus::Bitmap& image);
// `source` drawn `height` pixels high in its own proportions, as a cached bitmap; null on failure.
[[nodiscard]] SharedPicture scaledPicture(Gdiplus::Bitmap& source, int32_t height);

// One picture decoded on a thread of its own before the height it is drawn at is known, then scaled
// there once it is, and handed to a follow-up step on the same thread: the background, the slowest
// picture, starts loading before the display is measured. Without a thread, picture() does all of it.
class PictureAhead {
public:
    using FollowUp = std::function<void(const SharedPicture&)>;

    PictureAhead(HMODULE module, int32_t id);
    // Gives up a picture that was never asked for and waits for the thread.
    ~PictureAhead();
    PictureAhead(const PictureAhead&) = delete;
    PictureAhead& operator=(const PictureAhead&) = delete;

    // The height to scale to, and what to do with the picture (also a missing one) on the loading
    // thread; called once. The follow-up must not throw.
    void scaleTo(int32_t height, FollowUp followUp);
    // Waits for the picture and its follow-up; null when the resource is missing or broken. Called
    // once, after scaleTo.
    [[nodiscard]] SharedPicture picture();

private:
    struct Order {
        int32_t height = 0;
        FollowUp followUp;
    };
    void load();

    HMODULE module;
    int32_t id;
    std::promise<Order> order;
    std::future<Order> orderGiven;
    bool ordered = false;
    SharedPicture result;
    std::thread thread;
};

// The pictures of one window, scaled once and shared: every button that shows the same picture at
// the same size holds the same cached bitmap. Pictures are asked for first and then loaded
// together, decoded and scaled on several threads.
class PictureStore {
public:
    PictureStore(HMODULE module, double scale) : module(module), scale(scale) {}
    // Waits for pictures still loading (a start-up that failed half-way leaves some).
    ~PictureStore();
    PictureStore(const PictureStore&) = delete;
    PictureStore& operator=(const PictureStore&) = delete;

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
    // The same in two halves: starts loading on `threads` threads of their own and returns at once;
    // finishLoading helps with what is left and waits. In between, the store takes no calls.
    void startLoading(int threads);
    void finishLoading();
    // Keeps a picture loaded elsewhere as the one of this id at this height.
    void add(int32_t id, int32_t height, SharedPicture picture);

    // Null until loaded, and when the resource is missing or broken.
    [[nodiscard]] SharedPicture scaled(int32_t id) const;
    [[nodiscard]] SharedPicture atHeight(int32_t id, int32_t height) const;

private:
    using Key = std::pair<int32_t, int32_t>;  // id, height

    // One round of loading, shared with its threads.
    struct Loading {
        std::vector<Key> keys;
        std::vector<SharedPicture> results;
        std::atomic<size_t> next{0};
        std::vector<std::thread> threads;
    };

    HMODULE module;
    double scale;
    std::map<Key, SharedPicture> loaded;
    std::vector<Key> pending;
    std::unique_ptr<Loading> loading;
};
