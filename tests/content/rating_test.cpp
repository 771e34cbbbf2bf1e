#include "content/rating.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

TEST(Rating, FindRowObjectsSplitsOnlyTopLevelObjectsOfTheRowsArray) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {R"({"season":1,"rows":[{"a":{"b":[1,{"c":2}]}},3,{"d":4}]})",
         {R"({"a":{"b":[1,{"c":2}]}})", R"({"d":4})"}},
        {R"({"rows":["]",{"nick":"}{\"]"},{"x":1}]})", {R"({"nick":"}{\"]"})", R"({"x":1})"}},
        {R"({"rows":[{"x":1}],"more":[{"y":2}]})", {R"({"x":1})"}},
        {R"({"rows":[}},{"x":1}]})", {R"({"x":1})"}},  // a stray "}" closes nothing
        {R"({"rows" :[{"x":1}]})", {}},
        {R"({"rows":{"x":1}})", {}},
        {R"({"rows":[{"x":1},{"y":)", {R"({"x":1})"}},  // cut by the end
        {R"({"rows":[{"x":"\)", {}},
    };
    for (const auto& [body, objects] : cases) {
        SCOPED_TRACE(body);
        const auto found = findRowObjects(body);
        EXPECT_EQ(std::vector<std::string>(found.begin(), found.end()), objects);
    }
    std::string many = R"({"rows":[)";
    for (int i = 0; i < 100000; ++i) many += R"({"rank":1},)";
    EXPECT_EQ(findRowObjects(many).size(), kMaxRatingRows);
}

TEST(Rating, ReadJsonIntTakesDigitsAfterTheColonOrTheDefault) {
    const std::pair<std::string, int32_t> cases[] = {
        {R"({"rank":-7,"x":1})", -7},
        {R"({"rank":2147483647})", INT32_MAX},
        {R"({"rank":-2147483648})", INT32_MIN},
        {R"({"rank":2147483648})", -1},
        {R"({"rank":4294967338})", -1},  // 42 in 32 bits
        {R"({"rank":99999999999999999999999999999999999999})", -1},
        {R"({"rank":000000000000000000000000000000000012.5})", 12},
        {R"({"rank": 5})", -1},
        {R"({"rank":"5"})", -1},
        {R"({"rank":-})", -1},
        {R"({"x":{"rank":3},"rank":4})", 3},  // the first, nested or not
        {R"({"rank":)", -1},
    };
    for (const auto& [object, expected] : cases) {
        SCOPED_TRACE(object);
        EXPECT_EQ(readJsonInt(object, "rank", -1), expected);
    }
}

TEST(Rating, ReadJsonStringDecodesEscapesAndRejectsInvalidText) {
    const std::pair<std::string, std::optional<WString>> cases[] = {
        {R"({"nick":"\u0418\u0432\u0430\u043D"})", L"Иван"},
        {"{\"nick\":\"\xD0\x98\xF0\x9F\x98\x80\"}", WString{L'И', 0xD83D, 0xDE00}},
        {R"({"nick":"a\"b\/c\\d\b\f\n\r\t}{"})", L"a\"b/c\\d\b\f\n\r\t}{"},
        {R"({"nick":"\ud83d\ude00a\ud83db"})", WString{0xD83D, 0xDE00, L'a', L'b'}},  // unpaired high dropped
        {R"({"nick":"\ud83d\u0041z"})", L"z"},
        {R"({"nick":null})", std::nullopt},
        {R"({"nick":5})", std::nullopt},
        {R"({"nick": "a"})", std::nullopt},
        {R"({"nick":"a\x41"})", std::nullopt},
        {R"({"nick":"\u12g4"})", std::nullopt},
        {R"({"nick":"abc\)", std::nullopt},
        {"{\"nick\":\"\xC0\xAF\"}", std::nullopt},          // overlong "/"
        {"{\"nick\":\"\xE0\x80\xA2\"}", std::nullopt},      // overlong quote
        {"{\"nick\":\"\xED\xA0\x80\"}", std::nullopt},      // U+D800 in UTF-8
        {"{\"nick\":\"\xF4\x90\x80\x80\"}", std::nullopt},  // U+110000
        {"{\"nick\":\"\xF8\x88\x80\x80\x80\"}", std::nullopt},
        {"{\"nick\":\"\xD0\"}", std::nullopt},
        {"{\"nick\":\"\xE2\x82", std::nullopt},
    };
    for (const auto& [object, nick] : cases) {
        SCOPED_TRACE(object);
        EXPECT_EQ(readJsonString(object, "nick"), nick);
    }
}

bool answerByDifficulty(const std::string& url, std::string& body) {
    if (url == "p0") {
        body = R"({"rows":[{"rank":5,"nick":"A","wave":12,"endless":3},{"nick":null,"wave": 9},{"nick":")" +
               std::string(200, 'x') + R"("},{"nick":")" + std::string(63, 'y') + R"(\ud83d\ude00"}]})";
    }
    if (url == "p1") throw std::runtime_error("transfer");
    return url == "p0" || url == "p3";  // p2 is a 404, p3 has no rows
}
bool alwaysThrows(const std::string&, std::string&) { throw std::bad_alloc(); }
bool alwaysRefused(const std::string&, std::string& body) {
    body = "<html>503</html>";
    return false;
}

TEST(Rating, CollectRatingsReadsRowsAndAlwaysSetsBothFlags) {
    RatingState state;
    collectRatings(state, "p", answerByDifficulty);
    EXPECT_TRUE(state.loaded);
    EXPECT_FALSE(state.failed);
    ASSERT_EQ(state.rows[0].size(), 4u);
    const RatingRow& first = state.rows[0][0];
    EXPECT_TRUE(first.rank == 5 && first.nick == L"A" && first.wave == 12 && first.endless == 3);
    const RatingRow& second = state.rows[0][1];  // defaults: its position, "?", 0, 0
    EXPECT_TRUE(second.rank == 2 && second.nick == L"?" && second.wave == 0 && second.endless == 0);
    // Nicks are kept short, a surrogate pair at the cut going as a whole.
    EXPECT_EQ(state.rows[0][2].nick, WString(kMaxKeptNickLength, L'x'));
    EXPECT_EQ(state.rows[0][3].nick, WString(63, L'y'));
    EXPECT_TRUE(state.rows[1].empty() && state.rows[2].empty() && state.rows[3].empty());

    for (const RatingFetchFunction failingFetch : {alwaysThrows, alwaysRefused}) {
        RatingState failing;
        collectRatings(failing, "p", failingFetch);
        EXPECT_TRUE(failing.loaded);
        EXPECT_TRUE(failing.failed);
    }
}

}  // namespace
