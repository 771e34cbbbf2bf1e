// The launcher's pictures loaded and scaled in this process, from the resources it links.
#include "ui/pictures_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/exe_pictures_win.h"
#include "ui/image_table.h"
#include "ui/picture_halving.h"

namespace {

uint32_t argbAt(Gdiplus::Bitmap& bitmap, int x, int y) {
    Gdiplus::Color colour;
    bitmap.GetPixel(x, y, &colour);
    return colour.GetValue();
}

TEST(Pictures, TheBackgroundIsScaledExactlyAtHalfAndFullSizeAndEverythingElseByTheFilter) {
    startGdiplusOnce();
    const DecodedPng background = loadPngResource(GetModuleHandleW(nullptr), kImageBackground);
    ASSERT_NE(background.bitmap, nullptr);
    Gdiplus::Bitmap& source = *background.bitmap;
    const int w = static_cast<int>(source.GetWidth()) / 2;
    const int h = static_cast<int>(source.GetHeight()) / 2;
    const auto half = resizedBitmap(source, {w, h});
    const auto same = resizedBitmap(source, {2 * w, 2 * h});
    ASSERT_TRUE(half && same);
    ASSERT_EQ(static_cast<int>(half->GetWidth()), w);
    ASSERT_EQ(static_cast<int>(half->GetHeight()), h);
    // Every 7th row and column, and every one near the edges.
    auto next = [](int i, int end) { return i == 0 || i + 7 >= end ? i + 1 : i + 7; };
    for (int y = 0; y < h; y = next(y, h)) {
        for (int x = 0; x < w; x = next(x, w)) {
            const uint32_t mean =
                meanOfFour(argbAt(source, 2 * x, 2 * y), argbAt(source, 2 * x + 1, 2 * y),
                           argbAt(source, 2 * x, 2 * y + 1), argbAt(source, 2 * x + 1, 2 * y + 1));
            ASSERT_EQ(argbAt(*half, x, y), mean) << "at " << x << "," << y;
            ASSERT_EQ(argbAt(*same, 2 * x + 1, 2 * y + 1), argbAt(source, 2 * x + 1, 2 * y + 1));
        }
    }
    // No exact method at two thirds; none for a picture with transparency (a button at half size).
    const DecodedPng close = loadPngResource(GetModuleHandleW(nullptr), kImageCloseNormal);
    ASSERT_NE(close.bitmap, nullptr);
    for (const auto& [picture, size] :
         {std::pair{&source, PixelSize{4 * w / 3, 4 * h / 3}}, {close.bitmap.get(), PixelSize{30, 30}}}) {
        const auto filtered = filteredBitmap(*picture, size);
        const auto resized = resizedBitmap(*picture, size);
        ASSERT_TRUE(filtered && resized);
        for (const auto& [x, y] : {std::pair{0, 0}, {size.width / 2, size.height / 2}, {size.width - 1, 3}})
            EXPECT_EQ(argbAt(*resized, x, y), argbAt(*filtered, x, y)) << "at " << x << "," << y;
    }
}

TEST(Pictures, APictureAheadIsScaledOnItsThreadOrGivenUpWithoutWaiting) {
    startGdiplusOnce();
    const HMODULE module = GetModuleHandleW(nullptr);
    {
        PictureAhead background(module, kImageBackground);
        DWORD followUpThread = 0;
        SharedPicture handedOver;
        background.scaleTo(540, [&](const SharedPicture& picture) {
            followUpThread = GetCurrentThreadId();
            handedOver = picture;
        });
        const SharedPicture picture = background.picture();
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->size.width, 960);
        EXPECT_EQ(picture->size.height, 540);
        EXPECT_EQ(handedOver, picture);
        EXPECT_NE(followUpThread, GetCurrentThreadId());
    }
    {
        // A start that fails before the window's size is known leaves it unscaled: this must return.
        PictureAhead givenUp(module, kImageBackground);
    }
    PictureAhead missing(module, 9999);
    bool followedUp = false;
    missing.scaleTo(540, [&](const SharedPicture& picture) { followedUp = picture == nullptr; });
    EXPECT_EQ(missing.picture(), nullptr);
    EXPECT_TRUE(followedUp) << "the follow-up runs for a missing picture too";
}

}  // namespace
