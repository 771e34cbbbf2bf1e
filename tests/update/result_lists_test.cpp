#include "update/result_lists.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "support/language_scope.h"
#include "support/wait_until.h"
#include "update/update_engine.h"

namespace {

FileManifest manifestWithFailures(int failures, int fine = 2) {
    FileManifest manifest;
    for (int i = 0; i < failures + fine; ++i) {
        ManifestEntry entry;
        entry.path = "Imgs/file" + std::to_string(i) + ".ff";
        // Failed entries are interleaved with good ones; only the failed ones are listed.
        entry.failed = i % 2 == 1 || i >= 2 * fine;
        if (entry.failed) entry.reason = L"reason " + std::to_wstring(i);
        manifest.push_back(entry);
    }
    return manifest;
}

// The texts are spelled out here rather than taken from the table, so a typo there shows.
TEST(FailureList, AlwaysThreeLinesAfterTheHeaderAndAnOverflowLineBeyondThree) {
    struct LanguageTexts {
        Language value;
        WString header;
        WString opener;
        WString overflowOpener;
        WString overflowCloser;
    };
    const LanguageTexts languages[] = {
        {Language::English, L"Could not update the following files:\n", L" (error: ", L"\n\n... and ",
         L" more."},
        {Language::Russian, L"Не удалось обновить следующие файлы:\n", L" (ошибка: ", L"\n\n... и еще ",
         L"."},
    };
    struct Case {
        int failures;
        std::vector<int> named;  // indexes of the named entries
        const wchar_t* blankLines;
        const wchar_t* overflow;  // the N of the overflow line, or nullptr
    };
    // Failed entries are interleaved with good ones (manifestWithFailures): 1, 3, 4, 5, ...
    const Case cases[] = {
        {0, {}, L"\n\n\n", nullptr},  {1, {1}, L"\n\n", nullptr}, {2, {1, 3}, L"\n", nullptr},
        {3, {1, 3, 4}, L"", nullptr}, {4, {1, 3, 4}, L"", L"1"},  {5, {1, 3, 4}, L"", L"2"},
        {40, {1, 3, 4}, L"", L"37"},
    };
    for (const LanguageTexts& language : languages) {
        LanguageScope scope(language.value);
        const WString header = localized(kUpdateFailuresHeader);
        ASSERT_EQ(header, language.header);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(static_cast<int>(language.value)) + "/" + std::to_string(c.failures));
            WString expected = language.header;
            for (int index : c.named) {
                expected += L"\nImgs/file" + std::to_wstring(index) + L".ff" + language.opener + L"reason " +
                            std::to_wstring(index) + L")";
            }
            expected += c.blankLines;
            if (c.overflow) expected += language.overflowOpener + c.overflow + language.overflowCloser;
            // Without failures: entries that did not fail, which are never listed.
            const FileManifest manifest =
                c.failures == 0 ? FileManifest(2) : manifestWithFailures(c.failures);
            EXPECT_EQ(buildFailureListText(manifest, header), expected);
        }
    }
}

// Stands in for the window thread: waits for the question, then answers it.
void answerWhenAsked(UpdateEngine& engine, bool continueAnyway, WString& seenText) {
    if (!waitUntil([&engine] { return engine.dialogPending.load(); }, 10000)) {
        ADD_FAILURE() << "no question within 10 s";
        return;
    }
    {
        std::lock_guard<std::mutex> guard(engine.lock);
        seenText = engine.dialogText;
    }
    if (continueAnyway) engine.dialogAnswer.exchange(true);
    engine.dialogPending.exchange(false);
}

TEST(FailureList, QuestionIsHandedToTheWindowAndItsAnswerReturned) {
    LanguageScope english(Language::English);
    const FileManifest manifest = manifestWithFailures(2);
    for (bool answer : {true, false}) {
        SCOPED_TRACE(answer);
        UpdateEngine engine;
        engine.dialogAnswer = !answer;  // a stale answer must not leak into this question
        WString seen;
        std::thread window(answerWhenAsked, std::ref(engine), answer, std::ref(seen));
        const bool result = presentFailureList(engine, manifest, localized(kCheckFailuresHeader));
        window.join();
        EXPECT_EQ(result, answer);
        EXPECT_EQ(seen, buildFailureListText(manifest, localized(kCheckFailuresHeader)));
    }
}

TEST(FailureList, CancelEndsTheWaitAndKeepsTheEarlierAnswer) {
    UpdateEngine engine;
    auto waiting = std::async(std::launch::async,
                              [&] { return presentFailureList(engine, manifestWithFailures(1), L"h"); });
    const bool asked = waitUntil([&engine] { return engine.dialogPending.load(); }, 10000);
    engine.stopRequested.exchange(true);
    ASSERT_TRUE(asked);
    // The poll interval is 100 ms; two seconds only guards against a wait that never ends, which is
    // then ended by an answer, so that the test fails instead of hanging in the future's destructor.
    const bool ended = waiting.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    if (!ended) engine.dialogPending.exchange(false);
    ASSERT_TRUE(ended);
    EXPECT_FALSE(waiting.get());

    // Already cancelled: nothing is asked, the answer of the earlier question stands.
    UpdateEngine cancelled;
    cancelled.stopRequested = true;
    cancelled.dialogAnswer = true;
    EXPECT_TRUE(presentFailureList(cancelled, manifestWithFailures(1), L"h"));
    EXPECT_FALSE(cancelled.dialogPending.load());
    EXPECT_TRUE(cancelled.dialogText.empty());
}

}  // namespace
