#include "update/local_check.h"

#include <gtest/gtest.h>
#include <set>
#include <vector>

namespace {

TEST(LocalCheck, Crc32TextIsEightUpperCaseDigitsWithLeadingZeros) {
    EXPECT_EQ(formatCrc32(0), "00000000");
    EXPECT_EQ(formatCrc32(0xCBF43926u), "CBF43926");
    EXPECT_EQ(formatCrc32(0xABCu), "00000ABC");
    EXPECT_EQ(formatCrc32(0xFFFFFFFFu), "FFFFFFFF");
}

struct Walk {
    std::vector<WString> asked;
    std::set<WString> links;
    std::set<WString> absent;
    std::set<WString> unreadable;

    PathKind operator()(const WString& path) {
        asked.push_back(path);
        if (links.count(path) > 0) return PathKind::Link;
        if (absent.count(path) > 0) return PathKind::Absent;
        return unreadable.count(path) > 0 ? PathKind::Unreadable : PathKind::Plain;
    }
};

bool crosses(Walk& walk, const std::string& relative, LinkFreeFolders* proven = nullptr) {
    return crossesReparsePointWith(
        L"G:\\game", relative, [&walk](const WString& path) { return walk(path); }, proven);
}

TEST(LocalCheck, LinkWalkAsksAboutEachComponentOnceOutermostFirst) {
    Walk walk;
    EXPECT_FALSE(crosses(walk, "Scripts/ai/main.lua"));
    EXPECT_EQ(walk.asked, (std::vector<WString>{L"G:\\game\\Scripts", L"G:\\game\\Scripts\\ai",
                                                L"G:\\game\\Scripts\\ai\\main.lua"}));
}

TEST(LocalCheck, LinkWalkFindsALinkAtAnyDepthAndStopsThere) {
    struct Case {
        const wchar_t* link;
        size_t asked;
    };
    const Case cases[] = {
        {L"G:\\game\\Scripts", 1}, {L"G:\\game\\Scripts\\ai", 2}, {L"G:\\game\\Scripts\\ai\\main.lua", 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.link, c.link + wcslen(c.link)));
        Walk walk;
        walk.links = {c.link};
        EXPECT_TRUE(crosses(walk, "Scripts/ai/main.lua"));
        EXPECT_EQ(walk.asked.size(), c.asked);
    }
}

// Nothing lies below a step that is not there; one that could not be asked about may hide a link.
TEST(LocalCheck, LinkWalkEndsAtAnAbsentStepButNotAtAnUnreadableOne) {
    Walk absent;
    absent.absent = {L"G:\\game\\Scripts"};
    EXPECT_FALSE(crosses(absent, "Scripts/ai/main.lua"));
    EXPECT_EQ(absent.asked, std::vector<WString>{L"G:\\game\\Scripts"});
    Walk unreadable;
    unreadable.unreadable = {L"G:\\game\\Scripts"};
    unreadable.links = {L"G:\\game\\Scripts\\ai"};
    EXPECT_TRUE(crosses(unreadable, "Scripts/ai/main.lua"));
}

// One pass asks about each folder once: folders found plain are not asked again, the file itself
// always is, and a folder that was not there (the pass may create it) is asked again.
TEST(LocalCheck, LinkWalkOfAPassAsksAboutAProvenFolderOnlyOnce) {
    LinkFreeFolders proven;
    Walk first;
    first.absent = {L"G:\\game\\Imgs"};
    EXPECT_FALSE(crosses(first, "Imgs/a.png", &proven));
    EXPECT_FALSE(crosses(first, "Scripts/ai/a.lua", &proven));
    Walk second;
    second.links = {L"G:\\game\\Imgs", L"G:\\game\\Scripts\\ai\\b.lua"};
    EXPECT_FALSE(crosses(second, "Scripts/ai/c.lua", &proven));
    EXPECT_TRUE(crosses(second, "Scripts/ai/b.lua", &proven));
    EXPECT_TRUE(crosses(second, "Imgs/a.png", &proven));
    EXPECT_EQ(second.asked, (std::vector<WString>{L"G:\\game\\Scripts\\ai\\c.lua",
                                                  L"G:\\game\\Scripts\\ai\\b.lua", L"G:\\game\\Imgs"}));
}

TEST(LocalCheck, LinkWalkNeverAsksAboutTheGameFolderItself) {
    Walk walk;
    walk.links = {L"G:\\game"};
    EXPECT_FALSE(crosses(walk, "mss32.dll"));
    EXPECT_EQ(walk.asked, std::vector<WString>{L"G:\\game\\mss32.dll"});
}

TEST(LocalCheck, LinkWalkTreatsBackslashesAsSeparatorsAndEndsAtATrailingOne) {
    Walk walk;
    walk.links = {L"G:\\game\\a\\b"};
    EXPECT_TRUE(crosses(walk, "a\\b\\c"));

    Walk trailing;
    EXPECT_FALSE(crosses(trailing, "a/b/"));
    EXPECT_EQ(trailing.asked, (std::vector<WString>{L"G:\\game\\a", L"G:\\game\\a\\b"}));

    Walk empty;
    EXPECT_FALSE(crosses(empty, ""));
    EXPECT_TRUE(empty.asked.empty());
}

TEST(LocalCheck, LinkWalkConvertsEachComponentFromUtf8) {
    Walk walk;
    walk.links = {L"G:\\game\\Imgs\\Игра"};
    EXPECT_TRUE(crosses(walk, "Imgs/\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0/x.png"));
}

}  // namespace
