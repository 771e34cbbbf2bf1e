#include "content/news.h"

#include <gtest/gtest.h>

namespace {

// A sectioned item numbered n with every field but those named in `skip`. Values: T title_ru,
// x text_ru, E title_en, y text_en, D date, R url_ru, U url_en, each followed by n.
WString item(wchar_t n, const WString& skip = L"") {
    static const std::pair<const wchar_t*, wchar_t> fields[] = {
        {L"title_ru", L'T'}, {L"text_ru", L'x'}, {L"title_en", L'E'}, {L"text_en", L'y'},
        {L"date", L'D'},     {L"url_ru", L'R'},  {L"url_en", L'U'}};
    WString text = L"[news]\n";
    for (const auto& [key, value] : fields) {
        if (skip.find(key) == WString::npos) text += WString(key) + L"=" + value + n + L"\n";
    }
    return text;
}

// Each entry as "title text date link", entries separated by ";".
WString shown(const std::vector<NewsEntry>& entries) {
    WString all;
    for (const NewsEntry& e : entries)
        all += (all.empty() ? L"" : L";") + e.title + L" " + e.text + L" " + e.date + L" " + e.link;
    return all;
}

TEST(News, ItemsLanguagesAndFormats) {
    const Language En = Language::English, Ru = Language::Russian;
    const std::tuple<const char*, WString, Language, WString> cases[] = {
        // name, file, language, shown
        {"four items show three", item('1') + item('2') + item('3') + item('4'), Ru,
         L"T1 x1 D1 R1;T2 x2 D2 R2;T3 x3 D3 R3"},
        {"a dropped item takes no card", item('1', L"date") + item('2') + item('3') + item('4'), En,
         L"E2 y2 D2 U2;E3 y3 D3 U3;E4 y4 D4 U4"},
        {"no url_ru: dropped in Russian", item('1', L"url_ru"), Ru, L""},
        {"no url_ru: English uses url_en", item('1', L"url_ru"), En, L"E1 y1 D1 U1"},
        {"English only: dropped in Russian", item('1', L"title_ru text_ru url_ru"), Ru, L""},
        {"Russian only: English falls back", item('1', L"title_en text_en url_en"), En, L"T1 x1 D1 R1"},
        {"fallback field by field", item('1', L"title_en url_en"), En, L"T1 y1 D1 R1"},
        {"blank before = names no key", L"[news]\ntitle_ru =T\ntext_ru=x\ndate=d\nurl_ru=u\n", Ru, L""},
        {"CR LF, comments, later key wins",
         L"#c\r\n\r\n[news]\r\n#text_ru=no\r\ntitle_ru=A\r\ntitle_ru=B=C "
         L"\r\ntext_ru=x\r\ndate=d\r\nurl_ru=u\r\n",
         Ru, L"B=C  x d u"},
        {"| in a sectioned title", L"[news]\ntitle_ru=a|b\ntext_ru=x|y\ndate=d\nurl_ru=u", Ru,
         L"a\nb x|y d u"},
        {"[NEWS] means four lines", L"[NEWS]\ntitle_ru=T\ntext_ru=x\ndate=d\n", Ru,
         L"[NEWS] title_ru=T text_ru=x date=d"},
        {"leading blank means four lines", L" [news]\na\nb\nc\n", En, L" [news] a b c"},
        {"four lines: # is data, | breaks", L"#a|b\r\n\n#t\r\nd\n\nlink\n5\n6\n7", Ru, L"#a\nb #t d link"},
        {"four lines: at most three", L"a\nb\nc\nd\ne\nf\ng\nh\ni\nj\nk\nl\nm\nn\no\np\n", Ru,
         L"a b c d;e f g h;i j k l"},
        {"one CR removed, not two", L"a\r\r\nb\nc\nd", Ru, L"a\r b c d"},
        {"empty text", L"", En, L""},
    };
    for (const auto& [name, text, language, expected] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(shown(parseNewsEntries(text, language)), expected);
    }
}

TEST(News, OnlyWebAddressesMayBeOpened) {
    const std::pair<WString, bool> cases[] = {
        {L"https://example.org/news?id=1#top", true},
        {L"HTTP://Example.org", true},
        {L"https://пример.рф/новости", true},
        {L"https://a/" + WString(kMaxOpenableLinkLength - 10, L'x'), true},
        {L"https://a/" + WString(kMaxOpenableLinkLength - 9, L'x'), false},
        {L"https://", false},
        {L"https:///etc/passwd", false},
        {L"file:///C:/Windows/system32/calc.exe", false},
        {L"C:\\Windows\\notepad.exe", false},
        {L"javascript:alert(1)", false},
        {L" https://example.org", false},
        {L"https://example.org/a b", false},
        {L"https://example.org/\" --x", false},
        {L"https://example.org/\ncalc", false},
        {WString(L"https://a\0b", 11), false},
        {L"https://example.org/\x202E", false},
        {L"https://example.org/a\x2060"
         L"b",
         false},
        {L"https://\\host/share", false},
    };
    for (const auto& [link, openable] : cases) EXPECT_EQ(isOpenableWebLink(link), openable) << link;
}

}  // namespace
