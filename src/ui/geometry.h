#pragma once

#include <cstdint>
#include <vector>

// Plain geometry of the launcher window: rectangles and points in client pixels, the window's
// place on the screen, picture scaling and the point-in-polygon test of the gear panel. No
// Windows header: the host build checks all of it under the sanitizers.

struct IntRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;

    [[nodiscard]] constexpr int32_t right() const { return left + width; }
    [[nodiscard]] constexpr int32_t bottom() const { return top + height; }
    [[nodiscard]] constexpr bool empty() const { return width <= 0 || height <= 0; }
    // Left and top edges inside, right and bottom edges outside.
    [[nodiscard]] constexpr bool contains(int32_t x, int32_t y) const {
        return x >= left && x < right() && y >= top && y < bottom();
    }
};

[[nodiscard]] constexpr bool operator==(const IntRect& a, const IntRect& b) {
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

// Whether two rectangles share at least one pixel.
[[nodiscard]] bool overlaps(const IntRect& a, const IntRect& b);
// Whether `inner` lies wholly inside `outer`.
[[nodiscard]] bool insideOf(const IntRect& inner, const IntRect& outer);
// The smallest rectangle holding both (an empty rectangle counts as nothing).
[[nodiscard]] IntRect unite(const IntRect& a, const IntRect& b);
// Grown by `dx` on the left and right and `dy` on the top and bottom.
[[nodiscard]] IntRect inflated(const IntRect& rect, int32_t dx, int32_t dy);

struct FloatPoint {
    float x = 0;
    float y = 0;
};

struct FloatRect {
    float x = 0;
    float y = 0;
    float width = 0;
    float height = 0;

    // Left and top edges inside, right and bottom edges outside.
    [[nodiscard]] bool contains(float px, float py) const {
        return px >= x && px < x + width && py >= y && py < y + height;
    }
};

[[nodiscard]] FloatRect toFloat(const IntRect& rect);
// The whole pixels a float rectangle touches.
[[nodiscard]] IntRect enclosing(const FloatRect& rect);

// Even-odd ray casting: a horizontal ray from the point to the right crosses the polygon's edges
// an odd number of times exactly when the point is inside. Fewer than three points hold nothing.
[[nodiscard]] bool insidePolygon(const std::vector<FloatPoint>& polygon, float x, float y);
// The pixels a polygon covers, grown by `margin` on every side (for the outline's pen).
[[nodiscard]] IntRect polygonBounds(const std::vector<FloatPoint>& polygon, int32_t margin);

struct PixelSize {
    int32_t width = 0;
    int32_t height = 0;
};

// A picture of `source` size drawn at `scale`: the height scaled and truncated, the width then
// taken from the picture's own proportions, so a wide picture keeps its shape even where the
// scaled width and height would round differently. Never below 1 x 1, whatever the scale.
[[nodiscard]] PixelSize scaledPictureSize(PixelSize source, double scale);
// A picture drawn `height` pixels high in its own proportions (at least 1 x 1).
[[nodiscard]] PixelSize pictureSizeAtHeight(PixelSize source, int32_t height);

// The window's place and size, fixed at start-up from the primary display.
struct WindowGeometry {
    int32_t refreshHz = 60;
    int32_t frameIntervalMs = 16;
    int32_t width = 0;
    int32_t height = 0;
    int32_t left = 0;
    int32_t top = 0;
    float scale = 1.0f;  // window height / 1080: the artwork is drawn for a 1080-pixel-high window
};

// Half the screen height (at least 480), 16:9, centred; a window wider than a small screen starts
// left of it. A refresh rate outside 30 to 240 Hz (drivers report 0 or 1) counts as 60 Hz.
[[nodiscard]] WindowGeometry computeWindowGeometry(int32_t screenWidth, int32_t screenHeight,
                                                   int32_t reportedRefreshHz);
