#include "ui/screen_input.h"

namespace {

template <size_t N>
void append(std::vector<ImageButton*>& list, std::array<ImageButton, N>& buttons) {
    for (ImageButton& button : buttons) list.push_back(&button);
}

std::vector<ImageButton*> mainScreenButtons(ScreenButtons& buttons) {
    std::vector<ImageButton*> list;
    for (ButtonGroup group :
         {ButtonGroup::TopBar, ButtonGroup::MainLinks, ButtonGroup::Play, ButtonGroup::News}) {
        for (ImageButton* button : groupButtons(buttons, group)) list.push_back(button);
    }
    return list;
}

template <typename Operation>
void apply(const std::vector<ImageButton*>& list, Repaint& repaint, Operation operation) {
    for (ImageButton* button : list) {
        if (operation(*button)) repaint.add(button->rect());
    }
}

}  // namespace

void placeScreenButtons(ScreenButtons& buttons, const ScreenLayout& layout) {
    placeButton(buttons.close, layout.closeButton);
    placeButton(buttons.gear, layout.gearButton);
    placeButton(buttons.minimise, layout.minimiseButton);
    placeButton(buttons.language, layout.languageButton);
    for (size_t i = 0; i < buttons.mainLinks.size(); ++i)
        placeButton(buttons.mainLinks[i], layout.mainLinks[i]);
    for (size_t i = 0; i < buttons.play.size(); ++i) placeButton(buttons.play[i], layout.play[i]);
    for (size_t i = 0; i < buttons.news.size(); ++i) placeButton(buttons.news[i], layout.news[i]);
    placeButton(buttons.verify, layout.verifyButton);
    for (size_t i = 0; i < buttons.folders.size(); ++i)
        placeButton(buttons.folders[i], layout.folderButtons[i]);
    for (size_t i = 0; i < buttons.gearLinks.size(); ++i)
        placeButton(buttons.gearLinks[i], layout.gearLinks[i]);
    placeButton(buttons.continueAnyway, layout.continueAnyway, layout.continueSlack);
    placeButton(buttons.tryAgain, layout.tryAgain);
    placeButton(buttons.tryAgainAdmin, layout.tryAgainAdmin);
}

void applyLayoutToInput(InputState& state, const ScreenLayout& layout) {
    state.titleStripHeight = layout.strip;
    state.gearOutline = layout.gearOutline;
    state.ratingTabs = layout.rating.tabs;
    state.ratingLink = layout.rating.footer;
}

std::vector<ImageButton*> groupButtons(ScreenButtons& buttons, ButtonGroup group) {
    std::vector<ImageButton*> list;
    switch (group) {
        case ButtonGroup::TopBar:
            list = {&buttons.close, &buttons.gear, &buttons.minimise, &buttons.language};
            break;
        case ButtonGroup::MainLinks:
            append(list, buttons.mainLinks);
            break;
        case ButtonGroup::Play:
            append(list, buttons.play);
            break;
        case ButtonGroup::News:
            append(list, buttons.news);
            break;
        case ButtonGroup::GearPanel:
            list.push_back(&buttons.verify);
            append(list, buttons.folders);
            append(list, buttons.gearLinks);
            break;
        case ButtonGroup::Question:
            list = {&buttons.continueAnyway, &buttons.tryAgain, &buttons.tryAgainAdmin};
            break;
    }
    return list;
}

std::vector<ImageButton*> buttonsTakingInput(ScreenButtons& buttons, const InputState& state) {
    if (state.questionOpen) return groupButtons(buttons, ButtonGroup::Question);
    std::vector<ImageButton*> list = mainScreenButtons(buttons);
    if (state.gearPanelOpen) {
        for (ImageButton* button : groupButtons(buttons, ButtonGroup::GearPanel)) list.push_back(button);
    }
    return list;
}

std::vector<ImageButton*> allButtons(ScreenButtons& buttons) {
    std::vector<ImageButton*> list = mainScreenButtons(buttons);
    for (ButtonGroup group : {ButtonGroup::GearPanel, ButtonGroup::Question}) {
        for (ImageButton* button : groupButtons(buttons, group)) list.push_back(button);
    }
    return list;
}

