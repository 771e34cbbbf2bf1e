#include "support/screen_win.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

#include "support/test_env_win.h"

namespace {

std::string testName() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "outside-test";
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    return name;
}

bool xdotool(const std::string& arguments) { return runUnixShell("xdotool " + arguments, 15000) == 0; }

std::string screenPoint(HWND window, int x, int y) {
    const POINT origin = clientOrigin(window);
    return std::to_string(origin.x + x) + " " + std::to_string(origin.y + y);
}

}  // namespace

bool closeTo(const Rgb& a, const Rgb& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

std::string describe(const Rgb& colour) {
    char text[32];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", colour.r, colour.g, colour.b);
    return text;
}

Rgb shaded(const Rgb& under) {
    const double keep = 1 - 0x4C / 255.0;
    return {static_cast<int>(under.r * keep + 0.5), static_cast<int>(under.g * keep + 0.5),
            static_cast<int>(under.b * keep + 0.5)};
}

bool Screenshot::take(const std::string& name) {
    const std::string folder = std::string(VARNHOLD_BINARY_DIR) + "/test-run/screenshots";
    const std::string png = folder + "/" + testName() + "-" + name + ".png";
    const std::string ppm = folder + "/" + testName() + "-" + name + ".ppm";
    const int status =
        runUnixShell("mkdir -p " + shellQuote(folder) + " && import -window root -depth 8 " +
                         shellQuote(png) + " && convert " + shellQuote(png) + " " + shellQuote(ppm),
                     30000);
    if (status != 0) return false;
    const auto bytes = readFileBytes(winePathFromUnix(ppm));
    DeleteFileW(winePathFromUnix(ppm).c_str());
    if (!bytes) return false;
    // Binary PPM: "P6", width, height, maximum value, one whitespace, then RGB bytes.
    int fields[3] = {};
    size_t at = 2;
    if (bytes->compare(0, 2, "P6") != 0) return false;
    for (int& field : fields) {
        while (at < bytes->size() && std::isspace(static_cast<unsigned char>((*bytes)[at]))) ++at;
        while (at < bytes->size() && std::isdigit(static_cast<unsigned char>((*bytes)[at]))) {
            field = field * 10 + ((*bytes)[at++] - '0');
        }
    }
    ++at;
    w = fields[0];
    h = fields[1];
    if (fields[2] != 255 || bytes->size() < at + static_cast<size_t>(w) * h * 3) return false;
    rgb.assign(bytes->begin() + static_cast<std::ptrdiff_t>(at), bytes->end());
    return true;
}

Rgb Screenshot::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= w || y >= h) return {-1, -1, -1};
    const size_t i = (static_cast<size_t>(y) * w + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

POINT clientOrigin(HWND window) {
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    return origin;
}

namespace mouse {

bool click(HWND window, int x, int y) {
    return xdotool("mousemove " + screenPoint(window, x, y) + " sleep 0.05 click 1");
}

bool drag(HWND window, int fromX, int fromY, int toX, int toY) {
    std::string steps = "mousemove " + screenPoint(window, fromX, fromY) + " sleep 0.05 mousedown 1";
    for (int i = 1; i <= 5; ++i) {
        steps += " sleep 0.05 mousemove " +
                 screenPoint(window, fromX + (toX - fromX) * i / 5, fromY + (toY - fromY) * i / 5);
    }
    return xdotool(steps + " sleep 0.05 mouseup 1");
}

}  // namespace mouse
