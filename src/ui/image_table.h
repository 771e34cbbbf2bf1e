#pragma once

#include <cstdint>

#include "ui/geometry.h"

// The pictures of the window: resources of type "PNG" under these ids, drawn for a window
// 1080 pixels high and scaled once at start-up. Labels are drawn by the program, never baked
// into a picture.

enum ImageId : int32_t {
    kImageBackground = 152,
    kImageCloseNormal = 156,
    kImageCloseHovered = 157,
    kImageClosePressed = 158,
    kImageMinimiseNormal = 159,
    kImageMinimiseHovered = 160,
    kImageMinimisePressed = 161,
    kImageGlow = 167,
    kImagePlayNormal = 168,
    kImagePlayHovered = 169,
    kImagePlayDisabled = 170,
    kImagePlayPressed = 171,
    kImageGearNormal = 172,
    kImageGearHovered = 173,
    kImageGearPressed = 174,
    kImageVerifyNormal = 175,
    kImageVerifyHovered = 176,
    kImageVerifyPressed = 177,
    kImageLinkNormal = 178,
    kImageLinkHovered = 179,
    kImageLinkPressed = 180,
    kImageContinueNormal = 181,
    kImageContinueHovered = 182,
    kImageContinuePressed = 183,
    kImageRetryNormal = 184,
    kImageRetryHovered = 185,
    kImageRetryPressed = 186,
    kImagePanelFrame = 187,
    kImagePanelFrameHovered = 188,
    kImageDivider = 189,
    kImageFolderNormal = 190,
    kImageFolderHovered = 191,
    kImageFolderPressed = 192,
    kImageLanguageNormal = 193,
    kImageLanguageHovered = 194,
    kImageLanguagePressed = 195,
};

// The window icon (large and small), a resource of type ICON.
inline constexpr int32_t kIconId = 200;

struct ImageSize {
    int32_t id;
    PixelSize size;  // as drawn, for a window 1080 pixels high
};

inline constexpr PixelSize kBackgroundSize{1920, 1080};
inline constexpr PixelSize kSmallButtonSize{60, 60};
inline constexpr PixelSize kPlayButtonSize{448, 252};
inline constexpr PixelSize kPanelFrameSize{680, 208};
inline constexpr PixelSize kDividerSize{1850, 337};
inline constexpr PixelSize kGlowSize{112, 112};

inline constexpr ImageSize kImageSizes[] = {
    {kImageBackground, kBackgroundSize},        {kImageCloseNormal, kSmallButtonSize},
    {kImageCloseHovered, kSmallButtonSize},     {kImageClosePressed, kSmallButtonSize},
    {kImageMinimiseNormal, kSmallButtonSize},   {kImageMinimiseHovered, kSmallButtonSize},
    {kImageMinimisePressed, kSmallButtonSize},  {kImageGlow, kGlowSize},
    {kImagePlayNormal, kPlayButtonSize},        {kImagePlayHovered, kPlayButtonSize},
    {kImagePlayDisabled, kPlayButtonSize},      {kImagePlayPressed, kPlayButtonSize},
    {kImageGearNormal, kSmallButtonSize},       {kImageGearHovered, kSmallButtonSize},
    {kImageGearPressed, kSmallButtonSize},      {kImageVerifyNormal, kSmallButtonSize},
    {kImageVerifyHovered, kSmallButtonSize},    {kImageVerifyPressed, kSmallButtonSize},
    {kImageLinkNormal, kSmallButtonSize},       {kImageLinkHovered, kSmallButtonSize},
    {kImageLinkPressed, kSmallButtonSize},      {kImageContinueNormal, kSmallButtonSize},
    {kImageContinueHovered, kSmallButtonSize},  {kImageContinuePressed, kSmallButtonSize},
    {kImageRetryNormal, kSmallButtonSize},      {kImageRetryHovered, kSmallButtonSize},
    {kImageRetryPressed, kSmallButtonSize},     {kImagePanelFrame, kPanelFrameSize},
    {kImagePanelFrameHovered, kPanelFrameSize}, {kImageDivider, kDividerSize},
    {kImageFolderNormal, kSmallButtonSize},     {kImageFolderHovered, kSmallButtonSize},
    {kImageFolderPressed, kSmallButtonSize},    {kImageLanguageNormal, kSmallButtonSize},
    {kImageLanguageHovered, kSmallButtonSize},  {kImageLanguagePressed, kSmallButtonSize},
};

// The four pictures of a button: normal, hovered, pressed, disabled.
struct ButtonImageIds {
    int32_t normal;
    int32_t hovered;
    int32_t pressed;
    int32_t disabled;
};

inline constexpr ButtonImageIds kCloseImages{156, 157, 158, 156};
inline constexpr ButtonImageIds kMinimiseImages{159, 160, 161, 159};
inline constexpr ButtonImageIds kGearImages{172, 173, 174, 174};
inline constexpr ButtonImageIds kLanguageImages{193, 194, 195, 193};
inline constexpr ButtonImageIds kPlayImages{168, 169, 171, 170};
inline constexpr ButtonImageIds kVerifyImages{175, 176, 177, 177};
inline constexpr ButtonImageIds kFolderImages{190, 191, 192, 190};
inline constexpr ButtonImageIds kLinkImages{178, 179, 180, 178};
inline constexpr ButtonImageIds kContinueImages{181, 182, 183, 183};
inline constexpr ButtonImageIds kRetryImages{184, 185, 186, 186};
// A news card is framed by the panel picture, lit while the mouse is over it.
inline constexpr ButtonImageIds kNewsCardImages{187, 188, 188, 187};
