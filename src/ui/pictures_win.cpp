#include "ui/pictures_win.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "base/handles_win.h"
#include "base/step_times.h"
#include "ui/image_table.h"
#include "ui/picture_halving.h"

namespace {

// The resource's bytes, or null; they stay mapped as long as the module is loaded.
const unsigned char* resourceBytes(HMODULE module, int32_t id, DWORD& size) {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
    if (!resource) return nullptr;
    size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    return loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
}

DecodedPng decodeResource(HMODULE module, int32_t id) {
    TIMED_STEP(id == kImageBackground ? "background: decode" : "picture: decode");
    return loadPngResource(module, id);
}

SharedPicture loadAtHeight(HMODULE module, int32_t id, int32_t height) {
    const DecodedPng png = decodeResource(module, id);
    return png.bitmap ? scaledPicture(*png.bitmap, height) : nullptr;
}

// Each picture is decoded and scaled on its own objects, so pictures load side by side.
// Runs on helper threads: nothing may leave it; a picture that cannot be made stays missing.
void loadEach(HMODULE module, const std::vector<std::pair<int32_t, int32_t>>& keys,
              std::vector<SharedPicture>& results, std::atomic<size_t>& next) noexcept {
    for (size_t i; (i = next.fetch_add(1)) < keys.size();) {
        try {
            results[i] = loadAtHeight(module, keys[i].first, keys[i].second);
        } catch (...) {
            results[i] = nullptr;
        }
    }
}

// The mean of each 2 x 2 block of an opaque RGB `source`, which is exactly twice `size`. Read in its
// own format: converting it to ARGB first would cost as much again.
std::unique_ptr<Gdiplus::Bitmap> halvedBitmap(Gdiplus::Bitmap& source, PixelSize size) {
    auto target = std::make_unique<Gdiplus::Bitmap>(size.width, size.height, PixelFormat32bppARGB);
    if (target->GetLastStatus() != Gdiplus::Ok) return nullptr;
    Gdiplus::Rect whole(0, 0, 2 * size.width, 2 * size.height);
    Gdiplus::BitmapData from{};
    if (source.LockBits(&whole, Gdiplus::ImageLockModeRead, PixelFormat24bppRGB, &from) != Gdiplus::Ok)
        return nullptr;
    Gdiplus::Rect half(0, 0, size.width, size.height);
    Gdiplus::BitmapData to{};
    if (target->LockBits(&half, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &to) != Gdiplus::Ok) {
        source.UnlockBits(&from);
        return nullptr;
    }
    halveRgbPixels(static_cast<const uint8_t*>(from.Scan0), from.Stride, static_cast<uint8_t*>(to.Scan0),
                   to.Stride, size.width, size.height);
    const bool written = target->UnlockBits(&to) == Gdiplus::Ok;
    source.UnlockBits(&from);
    return written ? std::move(target) : nullptr;
}

}  // namespace

DecodedPng decodePng(const void* bytes, size_t size) {
    DecodedPng png;
    if (!bytes || size == 0) return png;
    UniqueGlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, size));
    void* target = memory ? GlobalLock(memory.get()) : nullptr;
    if (!target) return png;
    std::memcpy(target, bytes, size);
    GlobalUnlock(memory.get());
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory.get(), TRUE, &stream))) return png;
    (void)memory.release();  // the stream frees it
    png.stream.reset(stream);
    png.bitmap.reset(Gdiplus::Bitmap::FromStream(stream));
    if (png.bitmap && (png.bitmap->GetLastStatus() != Gdiplus::Ok || png.bitmap->GetWidth() == 0))
        png.bitmap.reset();
    return png;
}

DecodedPng loadPngResource(HMODULE module, int32_t id) {
    DWORD size = 0;
    const unsigned char* bytes = resourceBytes(module, id, size);
    return decodePng(bytes, size);
}

PixelSize pngResourceSize(HMODULE module, int32_t id) {
    DWORD size = 0;
    const unsigned char* b = resourceBytes(module, id, size);
    // Signature (8 bytes), IHDR length and type (8), then width and height, big-endian.
    static const unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (!b || size < 24 || std::memcmp(b, kSignature, 8) != 0 || std::memcmp(b + 12, "IHDR", 4) != 0)
        return {};
    auto bigEndian = [&](int at) {
        return static_cast<int32_t>((uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) |
                                    (uint32_t{b[at + 2]} << 8) | b[at + 3]);
    };
    const PixelSize stored{bigEndian(16), bigEndian(20)};
    if (stored.width <= 0 || stored.height <= 0) return {};
    return stored;
}

std::unique_ptr<Gdiplus::Bitmap> filteredBitmap(Gdiplus::Bitmap& source, PixelSize size) {
    auto target = std::make_unique<Gdiplus::Bitmap>(size.width, size.height, PixelFormat32bppARGB);
    if (target->GetLastStatus() != Gdiplus::Ok) return nullptr;
    Gdiplus::Graphics graphics(target.get());
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
    graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
    if (graphics.DrawImage(&source, 0, 0, size.width, size.height) != Gdiplus::Ok) return nullptr;
    return target;
}

