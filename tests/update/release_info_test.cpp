#include "update/release_info.h"

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/language_scope.h"
#include "update/update_engine.h"

namespace {

TEST(ReleaseDescriptor, IntegerRules) {
    struct Case {
        std::string text;
        int32_t value;
    };
    const Case cases[] = {
        {"144", 144},
        {"144abc", 144},
        {"144 ; note", 144},
        {"144\r", 144},
        {"  \t144", 144},
        {"\n\v\f\r7", 7},
        {"+5", 5},
        {"-5", -5},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", 0},
        {"-2147483649", 0},
        {"99999999999", 0},
        {"99999999999999999999999999999999999999", 0},
        {"", 0},
        {"abc", 0},
        {"-", 0},
        {"+", 0},
        {"+-1", 0},
        {"- 1", 0},
        {"0x10", 0},
        {"1.99", 1},
        {"\xEF\xBB\xBF"
         "144",
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("\"" + c.text + "\"");
        EXPECT_EQ(parseVersionNumber(c.text), c.value);
    }
}

TEST(ReleaseDescriptor, FormatVersionDividesInSinglePrecision) {
    EXPECT_EQ(formatVersion(117), L"1.17");
    EXPECT_EQ(formatVersion(144), L"1.44");
    EXPECT_EQ(formatVersion(100), L"1.00");
    EXPECT_EQ(formatVersion(5), L"0.05");
    EXPECT_EQ(formatVersion(0), L"0.00");
    EXPECT_EQ(formatVersion(-5), L"-0.05");
    // In double precision this would read 21474836.47; a float holds only 21474836.
    EXPECT_EQ(formatVersion(2147483647), L"21474836.00");
    EXPECT_EQ(formatVersion(16777217), L"167772.16");  // 2^24 + 1 is not a float
}

TEST(ReleaseDescriptor, InstalledVersionIsTheFirstLineAsANumber) {
    EXPECT_EQ(installedVersionFromText("144"), 144);
    EXPECT_EQ(installedVersionFromText("144\r\n200\n"), 144);
    EXPECT_EQ(installedVersionFromText("\n144"), 0);
    EXPECT_EQ(installedVersionFromText(""), 0);
    EXPECT_EQ(installedVersionFromText("version 144"), 0);
}

TEST(ReleaseDescriptor, ParsesEveryKeyAndStoresTheRunValues) {
    LanguageScope english(Language::English);
    UpdateEngine engine;
    ReleaseInfo info;
    const std::string text =
        "game_version=144\nlauncher_version=117\nlauncher_checksum=" + std::string(64, 'a') +
        "\nlauncher_size=123456\nupdate_servers=2\npack=" + std::string(64, 'b') +
        "\npack_size=777\ndisplay_version=1.44 beta\nunknown=1\n[section]\ngame_version=1\n";
    ASSERT_TRUE(applyReleaseDescriptor(engine, text, info));
    EXPECT_EQ(info.gameVersion, 144);
    EXPECT_EQ(info.launcherVersion, 117);
    EXPECT_EQ(info.launcherChecksum, std::string(64, 'a'));
    EXPECT_EQ(info.launcherSize, 123456);
    EXPECT_EQ(info.updateServers, 2);
    EXPECT_EQ(info.pack, std::string(64, 'b'));
    EXPECT_EQ(info.packSize, 777);
    EXPECT_EQ(info.displayVersion, "1.44 beta");
    EXPECT_EQ(engine.currentTotal.load(), 123456);
    EXPECT_EQ(copyCurrentFile(engine), L"Launcher update");
    EXPECT_EQ(engine.pack, std::string(64, 'b'));
    EXPECT_EQ(engine.packSize, 777);
    EXPECT_EQ(copyDisplayVersion(engine), "1.44 beta");
}

TEST(ReleaseDescriptor, LauncherLabelIsInTheCurrentLanguage) {
    LanguageScope russian(Language::Russian);
    UpdateEngine engine;
    ReleaseInfo info;
    ASSERT_TRUE(applyReleaseDescriptor(engine, "game_version=1\n", info));
    EXPECT_EQ(copyCurrentFile(engine), L"Обновление лаунчера");
}

TEST(ReleaseDescriptor, CrLfLinesAndInlineCommentsAreRead) {
    UpdateEngine engine;
    ReleaseInfo info;
    ASSERT_TRUE(applyReleaseDescriptor(engine, "game_version=144 ; note\r\nlauncher_version=117\r\n", info));
    EXPECT_EQ(info.gameVersion, 144);
    EXPECT_EQ(info.launcherVersion, 117);
}

TEST(ReleaseDescriptor, MissingAndMalformedValuesReadAsZeroOrEmpty) {
    UpdateEngine engine;
    engine.pack = "old";
    engine.packSize = 9;
    ReleaseInfo info;
    info.gameVersion = 5;
    info.launcherChecksum = "stale";
    ASSERT_TRUE(applyReleaseDescriptor(engine, "launcher_version=abc\ngame_version=99999999999\n", info));
    EXPECT_EQ(info.gameVersion, 0);
    EXPECT_EQ(info.launcherVersion, 0);
    EXPECT_EQ(info.launcherChecksum, "");
    EXPECT_EQ(info.launcherSize, 0);
    EXPECT_EQ(engine.pack, "");
    EXPECT_EQ(engine.packSize, 0);
    EXPECT_EQ(decideVersion(info.gameVersion, 0, false), VersionDecision::NoUsableRelease);
}

TEST(ReleaseDescriptor, SyntaxErrorFailsAndStoresNothing) {
    UpdateEngine engine;
    engine.pack = "kept";
    engine.currentTotal = 42;
    ReleaseInfo info;
    EXPECT_FALSE(applyReleaseDescriptor(engine, "game_version=144\nthis line has no equals sign\n", info));
    EXPECT_FALSE(applyReleaseDescriptor(engine, "game_version=144\ngame_version=145\n", info));
    EXPECT_EQ(engine.pack, "kept");
    EXPECT_EQ(engine.currentTotal.load(), 42);
    EXPECT_EQ(copyCurrentFile(engine), L"");
    EXPECT_EQ(copyDisplayVersion(engine), "");
}

TEST(ReleaseDescriptor, DisplayVersionIsTakenOnlyWhileEmpty) {
    UpdateEngine engine;
    ReleaseInfo info;
    ASSERT_TRUE(applyReleaseDescriptor(engine, "game_version=144\n", info));
    EXPECT_EQ(copyDisplayVersion(engine), "");
    ASSERT_TRUE(applyReleaseDescriptor(engine, "game_version=144\ndisplay_version=first\n", info));
    ASSERT_TRUE(applyReleaseDescriptor(engine, "game_version=145\ndisplay_version=second\n", info));
    EXPECT_EQ(copyDisplayVersion(engine), "first");
    EXPECT_EQ(info.gameVersion, 145);
}

TEST(ReleaseDescriptor, SelfUpdateRule) {
    const std::string running(64, 'c');
    struct Case {
        int32_t version;
        std::string published;
        bool due;
    };
    const Case cases[] = {
        {116, std::string(64, 'd'), false},  // not newer than the running 1.16
        {116, running, false},
        {0, std::string(64, 'd'), false},
        {-200, "", false},
        {117, running, false},  // already the published file
        {117, std::string(64, 'd'), true},
        {117, std::string(64, 'C'), true},  // upper case never matches
        {500, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.version) + " " + c.published);
        ReleaseInfo info;
        info.launcherVersion = c.version;
        info.launcherChecksum = c.published;
        EXPECT_EQ(isSelfUpdateDue(info, running), c.due);
    }
}

TEST(ReleaseDescriptor, VersionDecisionsInOrder) {
    struct Case {
        int32_t server;
        int32_t installed;
        bool verifyAll;
        VersionDecision decision;
    };
    const Case cases[] = {
        {0, 0, false, VersionDecision::NoUsableRelease},
        {0, 0, true, VersionDecision::NoUsableRelease},
        {-3, -5, false, VersionDecision::NoUsableRelease},
        // A release below 1 is never usable, also for a folder at a higher version: it is not a
        // downgrade to refuse but a broken descriptor that the fallback server may not share.
        {0, 144, false, VersionDecision::NoUsableRelease},
        {0, 144, true, VersionDecision::NoUsableRelease},
        {-1, 5, false, VersionDecision::NoUsableRelease},
        {0, 1, false, VersionDecision::NoUsableRelease},
        {1, 0, false, VersionDecision::CheckFiles},
        {144, 145, false, VersionDecision::DowngradeRefused},
        {144, 145, true, VersionDecision::DowngradeRefused},
        {144, 144, false, VersionDecision::AlreadyInstalled},
        {144, 144, true, VersionDecision::CheckFiles},
        {145, 144, false, VersionDecision::CheckFiles},
        {144, 0, false, VersionDecision::CheckFiles},
        {144, -1, false, VersionDecision::CheckFiles},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.server) + " vs " + std::to_string(c.installed) +
                     (c.verifyAll ? " verifyAll" : ""));
        EXPECT_EQ(decideVersion(c.server, c.installed, c.verifyAll), c.decision);
    }
}

}  // namespace
