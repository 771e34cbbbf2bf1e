#include "branches/branch_status.h"

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/language_scope.h"

namespace {

class StatusTexts : public testing::Test {
protected:
    LanguageScope restore{currentLanguage()};

    static void setLanguage(Language language) { appSettings().language.exchange(language); }
    static void set(BranchCheckResults& results, BranchStatus status, bool exeMissing = false,
                    bool mss23Lost = false, const TextPair* runMessage = nullptr) {
        results.status.exchange(status);
        results.exeMissing.exchange(exeMissing);
        results.mss23Lost.exchange(mss23Lost);
        results.runMessage.exchange(runMessage);
    }
};

TEST_F(StatusTexts, SummaryTextOfEveryStatusInBothLanguages) {
    // A run's own message replaces "ready" and "server unavailable" (files in use are no server
    // failure), in the language of the moment; it never replaces the other statuses' texts.
    static constexpr TextPair kRunMessage = {L"All files updated successfully!",
                                             L"Все файлы успешно обновлены!"};
    const struct {
        BranchStatus status;
        bool exeMissing;
        bool mss23Lost;
        const wchar_t* english;
        const wchar_t* russian;
        const TextPair* runMessage = nullptr;
    } cases[] = {
        {BranchStatus::Ready, false, false, kRunMessage.english, kRunMessage.russian, &kRunMessage},
        {BranchStatus::ServerUnavailable, false, false, kRunMessage.english, kRunMessage.russian,
         &kRunMessage},
        {BranchStatus::NotPublished, false, false, L"update not published", L"обновление не опубликовано",
         &kRunMessage},
        {BranchStatus::Checking, false, false, L"?", L"?", &kRunMessage},
        {BranchStatus::Pending, false, false, L"?", L"?"},
        {BranchStatus::Checking, true, true, L"?", L"?"},
        {BranchStatus::Ready, false, false, L"ready", L"готово"},
        {BranchStatus::ServerUnavailable, false, false, L"server unavailable", L"сервер недоступен"},
        {BranchStatus::FolderNotSet, false, false, L"folder not set", L"папка не выбрана"},
        {BranchStatus::NotPublished, false, false, L"update not published", L"обновление не опубликовано"},
        {BranchStatus::SharedFolder, true, true, L"duplicate folder!", L"папки совпадают!"},
        {BranchStatus::NotGameFolder, false, true, L"Mss23.dll is lost — reinstall the game!",
         L"потерян Mss23.dll — переустановите игру!"},
        {BranchStatus::NotGameFolder, true, true, L"Mss23.dll is lost — reinstall the game!",
         L"потерян Mss23.dll — переустановите игру!"},
        {BranchStatus::NotGameFolder, true, false, L"no Tharnvl2.exe in folder!",
         L"в папке нет Tharnvl2.exe!"},
        {BranchStatus::NotGameFolder, false, false, L"not a game folder!", L"это не папка с игрой!"},
        {BranchStatus::WorkTree, true, false, L"git folder — update blocked", L"git-папка — без обновления"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        BranchCheckResults results;
        set(results, c.status, c.exeMissing, c.mss23Lost, c.runMessage);
        setLanguage(Language::English);
        EXPECT_EQ(statusSummaryText(results), c.english);
        setLanguage(Language::Russian);
        EXPECT_EQ(statusSummaryText(results), c.russian);
    }
}

TEST_F(StatusTexts, SummaryIsOneLinePerBranchInTableOrderWithoutFinalLineFeed) {
    BranchResultsTable results;
    set(results[0], BranchStatus::FolderNotSet);
    set(results[1], BranchStatus::NotGameFolder, true, false);
    setLanguage(Language::English);
    EXPECT_EQ(buildStatusSummary(results),
              L"LURRA 1.44 — folder not set\nKORDAN TVX — no Tharnvl2.exe in folder!");
    setLanguage(Language::Russian);
    EXPECT_EQ(buildStatusSummary(results),
              L"LURRA 1.44 — папка не выбрана\nKORDAN TVX — в папке нет Tharnvl2.exe!");
}

TEST_F(StatusTexts, SummaryOfAFreshCheckShowsQuestionMarks) {
    BranchResultsTable results;
    setLanguage(Language::English);
    EXPECT_EQ(buildStatusSummary(results), L"LURRA 1.44 — ?\nKORDAN TVX — ?");
}

TEST(StatusCaptions, OnlyBlockedOrFailedBranchesHaveACaption) {
    const struct {
        BranchStatus status;
        const wchar_t* english;
        const wchar_t* russian;
    } cases[] = {
        {BranchStatus::Pending, nullptr, nullptr},
        {BranchStatus::Checking, nullptr, nullptr},
        {BranchStatus::Ready, nullptr, nullptr},
        {BranchStatus::FolderNotSet, L"choose folder ⚙", L"укажите папку ⚙"},
        {BranchStatus::SharedFolder, L"shares folder with other branch ⚙", L"общая папка с другой веткой ⚙"},
        {BranchStatus::NotGameFolder, L"needs an installed game ⚙", L"нужна установленная игра ⚙"},
        {BranchStatus::WorkTree, L"worktree: updating disabled", L"рабочая папка: обновление выключено"},
        {BranchStatus::NotPublished, L"updates soon", L"обновления скоро"},
        {BranchStatus::ServerUnavailable, L"no server connection", L"нет связи с сервером"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "status " << static_cast<int>(c.status));
        const wchar_t* english = statusCaption(c.status, Language::English);
        const wchar_t* russian = statusCaption(c.status, Language::Russian);
        ASSERT_EQ(english == nullptr, c.english == nullptr);
        ASSERT_EQ(russian == nullptr, c.russian == nullptr);
        if (!c.english) continue;
        EXPECT_EQ(WString(english), c.english);
        EXPECT_EQ(WString(russian), c.russian);
    }
}

}  // namespace
