#include "update/update_engine.h"

#include "config/settings.h"

namespace {

constexpr TextPair kPreparing = {L"Preparing...", L"Подготовка..."};

}  // namespace

UpdateEngine::UpdateEngine() : statusText(localized(kPreparing)) {}

EngineTexts copyEngineTexts(UpdateEngine& engine) {
    std::lock_guard<std::mutex> guard(engine.lock);
    return EngineTexts{engine.statusText, engine.currentFile, engine.launcherUpdateText,
                       engine.dialogText, engine.newsText,    engine.displayVersion};
}

void setStatusText(UpdateEngine& engine, const WString& text) {
    std::lock_guard<std::mutex> guard(engine.lock);
    engine.statusText = text;
}

void setCurrentFile(UpdateEngine& engine, const WString& text) {
    std::lock_guard<std::mutex> guard(engine.lock);
    engine.currentFile = text;
}

void setLauncherUpdateText(UpdateEngine& engine, const WString& text) {
    std::lock_guard<std::mutex> guard(engine.lock);
    engine.launcherUpdateText = text;
}

WString copyStatusText(UpdateEngine& engine) {
    std::lock_guard<std::mutex> guard(engine.lock);
    return engine.statusText;
}

WString copyCurrentFile(UpdateEngine& engine) {
    std::lock_guard<std::mutex> guard(engine.lock);
    return engine.currentFile;
}

WString copyNewsText(UpdateEngine& engine) {
    std::lock_guard<std::mutex> guard(engine.lock);
    return engine.newsText;
}

WString copyDialogText(UpdateEngine& engine) {
    std::lock_guard<std::mutex> guard(engine.lock);
    return engine.dialogText;
}

std::string copyDisplayVersion(UpdateEngine& engine) {
    std::lock_guard<std::mutex> guard(engine.lock);
    return engine.displayVersion;
}

void publishOutcome(UpdateEngine& engine, int32_t state, const WString& text) {
    engine.state.exchange(state);
    setStatusText(engine, text);
}
