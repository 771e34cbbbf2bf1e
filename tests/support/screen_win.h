#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The X screen as the window tests see it: screenshots kept as test artefacts, pixels compared with
// colours the test computes, and real mouse input through the X server (xdotool). Needs DISPLAY.

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
};
// Whether each channel of `a` lies within `tolerance` of `b`.
[[nodiscard]] bool closeTo(const Rgb& a, const Rgb& b, int tolerance);

// How far, per channel, a pixel read off the screen may lie from the colour the test computes for
// it: the background picture alone, a picture blended over it, and anti-aliased text drawn again
// by the test with the launcher's own drawing code, of which a small share of an area may differ
// by more (glyph edges).
inline constexpr int kBackgroundTolerance = 3;
inline constexpr int kPictureTolerance = 6;
inline constexpr int kTextTolerance = 40;
inline constexpr double kTextMismatchShare = 0.01;
[[nodiscard]] std::string describe(const Rgb& colour);
// What shows through the window's 0x4C000000 shade (the top strip, the rating panel).
[[nodiscard]] Rgb shaded(const Rgb& under);

// The screen position of a window's client origin.
[[nodiscard]] POINT clientOrigin(HWND window);

// The whole X screen, read back as pixels; kept as build/<preset>/test-run/screenshots/<test>-<name>.png.
class Screenshot {
public:
    [[nodiscard]] bool take(const std::string& name);
    [[nodiscard]] Rgb at(int x, int y) const;
    // Pixel at client coordinates of a window whose client area starts at `origin` on the screen.
    [[nodiscard]] Rgb atClient(POINT origin, int x, int y) const { return at(origin.x + x, origin.y + y); }

private:
    int w = 0;
    int h = 0;
    std::vector<uint8_t> rgb;
};

// Real mouse input at client coordinates of `window`, through the X server as a user's mouse would
// give it. Each returns whether xdotool ran. A drag presses at one point, moves there in steps and
// releases.
namespace mouse {
bool click(HWND window, int x, int y);
bool drag(HWND window, int fromX, int fromY, int toX, int toY);
}  // namespace mouse
