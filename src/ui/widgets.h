#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "base/wstring.h"
#include "ui/geometry.h"

// A decoded picture ready to blit; defined by the drawing code, opaque to the input logic.
struct Picture;
using SharedPicture = std::shared_ptr<const Picture>;

// Every clickable picture in the window. The window procedure records the mouse on it; the tick
// consumes the click on the window thread.
struct ImageButton {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    // Horizontal tolerance: an x whose distance from the left edge is below it counts as the left
    // edge. 0 except for the continue-anyway answer, whose caption lies left of its arrow.
    int32_t slack = 0;
    bool hovered = false;
    bool pressed = false;
    bool clicked = false;
    bool disabled = false;
    // Normal, hovered, pressed, disabled; shared with every other button showing the same picture.
    std::array<SharedPicture, 4> images;

    [[nodiscard]] IntRect rect() const { return {left, top, width, height}; }
};

enum class ButtonLook : int32_t { Normal = 0, Hovered = 1, Pressed = 2, Disabled = 3 };

void placeButton(ImageButton& button, const IntRect& rect, int32_t slack = 0);

// left <= x < left + width and top <= y < top + height, after x has been taken as left when the
// slack exceeds its distance from left.
[[nodiscard]] bool hitTest(const ImageButton& button, int32_t x, int32_t y);

// The mouse operations. Each returns whether the button's look changed, so the caller invalidates
// its rectangle; each does nothing on a disabled button.
bool buttonMouseMove(ImageButton& button, int32_t x, int32_t y);
bool buttonMouseDown(ImageButton& button, int32_t x, int32_t y);
// A release on the button is a click even when the press began elsewhere.
bool buttonMouseUp(ImageButton& button, int32_t x, int32_t y);
// A move to (-1, -1): hovered and pressed cleared.
bool buttonMouseReset(ImageButton& button);

// Takes a recorded click: clears clicked and hovered and tells whether there was one.
[[nodiscard]] bool takeClick(ImageButton& button);

// Enables or disables the button; a disabled button also forgets hover and press, so it comes
// back in its normal look. Returns whether anything changed.
bool setButtonEnabled(ImageButton& button, bool enabled);

// Disabled, else pressed, else hovered, else normal.
[[nodiscard]] ButtonLook buttonLook(const ImageButton& button);

// One of the two bars of the progress area: the current file and the whole run.
struct ProgressBar {
    IntRect bar;
    IntRect label;  // the text above the bar
    // The bar's own place, kept while the single-bar mode lends it the other bar's place.
    IntRect ownBar;
    IntRect ownLabel;
    WString labelText;
    int32_t value = 0;
    int32_t maximum = 0;
    bool visible = false;
};

// Places a bar and remembers the place as its own.
void placeProgressBar(ProgressBar& bar, const IntRect& barRect, const IntRect& labelRect);

// How far the glowing head at the end of a bar's fill is drawn past the bar: a quarter of its height.
[[nodiscard]] int32_t progressGlowReach(const IntRect& bar);

// What a repaint of the bar touches: the bar widened on every side as far as its glow reaches,
// together with its label.
[[nodiscard]] IntRect progressBarDirtyRect(const ProgressBar& bar);
