#include "ui/pictures_win.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "base/handles_win.h"
#include "ui/image_table.h"

namespace {

// The resource's bytes, or null; they stay mapped as long as the module is loaded.
const unsigned char* resourceBytes(HMODULE module, int32_t id, DWORD& size) {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
    if (!resource) return nullptr;
    size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    return loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
}

SharedPicture loadAtHeight(HMODULE module, int32_t id, int32_t height) {
    DecodedPng png = loadPngResource(module, id);
    if (!png.bitmap) return nullptr;
    const PixelSize stored{static_cast<int32_t>(png.bitmap->GetWidth()),
                           static_cast<int32_t>(png.bitmap->GetHeight())};
    const PixelSize size = pictureSizeAtHeight(stored, height);
    auto resized = resizedBitmap(*png.bitmap, size);
    return resized ? makePicture(*resized) : nullptr;
}

}  // namespace

DecodedPng loadPngResource(HMODULE module, int32_t id) {
    DecodedPng png;
    DWORD size = 0;
    const unsigned char* bytes = resourceBytes(module, id, size);
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

std::unique_ptr<Gdiplus::Bitmap> resizedBitmap(Gdiplus::Bitmap& source, PixelSize size) {
    auto target = std::make_unique<Gdiplus::Bitmap>(size.width, size.height, PixelFormat32bppARGB);
    if (target->GetLastStatus() != Gdiplus::Ok) return nullptr;
    Gdiplus::Graphics graphics(target.get());
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
    graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
    if (graphics.DrawImage(&source, 0, 0, size.width, size.height) != Gdiplus::Ok) return nullptr;
    return target;
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
    std::vector<SharedPicture> results(pending.size());
    std::atomic<size_t> next{0};
    // Each picture is decoded and scaled on its own objects, so pictures load side by side; the
    // window waits for the slowest, the background, rather than for the sum.
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < pending.size();) {
            results[i] = loadAtHeight(module, pending[i].first, pending[i].second);
        }
    };
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads && static_cast<size_t>(i) < pending.size(); ++i) {
        try {
            helpers.emplace_back(work);
        } catch (...) {
            break;  // no thread: this one does the rest
        }
    }
    work();
    for (std::thread& helper : helpers) helper.join();
    for (size_t i = 0; i < pending.size(); ++i) loaded.emplace(pending[i], results[i]);
    pending.clear();
}

SharedPicture PictureStore::scaled(int32_t id) const {
    const PixelSize size = scaledSize(id);
    return size.width == 0 ? nullptr : atHeight(id, size.height);
}

SharedPicture PictureStore::atHeight(int32_t id, int32_t height) const {
    const auto found = loaded.find({id, height});
    return found == loaded.end() ? nullptr : found->second;
}
