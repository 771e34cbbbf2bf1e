#include "ui/rating.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

TEST(Rating, FindRowObjectsSplitsOnlyTopLevelObjectsOfTheRowsArray) {
    struct Case {
        const char* name;
        std::string body;
        std::vector<std::string> objects;
    };
    const Case cases[] = {
        {"two rows", R"({"season":1,"rows":[{"rank":1},{"rank":2}]})", {R"({"rank":1})", R"({"rank":2})"}},
        {"nested object and array",
         R"({"rows":[{"a":{"b":[1,{"c":2}]}},3,{"d":4}]})",
         {R"({"a":{"b":[1,{"c":2}]}})", R"({"d":4})"}},
        {"braces and quotes in strings",
         R"({"rows":[{"nick":"}{\"]"},{"x":1}]})",
         {R"({"nick":"}{\"]"})", R"({"x":1})"}},
        {"] inside a string between rows", R"({"rows":["]",{"x":1}]})", {R"({"x":1})"}},
        {"] ends the array", R"({"rows":[{"x":1}],"more":[{"y":2}]})", {R"({"x":1})"}},
        {"stray } at the top level", R"({"rows":[}},{"x":1}]})", {R"({"x":1})"}},
        {"no rows key", R"({"top":[{"x":1}]})", {}},
        {"blank before the colon", R"({"rows" :[{"x":1}]})", {}},
        {"no [ after rows", R"({"rows":{"x":1}})", {}},
        {"object cut by the end", R"({"rows":[{"x":1},{"y":)", {R"({"x":1})"}},
        {"backslash at the end", R"({"rows":[{"x":"\)", {}},
        {"empty body", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto found = findRowObjects(c.body);
        EXPECT_EQ(std::vector<std::string>(found.begin(), found.end()), c.objects);
    }
    std::string many = R"({"rows":[)";
    for (int i = 0; i < 100000; ++i) many += R"({"rank":1},)";
    EXPECT_EQ(findRowObjects(many).size(), kMaxRatingRows);
    EXPECT_EQ(findRowObjects(many, 3).size(), 3u);
}

TEST(Rating, ReadJsonIntTakesDigitsAfterTheColonOrTheDefault) {
    const std::pair<std::string, int32_t> cases[] = {
        {R"({"rank":42})", 42},
        {R"({"rank":-7,"x":1})", -7},
        {R"({"rank":007})", 7},
        {R"({"rank":-0})", 0},
        {R"({"rank":2147483647})", 2147483647},
        {R"({"rank":-2147483648})", INT32_MIN},
        {R"({"rank":2147483648})", -1},
        {R"({"rank":-2147483649})", -1},
        {R"({"rank":4294967338})", -1},  // wraps to 42 in 32 bits
        {R"({"rank":99999999999999999999999999999999999999})", -1},
        {R"({"rank":00000000000000000000000000000000000000012})", 12},
        {R"({"rank": 5})", -1},
        {R"({"rank":"5"})", -1},
        {R"({"rank":+5})", -1},
        {R"({"rank":-})", -1},
        {R"({"rank":12.9e3})", 12},
        {R"({"rank" :5})", -1},
        {R"({"x":{"rank":3},"rank":4})", 3},  // the first occurrence, nested or not
        {R"({"nick":"\"rank\":9","rank":4})", 4},
        {R"({"rank":)", -1},
        {R"({"ranking":5})", -1},
    };
    for (const auto& [object, expected] : cases) {
        SCOPED_TRACE(object);
        EXPECT_EQ(readJsonInt(object, "rank", -1), expected);
    }
}