MouseDownOutcome routeMouseDown(ScreenButtons& buttons, const InputState& state, int32_t x, int32_t y,
                                int32_t windowWidth) {
    MouseDownOutcome outcome;
    const bool onLink = hitTest(buttons.mainLinks[0], x, y) || hitTest(buttons.mainLinks[1], x, y);
    const int32_t dragLimit = state.questionOpen ? windowWidth : buttons.language.left;
    if (y >= 0 && y < state.titleStripHeight && !onLink && x < dragLimit) outcome.dragWindow = true;
    apply(buttonsTakingInput(buttons, state), outcome.repaint,
          [&](ImageButton& button) { return buttonMouseDown(button, x, y); });
    return outcome;
}

MouseUpOutcome routeMouseUp(ScreenButtons& buttons, InputState& state, int32_t x, int32_t y) {
    MouseUpOutcome outcome;
    auto up = [&](ImageButton& button) { return buttonMouseUp(button, x, y); };
    if (state.questionOpen) {
        apply(groupButtons(buttons, ButtonGroup::Question), outcome.repaint, up);
        return outcome;
    }
    const bool gearClickedBefore = buttons.gear.clicked;
    apply(mainScreenButtons(buttons), outcome.repaint, up);
    const bool gearClickedNow = buttons.gear.clicked && !gearClickedBefore;
    if (!gearClickedNow && state.gearPanelOpen &&
        !insidePolygon(state.gearOutline, static_cast<float>(x), static_cast<float>(y))) {
        state.gearPanelOpen = false;
        outcome.repaint.wholeWindow = true;
    }
    if (state.gearPanelOpen) {
        apply(groupButtons(buttons, ButtonGroup::GearPanel), outcome.repaint, up);
        return outcome;
    }
    const float fx = static_cast<float>(x);
    const float fy = static_cast<float>(y);
    for (int32_t tab = 0; tab < 4; ++tab) {
        if (!state.ratingTabs[static_cast<size_t>(tab)].contains(fx, fy)) continue;
        if (state.ratingTab != tab) {
            state.ratingTab = tab;
            outcome.repaint.wholeWindow = true;
        }
        return outcome;
    }
    if (state.ratingLink.contains(fx, fy)) outcome.openRatingPage = true;
    return outcome;
}

Repaint routeMouseMove(ScreenButtons& buttons, const InputState& state, int32_t x, int32_t y) {
    Repaint repaint;
    apply(buttonsTakingInput(buttons, state), repaint,
          [&](ImageButton& button) { return buttonMouseMove(button, x, y); });
    return repaint;
}

Repaint resetButtonsTakingInput(ScreenButtons& buttons, const InputState& state) {
    Repaint repaint;
    apply(buttonsTakingInput(buttons, state), repaint,
          [](ImageButton& button) { return buttonMouseReset(button); });
    return repaint;
}

void dropClicksOutsideQuestion(ScreenButtons& buttons) {
    for (ImageButton* button : mainScreenButtons(buttons)) button->clicked = false;
    for (ImageButton* button : groupButtons(buttons, ButtonGroup::GearPanel)) button->clicked = false;
}

WindowPoint windowPointOfMessage(uint32_t messagePosition, int32_t windowLeft, int32_t windowTop) {
    const auto screenX = static_cast<int16_t>(messagePosition & 0xFFFF);
    const auto screenY = static_cast<int16_t>(messagePosition >> 16);
    return {screenX - windowLeft, screenY - windowTop};
}

CursorShape cursorShapeAtScreen(const ScreenButtons& buttons, const InputState& state, int32_t screenX,
                                int32_t screenY, int32_t windowLeft, int32_t windowTop) {
    return cursorShape(buttons, state, screenX - windowLeft, screenY - windowTop);
}

CursorShape cursorShape(const ScreenButtons& buttons, const InputState& state, int32_t x, int32_t y) {
    if (state.questionOpen) return CursorShape::Arrow;
    for (const ImageButton& button : buttons.mainLinks) {
        if (button.hovered) return CursorShape::Hand;
    }
    for (const ImageButton& button : buttons.news) {
        if (button.hovered) return CursorShape::Hand;
    }
    if (state.gearPanelOpen) {
        for (const ImageButton& button : buttons.gearLinks) {
            if (button.hovered) return CursorShape::Hand;
        }
        return CursorShape::Arrow;
    }
    const float fx = static_cast<float>(x);
    const float fy = static_cast<float>(y);
    if (state.ratingLink.contains(fx, fy)) return CursorShape::Hand;
    for (const FloatRect& tab : state.ratingTabs) {
        if (tab.contains(fx, fy)) return CursorShape::Hand;
    }
    return CursorShape::Arrow;
}