std::unique_ptr<Gdiplus::Bitmap> resizedBitmap(Gdiplus::Bitmap& source, PixelSize size) {
    // Only an opaque picture (the background): the filter's way with transparent edges differs.
    if (source.GetPixelFormat() != PixelFormat24bppRGB) return filteredBitmap(source, size);
    const PixelSize stored{static_cast<int32_t>(source.GetWidth()), static_cast<int32_t>(source.GetHeight())};
    if (size.width == stored.width && size.height == stored.height) {
        std::unique_ptr<Gdiplus::Bitmap> copy(
            source.Clone(0, 0, size.width, size.height, PixelFormat32bppARGB));
        if (copy && copy->GetLastStatus() == Gdiplus::Ok) return copy;
    } else if (2 * size.width == stored.width && 2 * size.height == stored.height) {
        if (auto halved = halvedBitmap(source, size)) return halved;
    }
    return filteredBitmap(source, size);
}

SharedPicture makePicture(Gdiplus::Bitmap& image) {
    // A cached bitmap is made for a graphics context; a scratch ARGB one matches the back buffer.
    Gdiplus::Bitmap scratch(200, 200, PixelFormat32bppARGB);
    Gdiplus::Graphics scratchGraphics(&scratch);
    auto cached = std::make_unique<Gdiplus::CachedBitmap>(&image, &scratchGraphics);
    if (cached->GetLastStatus() != Gdiplus::Ok) return nullptr;
    auto picture = std::make_shared<Picture>();
    picture->cached = std::move(cached);
    picture->size = {static_cast<int32_t>(image.GetWidth()), static_cast<int32_t>(image.GetHeight())};
    return picture;
}

SharedPicture scaledPicture(Gdiplus::Bitmap& source, int32_t height) {
    const PixelSize stored{static_cast<int32_t>(source.GetWidth()), static_cast<int32_t>(source.GetHeight())};
    std::unique_ptr<Gdiplus::Bitmap> scaled;
    {
        TIMED_STEP(stored.width == kBackgroundSize.width ? "background: scale" : "picture: scale");
        scaled = resizedBitmap(source, pictureSizeAtHeight(stored, height));
    }
    TIMED_STEP(stored.width == kBackgroundSize.width ? "background: cache" : "picture: cache");
    return scaled ? makePicture(*scaled) : nullptr;
}

PictureAhead::PictureAhead(HMODULE module, int32_t id)
    : module(module), id(id), orderGiven(order.get_future()) {
    try {
        thread = std::thread([this] { load(); });
    } catch (...) {
        // no thread: picture() loads it
    }
}

PictureAhead::~PictureAhead() {
    if (!ordered) scaleTo(0, {});
    if (thread.joinable()) thread.join();
}

void PictureAhead::scaleTo(int32_t height, FollowUp followUp) {
    ordered = true;
    order.set_value({height, std::move(followUp)});
}

SharedPicture PictureAhead::picture() {
    if (thread.joinable()) {
        thread.join();
    } else {
        load();
    }
    return std::move(result);
}

void PictureAhead::load() {
    try {
        const DecodedPng png = decodeResource(module, id);
        const Order given = orderGiven.get();
        if (given.height <= 0) return;  // given up
        if (png.bitmap) result = scaledPicture(*png.bitmap, given.height);
        if (given.followUp) given.followUp(result);
    } catch (...) {
        // On a helper thread nothing may leave: the picture stays missing.
    }
}

PictureStore::~PictureStore() {
    if (!loading) return;
    loading->next = loading->keys.size();  // the threads stop after the picture they hold
    for (std::thread& thread : loading->threads) thread.join();
}

PixelSize PictureStore::scaledSize(int32_t id) const {
    const PixelSize stored = pngResourceSize(module, id);
    if (stored.width == 0) return {};
    return scaledPictureSize(stored, scale);
}

ScreenLayout PictureStore::layoutFor(int32_t width, int32_t height) const {
    PixelSize play = scaledSize(kImagePlayNormal);
    if (play.width == 0) play = scaledPictureSize(kPlayButtonSize, scale);
    return computeLayout(width, height, play);
}

void PictureStore::request(int32_t id) {
    const PixelSize size = scaledSize(id);
    if (size.width != 0) requestAtHeight(id, size.height);
}

void PictureStore::requestAtHeight(int32_t id, int32_t height) {
    const Key key{id, height};
    if (loaded.count(key) || std::find(pending.begin(), pending.end(), key) != pending.end()) return;
    pending.push_back(key);
}

void PictureStore::loadRequested(int threads) {
    startLoading(threads - 1);
    finishLoading();
}

void PictureStore::startLoading(int threads) {
    finishLoading();
    loading = std::make_unique<Loading>();
    Loading& round = *loading;
    round.keys.swap(pending);
    round.results.resize(round.keys.size());
    for (int i = 0; i < threads && static_cast<size_t>(i) < round.keys.size(); ++i) {
        try {
            round.threads.emplace_back(
                [&round, module = module] { loadEach(module, round.keys, round.results, round.next); });
        } catch (...) {
            break;  // no thread: finishLoading does the rest
        }
    }
}

void PictureStore::finishLoading() {
    if (!loading) return;
    Loading& round = *loading;
    loadEach(module, round.keys, round.results, round.next);
    for (std::thread& thread : round.threads) thread.join();
    for (size_t i = 0; i < round.keys.size(); ++i) loaded.emplace(round.keys[i], round.results[i]);
    loading.reset();
}

void PictureStore::add(int32_t id, int32_t height, SharedPicture picture) {
    loaded[{id, height}] = std::move(picture);
}

SharedPicture PictureStore::scaled(int32_t id) const {
    const PixelSize size = scaledSize(id);
    return size.width == 0 ? nullptr : atHeight(id, size.height);
}

SharedPicture PictureStore::atHeight(int32_t id, int32_t height) const {
    const auto found = loaded.find({id, height});
    return found == loaded.end() ? nullptr : found->second;
}