TEST(Rating, ReadJsonStringDecodesEscapesAndRejectsInvalidText) {
    struct Case {
        std::string object;
        std::optional<WString> nick;
    };
    const Case cases[] = {
        {R"({"nick":"Ann"})", L"Ann"},
        {R"({"nick":"\u0418\u0432\u0430\u043d"})", L"Иван"},
        {R"({"nick":"\u0418\u0432\u0430\u043D"})", L"Иван"},
        {"{\"nick\":\"\xD0\x98\xD0\xB2\"}", L"Ив"},
        {R"({"nick":"a\"b\/c\\d\b\f\n\r\t"})", L"a\"b/c\\d\b\f\n\r\t"},
        {R"({"nick":"}{"})", L"}{"},
        {R"({"nick":""})", L""},
        {R"({"nick":"\ud83d\ude00!"})", WString{0xD83D, 0xDE00, L'!'}},
        {"{\"nick\":\"\xF0\x9F\x98\x80\"}", WString{0xD83D, 0xDE00}},
        {"{\"nick\":\"\xF4\x8F\xBF\xBF\"}", WString{0xDBFF, 0xDFFF}},  // U+10FFFF
        {R"({"nick":"a\ud83db"})", L"ab"},                             // high without a low: dropped
        {R"({"nick":"\ud83d\u0041z"})", L"z"},                         // both dropped
        {R"({"nick":"\ude00"})", WString{0xDE00}},                     // a lone low stays
        {R"({"nick":null})", std::nullopt},
        {R"({"nick":5})", std::nullopt},
        {R"({"nick": "a"})", std::nullopt},
        {R"({"name":"a"})", std::nullopt},
        {R"({"nick":"a\x41"})", std::nullopt},
        {R"({"nick":"a\'"})", std::nullopt},
        {R"({"nick":"\u12"})", std::nullopt},
        {R"({"nick":"\u12g4"})", std::nullopt},
        {R"({"nick":"\u+123"})", std::nullopt},
        {R"({"nick":"abc)", std::nullopt},
        {R"({"nick":"abc\)", std::nullopt},
        {"{\"nick\":\"\xC0\xAF\"}", std::nullopt},          // overlong "/"
        {"{\"nick\":\"\xE0\x80\xA2\"}", std::nullopt},      // overlong quote
        {"{\"nick\":\"\xF0\x80\x80\x80\"}", std::nullopt},  // overlong NUL
        {"{\"nick\":\"\xED\xA0\x80\"}", std::nullopt},      // U+D800 in UTF-8
        {"{\"nick\":\"\xED\xBF\xBF\"}", std::nullopt},      // U+DFFF in UTF-8
        {"{\"nick\":\"\xF4\x90\x80\x80\"}", std::nullopt},  // U+110000
        {"{\"nick\":\"\xF7\xBF\xBF\xBF\"}", std::nullopt},
        {"{\"nick\":\"\xF8\x88\x80\x80\x80\"}", std::nullopt},
        {"{\"nick\":\"\x80\"}", std::nullopt},
        {"{\"nick\":\"\xD0\"}", std::nullopt},  // continuation replaced by the quote
        {"{\"nick\":\"\xD0", std::nullopt},     // cut by the end
        {"{\"nick\":\"\xE2\x82", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.object);
        EXPECT_EQ(readJsonString(c.object, "nick"), c.nick);
    }
}

TEST(Rating, RowsTakeDefaultsAndAtMostTen) {
    std::string body = R"({"rows":[{"rank":5,"nick":"A","wave":12,"endless":3},{"nick":null,"wave": 9},)";
    for (int i = 0; i < 20; ++i) body += R"({"rank":)" + std::to_string(100 + i) + "},";
    body += "]}";
    const std::vector<RatingRow> rows = parseRatingRows(body);
    ASSERT_EQ(rows.size(), kMaxRatingRows);
    EXPECT_EQ(rows[0].rank, 5);
    EXPECT_EQ(rows[0].nick, L"A");
    EXPECT_EQ(rows[0].wave, 12);
    EXPECT_EQ(rows[0].endless, 3);
    EXPECT_EQ(rows[1].rank, 2);  // its position
    EXPECT_EQ(rows[1].nick, L"?");
    EXPECT_EQ(rows[1].wave, 0);
    EXPECT_EQ(rows[1].endless, 0);
    EXPECT_EQ(rows[9].rank, 107);
    EXPECT_TRUE(parseRatingRows(R"({"season":3})").empty());
}

