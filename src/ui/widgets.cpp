#include "ui/widgets.h"

#include <cstdlib>

void placeButton(ImageButton& button, const IntRect& rect, int32_t slack) {
    button.left = rect.left;
    button.top = rect.top;
    button.width = rect.width;
    button.height = rect.height;
    button.slack = slack;
}

bool hitTest(const ImageButton& button, int32_t x, int32_t y) {
    int64_t px = x;
    if (std::llabs(px - button.left) < button.slack) px = button.left;
    return px >= button.left && px < int64_t{button.left} + button.width && y >= button.top &&
           int64_t{y} < int64_t{button.top} + button.height;
}

bool buttonMouseMove(ImageButton& button, int32_t x, int32_t y) {
    if (button.disabled) return false;
    if (hitTest(button, x, y)) {
        if (button.hovered || button.pressed) return false;
        button.hovered = true;
        return true;
    }
    if (!button.hovered && !button.pressed) return false;
    button.hovered = false;
    button.pressed = false;
    return true;
}

bool buttonMouseDown(ImageButton& button, int32_t x, int32_t y) {
    if (button.disabled || button.pressed || !hitTest(button, x, y)) return false;
    button.pressed = true;
    return true;
}

bool buttonMouseUp(ImageButton& button, int32_t x, int32_t y) {
    if (button.disabled || !hitTest(button, x, y)) return false;
    button.hovered = true;
    button.pressed = false;
    button.clicked = true;
    return true;
}

bool buttonMouseReset(ImageButton& button) { return buttonMouseMove(button, -1, -1); }

bool takeClick(ImageButton& button) {
    if (!button.clicked) return false;
    button.clicked = false;
    button.hovered = false;
    return true;
}

bool setButtonEnabled(ImageButton& button, bool enabled) {
    if (button.disabled == !enabled) return false;
    button.disabled = !enabled;
    if (!enabled) {
        button.hovered = false;
        button.pressed = false;
        button.clicked = false;
    }
    return true;
}

ButtonLook buttonLook(const ImageButton& button) {
    if (button.disabled) return ButtonLook::Disabled;
    if (button.pressed) return ButtonLook::Pressed;
    if (button.hovered) return ButtonLook::Hovered;
    return ButtonLook::Normal;
}

void placeProgressBar(ProgressBar& bar, const IntRect& barRect, const IntRect& labelRect) {
    bar.bar = bar.ownBar = barRect;
    bar.label = bar.ownLabel = labelRect;
}

int32_t progressGlowReach(const IntRect& bar) { return bar.height / 4; }

IntRect progressBarDirtyRect(const ProgressBar& bar) {
    const int32_t reach = progressGlowReach(bar.bar);
    return unite(inflated(bar.bar, reach, reach), bar.label);
}
