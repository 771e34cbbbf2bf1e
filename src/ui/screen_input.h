#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "config/branch_table.h"
#include "ui/geometry.h"
#include "ui/layout.h"
#include "ui/rating_panel.h"
#include "ui/widgets.h"

// The mouse side of the window: which buttons take input on which screen, what a move, press or
// release does to them, and the few direct actions of the window procedure (dragging, closing the
// gear panel by a click outside it, the rating tabs and link). Everything a click means happens
// later in the tick. Window thread only; no Windows header, so the routing is tested natively.

struct ScreenButtons {
    ImageButton close;
    ImageButton gear;
    ImageButton minimise;
    ImageButton language;
    std::array<ImageButton, 2> mainLinks;  // client download pages, one per branch
    std::array<ImageButton, kBranchCount> play;
    std::array<ImageButton, 3> news;
    ImageButton verify;
    std::array<ImageButton, kBranchCount> folders;
    std::array<ImageButton, 2> gearLinks;
    ImageButton continueAnyway;
    ImageButton tryAgain;
    ImageButton tryAgainAdmin;
};

struct InputState {
    bool gearPanelOpen = false;
    // The in-window question of a run covers the screen; only its answers take input.
    bool questionOpen = false;
    int32_t ratingTab = kDefaultDifficulty;
    std::array<FloatRect, 4> ratingTabs;
    FloatRect ratingLink;
    std::vector<FloatPoint> gearOutline;
    int32_t titleStripHeight = 0;
};

// Puts every button at its place in the layout (the continue-anyway answer with its slack) and
// gives the input state the layout's title strip, gear outline and rating rectangles.
void placeScreenButtons(ScreenButtons& buttons, const ScreenLayout& layout);
void applyLayoutToInput(InputState& state, const ScreenLayout& layout);

enum class ButtonGroup { TopBar, MainLinks, Play, News, GearPanel, Question };

[[nodiscard]] std::vector<ImageButton*> groupButtons(ScreenButtons& buttons, ButtonGroup group);
// Every button that takes input in this state.
[[nodiscard]] std::vector<ImageButton*> buttonsTakingInput(ScreenButtons& buttons, const InputState& state);
// Every button of every group.
[[nodiscard]] std::vector<ImageButton*> allButtons(ScreenButtons& buttons);

// What the window must repaint after an input event.
struct Repaint {
    bool wholeWindow = false;
    std::vector<IntRect> rects;

    void add(const IntRect& rect) { rects.push_back(rect); }
    [[nodiscard]] bool any() const { return wholeWindow || !rects.empty(); }
};

struct MouseDownOutcome {
    bool dragWindow = false;  // hand the press to the system as a caption press
    Repaint repaint;
};

struct MouseUpOutcome {
    bool openRatingPage = false;
    Repaint repaint;
};

// `windowWidth` bounds the drag area while the question is open; otherwise the drag area ends at
// the language button.
[[nodiscard]] MouseDownOutcome routeMouseDown(ScreenButtons& buttons, const InputState& state, int32_t x,
                                              int32_t y, int32_t windowWidth);
[[nodiscard]] MouseUpOutcome routeMouseUp(ScreenButtons& buttons, InputState& state, int32_t x, int32_t y);
[[nodiscard]] Repaint routeMouseMove(ScreenButtons& buttons, const InputState& state, int32_t x, int32_t y);
// Hovered and pressed cleared on every button taking input (the mouse has left the window).
[[nodiscard]] Repaint resetButtonsTakingInput(ScreenButtons& buttons, const InputState& state);
// Forgets the clicks recorded on every button but the question's answers: a click made just before
// the question opened must not act once it has been answered.
void dropClicksOutsideQuestion(ScreenButtons& buttons);

// A point in window coordinates (the window has no frame: its client area is the whole window).
struct WindowPoint {
    int32_t x = 0;
    int32_t y = 0;
};
// A message's mouse position as GetMessagePos packs it, x in the low and y in the high 16 bits,
// each signed (a monitor left of or above the primary one gives negative coordinates), taken
// relative to the window's top-left corner on the screen.
[[nodiscard]] WindowPoint windowPointOfMessage(uint32_t messagePosition, int32_t windowLeft,
                                               int32_t windowTop);

enum class CursorShape { Arrow, Hand };
[[nodiscard]] CursorShape cursorShape(const ScreenButtons& buttons, const InputState& state, int32_t x,
                                      int32_t y);
// The same for the cursor at a screen position, with the window's top-left corner there.
[[nodiscard]] CursorShape cursorShapeAtScreen(const ScreenButtons& buttons, const InputState& state,
                                              int32_t screenX, int32_t screenY, int32_t windowLeft,
                                              int32_t windowTop);
