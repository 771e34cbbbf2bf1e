#include "update/update_engine.h"

#include <gtest/gtest.h>
#include <memory>

#include "config/settings.h"
#include "support/language_scope.h"

namespace {

TEST(UpdateEngine, StartsIdleWithNewsWantedAndPreparingInTheCurrentLanguage) {
    auto engineIn = [](Language language) {
        LanguageScope scope(language);
        return std::make_unique<UpdateEngine>();
    };
    const auto englishEngine = engineIn(Language::English);
    const auto russianEngine = engineIn(Language::Russian);
    UpdateEngine& english = *englishEngine;
    UpdateEngine& russian = *russianEngine;

    EXPECT_EQ(copyStatusText(english), L"Preparing...");
    EXPECT_EQ(copyStatusText(russian), L"Подготовка...");
    EXPECT_TRUE(english.fetchNews);
    EXPECT_EQ(english.state.load(), kStateCreated);
    const EngineTexts texts = copyEngineTexts(english);
    EXPECT_TRUE(texts.currentFile.empty() && texts.launcherUpdateText.empty() && texts.newsText.empty() &&
                texts.dialogText.empty() && texts.displayVersion.empty());
}

TEST(UpdateEngine, PublishOutcomeSetsStateAndText) {
    UpdateEngine engine;
    publishOutcome(engine, kStateFinished, L"done");
    EXPECT_EQ(engine.state.load(), kStateFinished);
    EXPECT_EQ(copyEngineTexts(engine).statusText, L"done");
}

}  // namespace
