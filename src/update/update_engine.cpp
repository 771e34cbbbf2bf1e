#include "update/update_engine.h"

#include "config/settings.h"

namespace {

constexpr TextPair kPreparing = {L"Preparing...", L"Подготовка..."};

}  // namespace

UpdateEngine::UpdateEngine() : statusText(localized(kPreparing)) {}

void setStatusText(UpdateEngine& engine, const WString& text) {
    std::lock_guard<std::mutex> guard(engine.lock);
    engine.statusText = text;
}

void setCurrentFile(UpdateEngine& engine, const WString& text) {
    std::lock_guard<std::mutex> guard(engine.lock);
    engine.currentFile = text;
}

WString copyStatusText(UpdateEngine& engine) {
    std::lock_guard<std::mutex> guard(engine.lock);
    return engine.statusText;
}

void publishOutcome(UpdateEngine& engine, int32_t state, const WString& text) {
    engine.state.exchange(state);
    setStatusText(engine, text);
}
