#include "ui/canvas_win.h"

#include <algorithm>

namespace {

std::unique_ptr<Gdiplus::Font> makeFont(const Gdiplus::FontFamily& family, double size, INT style) {
    return std::make_unique<Gdiplus::Font>(&family, static_cast<Gdiplus::REAL>(size), style,
                                           Gdiplus::UnitPixel);
}

void setFormat(Gdiplus::StringFormat& format, Gdiplus::StringAlignment horizontal,
               Gdiplus::StringAlignment vertical) {
    format.SetAlignment(horizontal);
    format.SetLineAlignment(vertical);
}

}  // namespace

Canvas::Canvas(int32_t width, int32_t height, int32_t fontBase, const Gdiplus::FontFamily& family)
    : width(width), height(height), fontBase(fontBase) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down, like the GDI+ bitmap over it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    dibSection.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    memoryDc.reset(CreateCompatibleDC(nullptr));
    if (dibSection && memoryDc && bits) {
        SelectObject(memoryDc.get(), dibSection.get());
        pixels = static_cast<uint32_t*>(bits);
        backBuffer = std::make_unique<Gdiplus::Bitmap>(width, height, width * 4, PixelFormat32bppARGB,
                                                       static_cast<BYTE*>(bits));
    } else {
        // Without GDI memory the frame is still drawn, then copied through GDI+.
        backBuffer = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppARGB);
    }
    graphics = std::make_unique<Gdiplus::Graphics>(backBuffer.get());
    graphics->SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);

    // No line limit here: a row lower than the font's line spacing must still show its line.
    for (Gdiplus::StringFormat* line : {&lineNear, &lineCentred, &lineFar}) {
        line->SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
        line->SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
    }
    tightCentred.reset(Gdiplus::StringFormat::GenericTypographic()->Clone());
    tightCentred->SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap | Gdiplus::StringFormatFlagsNoClip);
    setFormat(*tightCentred, Gdiplus::StringAlignmentCenter, Gdiplus::StringAlignmentCenter);
    tightNear.reset(Gdiplus::StringFormat::GenericTypographic()->Clone());
    // A caption a few pixels too wide may run into the gap after its button rather than lose letters.
    tightNear->SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap | Gdiplus::StringFormatFlagsNoClip);
    tightNear->SetTrimming(Gdiplus::StringTrimmingNone);
    setFormat(*tightNear, Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentCenter);
    progressLabel.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap | Gdiplus::StringFormatFlagsLineLimit);
    setFormat(progressLabel, Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentCenter);
    setFormat(lineNear, Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentCenter);
    setFormat(lineCentred, Gdiplus::StringAlignmentCenter, Gdiplus::StringAlignmentCenter);
    setFormat(lineFar, Gdiplus::StringAlignmentFar, Gdiplus::StringAlignmentCenter);
    wrapNear.SetFormatFlags(Gdiplus::StringFormatFlagsLineLimit);
    wrapCentred.SetFormatFlags(Gdiplus::StringFormatFlagsLineLimit);
    wrapFar.SetFormatFlags(Gdiplus::StringFormatFlagsLineLimit);
    setFormat(wrapNear, Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear);
    setFormat(wrapCentred, Gdiplus::StringAlignmentCenter, Gdiplus::StringAlignmentCenter);
    setFormat(wrapFar, Gdiplus::StringAlignmentFar, Gdiplus::StringAlignmentCenter);

    const double base = fontBase;
    regular = makeFont(family, base, Gdiplus::FontStyleRegular);
    regular080 = makeFont(family, base * 0.8, Gdiplus::FontStyleRegular);
    regular066 = makeFont(family, base * 0.66, Gdiplus::FontStyleRegular);
    regular055 = makeFont(family, base * 0.55, Gdiplus::FontStyleRegular);
    bold = makeFont(family, base, Gdiplus::FontStyleBold);
    bold080 = makeFont(family, base * 0.8, Gdiplus::FontStyleBold);
    bold066 = makeFont(family, base * 0.66, Gdiplus::FontStyleBold);
    bold145 = makeFont(family, base * 1.45, Gdiplus::FontStyleBold);
    small050 = makeFont(family, base * 0.5, Gdiplus::FontStyleRegular);

    arrowCursor = LoadCursorW(nullptr, IDC_ARROW);
    handCursor = LoadCursorW(nullptr, IDC_HAND);
}

void presentBackBuffer(const Canvas& canvas, HDC target, const IntRect& area) {
    if (canvas.memoryDc && canvas.dibSection) {
        BitBlt(target, area.left, area.top, area.width, area.height, canvas.memoryDc.get(), area.left,
               area.top, SRCCOPY);
        return;
    }
    presentBackBuffer(canvas, target);
}

void keepBaseLayer(Canvas& canvas) {
    if (!canvas.pixels) return;
    canvas.graphics->Flush(Gdiplus::FlushIntentionSync);
    canvas.basePixels.assign(canvas.pixels,
                             canvas.pixels + static_cast<size_t>(canvas.width) * canvas.height);
}

bool restoreBaseLayer(Canvas& canvas, const IntRect& area) {
    if (!canvas.pixels || canvas.basePixels.empty()) return false;
    const int32_t left = std::max(0, area.left);
    const int32_t right = std::min(canvas.width, area.right());
    if (right <= left) return true;
    for (int32_t y = std::max(0, area.top); y < std::min(canvas.height, area.bottom()); ++y) {
        const size_t row = static_cast<size_t>(y) * canvas.width;
        std::copy(canvas.basePixels.begin() + static_cast<std::ptrdiff_t>(row + left),
                  canvas.basePixels.begin() + static_cast<std::ptrdiff_t>(row + right),
                  canvas.pixels + row + left);
    }
    return true;
}

void presentBackBuffer(const Canvas& canvas, HDC target) {
    if (canvas.memoryDc && canvas.dibSection) {
        BitBlt(target, 0, 0, canvas.width, canvas.height, canvas.memoryDc.get(), 0, 0, SRCCOPY);
        return;
    }
    Gdiplus::Graphics screen(target);
    screen.DrawImage(canvas.backBuffer.get(), 0, 0, canvas.width, canvas.height);
}

void drawPicture(Gdiplus::Graphics& graphics, const SharedPicture& picture, int32_t x, int32_t y) {
    if (picture && picture->cached) graphics.DrawCachedBitmap(picture->cached.get(), x, y);
}

void drawButton(Gdiplus::Graphics& graphics, const ImageButton& button) {
    drawPicture(graphics, button.images[static_cast<size_t>(buttonLook(button))], button.left, button.top);
}

Gdiplus::RectF toRectF(const FloatRect& rect) { return {rect.x, rect.y, rect.width, rect.height}; }

Gdiplus::RectF toRectF(const IntRect& rect) { return toRectF(toFloat(rect)); }
