#include "update/update_engine.h"

#include <gtest/gtest.h>
#include <memory>
#include <thread>

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

TEST(UpdateEngine, SaturatingAddStopsAtTheLimitsAndLosesNothingAcrossThreads) {
    std::atomic<int32_t> number{INT32_MAX - 5};
    addSaturating(number, 10);
    EXPECT_EQ(number.load(), INT32_MAX);
    number = INT32_MIN + 1;
    addSaturating(number, -10);
    EXPECT_EQ(number.load(), INT32_MIN);
    EXPECT_EQ(sumSaturating(2147483647, 2147483647), INT32_MAX);
    EXPECT_EQ(sumSaturating(5, 7), 12);

    number = 0;
    std::thread other([&number] {
        for (int i = 0; i < 10000; ++i) addSaturating(number, 1);
    });
    for (int i = 0; i < 10000; ++i) addSaturating(number, 2);
    other.join();
    EXPECT_EQ(number.load(), 30000);
}

}  // namespace
