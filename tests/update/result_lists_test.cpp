#include "update/result_lists.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>

#include "update/update_engine.h"

namespace {

class LanguageScope {
public:
    explicit LanguageScope(int language) : saved(appSettings().language.exchange(language)) {}
    ~LanguageScope() { appSettings().language.exchange(saved); }

private:
    int saved;
};

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

TEST(FailureList, AlwaysThreeLinesAfterTheHeaderAndAnOverflowLineBeyondThree) {
    LanguageScope english(1);
    const WString header = localized(kUpdateFailuresHeader);
    EXPECT_EQ(buildFailureListText({}, header), header + L"\n\n\n");
    EXPECT_EQ(buildFailureListText(manifestWithFailures(1), header),
              header + L"\nImgs/file1.ff (error: reason 1)\n\n");
    EXPECT_EQ(buildFailureListText(manifestWithFailures(3), header),
              header + L"\nImgs/file1.ff (error: reason 1)\nImgs/file3.ff (error: reason 3)" +
                  L"\nImgs/file4.ff (error: reason 4)");
    EXPECT_EQ(buildFailureListText(manifestWithFailures(4), header),
              header + L"\nImgs/file1.ff (error: reason 1)\nImgs/file3.ff (error: reason 3)" +
                  L"\nImgs/file4.ff (error: reason 4)\n\n... and 1 more.");
    const WString five = buildFailureListText(manifestWithFailures(5), header);
    EXPECT_EQ(five.substr(five.size() - 18), L")\n\n... and 2 more.");
}

TEST(FailureList, RussianTextEndsWithTheNumberAndAFullStop) {
    LanguageScope russian(0);
    FileManifest manifest = manifestWithFailures(5, 0);
    manifest[0].path = "Scripts/\xD0\xB1\xD0\xBE\xD0\xB9.lua";  // UTF-8 name
    const WString text = buildFailureListText(manifest, localized(kCheckFailuresHeader));
    EXPECT_EQ(text, WString(L"Не удалось проверить следующие файлы:\n") +
                        L"\nScripts/бой.lua (ошибка: reason 0)" +
                        L"\nImgs/file1.ff (ошибка: reason 1)\nImgs/file2.ff (ошибка: reason 2)" +
                        L"\n\n... и еще 2.");
}

// Stands in for the window thread: waits for the question, then answers it.
void answerWhenAsked(UpdateEngine& engine, bool continueAnyway, WString& seenText) {
    while (!engine.dialogPending.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    {
        std::lock_guard<std::mutex> guard(engine.lock);
        seenText = engine.dialogText;
    }
    if (continueAnyway) engine.dialogAnswer.exchange(true);
    engine.dialogPending.exchange(false);
}

TEST(FailureList, QuestionIsHandedToTheWindowAndItsAnswerReturned) {
    LanguageScope english(1);
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
    while (!engine.dialogPending.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    engine.stopRequested.exchange(true);
    // The poll interval is 100 ms; two seconds only guards against a wait that never ends.
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(2)), std::future_status::ready);
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
