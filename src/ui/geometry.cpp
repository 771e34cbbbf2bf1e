#include "ui/geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

bool overlaps(const IntRect& a, const IntRect& b) {
    if (a.empty() || b.empty()) return false;
    return a.left < b.right() && b.left < a.right() && a.top < b.bottom() && b.top < a.bottom();
}

bool insideOf(const IntRect& inner, const IntRect& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right() <= outer.right() &&
           inner.bottom() <= outer.bottom();
}

IntRect unite(const IntRect& a, const IntRect& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    const int32_t left = std::min(a.left, b.left);
    const int32_t top = std::min(a.top, b.top);
    return {left, top, std::max(a.right(), b.right()) - left, std::max(a.bottom(), b.bottom()) - top};
}

IntRect inflated(const IntRect& rect, int32_t dx, int32_t dy) {
    return {rect.left - dx, rect.top - dy, rect.width + 2 * dx, rect.height + 2 * dy};
}

FloatRect toFloat(const IntRect& rect) {
    return {static_cast<float>(rect.left), static_cast<float>(rect.top), static_cast<float>(rect.width),
            static_cast<float>(rect.height)};
}

IntRect enclosing(const FloatRect& rect) {
    const auto left = static_cast<int32_t>(std::floor(rect.x));
    const auto top = static_cast<int32_t>(std::floor(rect.y));
    const auto right = static_cast<int32_t>(std::ceil(rect.x + rect.width));
    const auto bottom = static_cast<int32_t>(std::ceil(rect.y + rect.height));
    return {left, top, right - left, bottom - top};
}

bool insidePolygon(const std::vector<FloatPoint>& polygon, float x, float y) {
    if (polygon.size() < 3) return false;
    bool inside = false;
    for (size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const FloatPoint& a = polygon[i];
        const FloatPoint& b = polygon[j];
        // Half-open in y, so a vertex on the ray is counted for one of its two edges only, and a
        // horizontal edge never divides by zero.
        if ((a.y > y) != (b.y > y)) {
            const float crossX = a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y);
            if (x < crossX) inside = !inside;
        }
    }
    return inside;
}

IntRect polygonBounds(const std::vector<FloatPoint>& polygon, int32_t margin) {
    if (polygon.empty()) return {};
    float minX = polygon[0].x, maxX = polygon[0].x, minY = polygon[0].y, maxY = polygon[0].y;
    for (const FloatPoint& p : polygon) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    return inflated(enclosing({minX, minY, maxX - minX, maxY - minY}), margin, margin);
}

namespace {

int32_t clampToInt(double value) {
    if (!(value > 1.0)) return 1;  // also NaN
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(value);
}

}  // namespace

PixelSize scaledPictureSize(PixelSize source, double scale) {
    if (source.width < 1 || source.height < 1) return {1, 1};
    return pictureSizeAtHeight(source, clampToInt(source.height * scale));
}

PixelSize pictureSizeAtHeight(PixelSize source, int32_t height) {
    if (source.width < 1 || source.height < 1) return {1, 1};
    height = std::max<int32_t>(1, height);
    const double width = static_cast<double>(height) * source.width / source.height;
    return {clampToInt(std::floor(width + 0.5)), height};
}

WindowGeometry computeWindowGeometry(int32_t screenWidth, int32_t screenHeight, int32_t reportedRefreshHz) {
    WindowGeometry geometry;
    geometry.refreshHz = reportedRefreshHz < 30 || reportedRefreshHz > 240 ? 60 : reportedRefreshHz;
    geometry.frameIntervalMs = 1000 / geometry.refreshHz;
    geometry.height = std::max<int32_t>(480, static_cast<int32_t>(screenHeight * 0.5));
    // 16:9 in whole numbers: the same width on every processor and build.
    geometry.width = geometry.height * 16 / 9;
    geometry.scale = static_cast<float>(geometry.height) / 1080.0f;
    // Truncation toward zero: an 800-pixel screen puts the 853-pixel window at -26.
    geometry.left = static_cast<int32_t>((screenWidth - geometry.width) * 0.5);
    geometry.top = static_cast<int32_t>((screenHeight - geometry.height) * 0.5);
    return geometry;
}