// Stand-ins for the transfer: each difficulty's answer, chosen by the last digit of the URL.
std::string lastUrl;
bool answerByDifficulty(const std::string& url, std::string& body) {
    lastUrl = url;
    switch (url.back()) {
        case '0':
            body = R"({"rows":[{"nick":"a"}]})";
            return true;
        case '1':
            throw std::runtime_error("transfer");
        case '2':
            throw 7;
        default:
            return false;  // a 404
    }
}
bool alwaysFails(const std::string&, std::string&) { return false; }
bool alwaysThrows(const std::string&, std::string&) { throw std::bad_alloc(); }

TEST(Rating, CollectRatingsSetsBothFlagsWhateverTheRequestsDo) {
    RatingState state;
    collectRatings(state, "https://h/v1/top?diff=", answerByDifficulty);
    EXPECT_EQ(lastUrl, "https://h/v1/top?diff=3");
    EXPECT_TRUE(state.loaded);
    EXPECT_FALSE(state.failed);
    EXPECT_EQ(state.rows[0].size(), 1u);
    EXPECT_TRUE(state.rows[1].empty() && state.rows[2].empty() && state.rows[3].empty());

    for (const RatingFetchFunction fetch : {alwaysFails, alwaysThrows}) {
        RatingState failing;
        collectRatings(failing, "x", fetch);
        EXPECT_TRUE(failing.loaded);
        EXPECT_TRUE(failing.failed);
    }
}

TEST(Rating, PanelLooksAndRowTexts) {
    RatingState state;
    EXPECT_EQ(ratingPanelLook(state), RatingPanelLook::Loading);
    state.rows[1].push_back({1, L"a", 2, 0});
    state.loaded = true;
    EXPECT_EQ(ratingPanelLook(state), RatingPanelLook::Rows);
    state.selectedDifficulty = 3;
    EXPECT_EQ(ratingPanelLook(state), RatingPanelLook::NoResults);
    EXPECT_EQ(ratingPanelMessage(RatingPanelLook::NoResults, Language::English),
              L"No results on this difficulty yet.");
    state.failed = true;
    EXPECT_EQ(ratingPanelLook(state), RatingPanelLook::Unavailable);
    EXPECT_EQ(ratingPanelMessage(RatingPanelLook::Unavailable, Language::Russian),
              L"Рейтинг недоступен.\nПроверьте подключение к интернету.");

    struct Case {
        RatingRow row;
        Language language;
        WString left;
        WString right;
    };
    const Case cases[] = {
        {{1, L"Ann", 12, 3}, Language::English, L"1. Ann", L"wave 12 +3"},
        {{-4, L"Иван", 7, 0}, Language::Russian, L"-4. Иван", L"волна 7"},
        {{2, L"a\nb\tc", -1, -5}, Language::English, L"2. a b c", L"wave -1"},
        {{3, WString(40, L'x'), 1, 1}, Language::English, L"3. " + WString(32, L'x') + L"...", L"wave 1 +1"},
        {{3, WString(31, L'x') + WString{0xD83D, 0xDE00}, 1, 0},
         Language::English,
         L"3. " + WString(31, L'x') + L"...",
         L"wave 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row.rank);
        const RatingRowTexts texts = ratingRowTexts(c.row, c.language);
        EXPECT_EQ(texts.left, c.left);
        EXPECT_EQ(texts.right, c.right);
    }

    EXPECT_EQ(visibleRatingRows(1000, 20, 12), 10u);
    EXPECT_EQ(visibleRatingRows(3.5 * 29, 29, 12), 3u);
    EXPECT_EQ(visibleRatingRows(1000, 20, 2), 2u);
    EXPECT_EQ(visibleRatingRows(10, 0, 2), 0u);
    EXPECT_EQ(visibleRatingRows(-10, 20, 2), 0u);
}

}  // namespace
