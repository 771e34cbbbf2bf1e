#include "support/exe_pictures_win.h"

#include "ui/image_table.h"

void startGdiplusOnce() {
    static const ULONG_PTR token = [] {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR started = 0;
        Gdiplus::GdiplusStartup(&started, &input, nullptr);
        return started;
    }();
    (void)token;
}

ExePictures::ExePictures(const WString& exePath) {
    startGdiplusOnce();
    module =
        LoadLibraryExW(exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

ExePictures::~ExePictures() {
    if (module) FreeLibrary(module);
}

bool ExePictures::any() const {
    return module && FindResourceW(module, MAKEINTRESOURCEW(kImageBackground), L"PNG");
}

std::unique_ptr<Gdiplus::Bitmap> ExePictures::at(int32_t id, PixelSize size) const {
    DecodedPng source = load(id);
    return source.bitmap ? resizedBitmap(*source.bitmap, size) : nullptr;
}

PixelSize ExePictures::sizeAt(int32_t id, int32_t windowHeight) const {
    const PixelSize stored = module ? pngResourceSize(module, id) : PixelSize{};
    return stored.width == 0 ? PixelSize{}
                             : scaledPictureSize(stored, static_cast<float>(windowHeight) / 1080.0f);
}

ScreenLayout ExePictures::layoutOf(HWND window) const {
    RECT client{};
    GetClientRect(window, &client);
    return PictureStore(module, static_cast<float>(client.bottom) / 1080.0f)
        .layoutFor(client.right, client.bottom);
}

std::optional<POINT> solidPixelIn(Gdiplus::Bitmap& bitmap, double left, double top, double right,
                                  double bottom) {
    const int width = static_cast<int>(bitmap.GetWidth());
    const int height = static_cast<int>(bitmap.GetHeight());
    for (int y = static_cast<int>(top * height); y < static_cast<int>(bottom * height); ++y) {
        for (int x = static_cast<int>(left * width); x < static_cast<int>(right * width); ++x) {
            Gdiplus::Color colour;
            if (bitmap.GetPixel(x, y, &colour) == Gdiplus::Ok && colour.GetA() >= kSolidAlpha)
                return POINT{x, y};
        }
    }
    return std::nullopt;
}

Rgb pixelOf(Gdiplus::Bitmap& bitmap, int x, int y) {
    Gdiplus::Color colour;
    bitmap.GetPixel(x, y, &colour);
    return {colour.GetR(), colour.GetG(), colour.GetB()};
}

Rgb blend(Gdiplus::Bitmap& over, int x, int y, const Rgb& under) {
    Gdiplus::Color colour;
    over.GetPixel(x, y, &colour);
    const double a = colour.GetA() / 255.0;
    auto mix = [&](int top, int bottom) { return static_cast<int>(top * a + bottom * (1 - a) + 0.5); };
    return {mix(colour.GetR(), under.r), mix(colour.GetG(), under.g), mix(colour.GetB(), under.b)};
}

double differingShare(const Screenshot& shot, POINT origin, Gdiplus::Bitmap& expected, const IntRect& area,
                      int tolerance) {
    int differing = 0;
    int total = 0;
    for (int y = area.top; y < area.bottom(); ++y) {
        for (int x = area.left; x < area.right(); ++x) {
            ++total;
            if (!closeTo(shot.atClient(origin, x, y), pixelOf(expected, x, y), tolerance)) ++differing;
        }
    }
    return total ? static_cast<double>(differing) / total : 0;
}
