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
    // Every text lands in its own field of the copy.
    engine.currentFile = L"file";
    engine.launcherUpdateText = L"launcher";
    engine.dialogText = L"question";
    engine.newsText = L"news";
    engine.displayVersion = "1.44";
    const EngineTexts texts = copyEngineTexts(engine);
    EXPECT_EQ(texts.statusText + L"|" + texts.currentFile + L"|" + texts.launcherUpdateText + L"|" +
                  texts.dialogText + L"|" + texts.newsText,
              L"done|file|launcher|question|news");
    EXPECT_EQ(texts.displayVersion, "1.44");
    EXPECT_EQ(copyDialogText(engine), L"question");
}

}  // namespace
