#include "ui/news.h"

#include <gtest/gtest.h>

namespace {

constexpr Language En = Language::English;
constexpr Language Ru = Language::Russian;

// A sectioned item with every field; `skip` names fields to leave out.
WString item(const WString& n, const WString& skip = L"") {
    WString text = L"[news]\n";
    for (const WString key :
         {L"title_ru", L"text_ru", L"title_en", L"text_en", L"date", L"url_ru", L"url_en"}) {
        if (skip.find(key) != WString::npos) continue;
        text += key + L"=" + key + n + L"\n";
    }
    return text;
}

// The titles of the entries joined by "+".
WString titles(const std::vector<NewsEntry>& entries) {
    WString all;
    for (const NewsEntry& entry : entries) all += (all.empty() ? L"" : L"+") + entry.title;
    return all;
}

TEST(News, ItemsLanguagesAndFormats) {
    struct Case {
        const char* name;
        WString text;
        Language language;
        WString expectedTitles;
    };
    const Case cases[] = {
        {"four complete items show the first three", item(L"1") + item(L"2") + item(L"3") + item(L"4"), Ru,
         L"title_ru1+title_ru2+title_ru3"},
        {"a dropped item takes no card", item(L"1", L"date") + item(L"2") + item(L"3") + item(L"4"), Ru,
         L"title_ru2+title_ru3+title_ru4"},
        {"url_ru empty: dropped in Russian", item(L"1", L"url_ru"), Ru, L""},
        {"url_ru empty: English uses url_en", item(L"1", L"url_ru"), En, L"title_en1"},
        {"English only: dropped in Russian", item(L"1", L"title_ru text_ru url_ru"), Ru, L""},
        {"English only: shown in English", item(L"1", L"title_ru text_ru url_ru"), En, L"title_en1"},
        {"Russian only: English falls back", item(L"1", L"title_en text_en url_en"), En, L"title_ru1"},
        {"title_en empty falls back alone", item(L"1", L"title_en"), En, L"title_ru1"},
        {"no date is dropped in both", item(L"1", L"date"), En, L""},
        {"blank before = names no key", L"[news]\ntitle_ru =T\ntext_ru=x\ndate=d\nurl_ru=u\n", Ru, L""},
        {"CR LF lines", L"# c\r\n\r\n[news]\r\ntitle_ru=T\r\ntext_ru=x\r\ndate=d\r\nurl_ru=u\r\n", Ru, L"T"},
        {"later key wins, value keeps =", L"[news]\ntitle_ru=A\ntitle_ru=B=C \ntext_ru=x\ndate=d\nurl_ru=u",
         Ru, L"B=C "},
        {"comments before [news] skipped",
         L"#a\n#b\n[news]\n#title_ru=X\ntitle_ru=T\ntext_ru=x\ndate=d\nurl_ru=u", Ru, L"T"},
        {"| in a sectioned title", L"[news]\ntitle_ru=a|b|\ntext_ru=x|y\ndate=d\nurl_ru=u", Ru, L"a\nb\n"},
        {"[NEWS] means four lines", L"[NEWS]\ntitle_ru=T\ntext_ru=x\ndate=d\n", Ru, L"[NEWS]"},
        {"leading blank means four lines", L" [news]\na\nb\nc\n", En, L" [news]"},
        {"four lines: # is data, | breaks", L"#a|b\n\n#t\r\nd\n\nlink\n", Ru, L"#a\nb"},
        {"four lines: short group dropped", L"1\n2\n3\n4\n5\n6\n7\n", Ru, L"1"},
        {"four lines: at most three", L"a\nb\nc\nd\ne\nf\ng\nh\ni\nj\nk\nl\nm\nn\no\np\n", Ru, L"a+e+i"},
        {"one CR removed, not two", L"a\r\r\nb\nc\nd\n", Ru, L"a\r"},
        {"empty text", L"", En, L""},
        {"only comments: four-line data", L"#1\n#2\n#3\n#4\n", En, L"#1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(titles(parseNewsEntries(c.text, c.language)), c.expectedTitles);
    }
}

TEST(News, EntryFieldsFollowTheLanguageFieldByField) {
    const WString text = L"[news]\ntitle_ru=Т\ntext_ru=текст\ndate=01.02\nurl_ru=https://ru\ntext_en=text\n";
    const auto english = parseNewsEntries(text, En);
    ASSERT_EQ(english.size(), 1u);
    EXPECT_EQ(english[0].title, L"Т");
    EXPECT_EQ(english[0].text, L"text");
    EXPECT_EQ(english[0].date, L"01.02");
    EXPECT_EQ(english[0].link, L"https://ru");
    const auto russian = parseNewsEntries(text, Ru);
    ASSERT_EQ(russian.size(), 1u);
    EXPECT_EQ(russian[0].text, L"текст");

    const auto four = parseNewsEntries(L"T\nbody = x\n2024\nhttp://h/p\n", En);
    ASSERT_EQ(four.size(), 1u);
    EXPECT_EQ(four[0].text, L"body = x");
    EXPECT_EQ(four[0].date, L"2024");
    EXPECT_EQ(four[0].link, L"http://h/p");
}

TEST(News, OnlyWebAddressesMayBeOpened) {
    const std::pair<WString, bool> cases[] = {
        {L"https://example.org/news?id=1#top", true},
        {L"http://example.org", true},
        {L"HTTPS://Example.org/", true},
        {L"hTTp://h", true},
        {L"https://пример.рф/новости", true},
        {L"https://", false},
        {L"https:///etc/passwd", false},
        {L"https:example.org", false},
        {L"file:///C:/Windows/system32/calc.exe", false},
        {L"C:\\Windows\\notepad.exe", false},
        {L"javascript:alert(1)", false},
        {L"ftp://example.org", false},
        {L"mailto:a@b", false},
        {L" https://example.org", false},
        {L"https://example.org/a b", false},
        {L"https://example.org/\"--x", false},
        {L"https://example.org/\ncalc", false},
        {L"https://example.org/\t", false},
        {WString(L"https://a\0b", 11), false},
        {L"https://example.org/\x202E", false},
        {L"https://example.org/\x85", false},
        {L"https://a/" + WString(kMaxOpenableLinkLength - 10, L'x'), true},
        {L"https://a/" + WString(kMaxOpenableLinkLength - 9, L'x'), false},
        {L"", false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(isOpenableWebLink(cases[i].first), cases[i].second);
    }
}

}  // namespace
