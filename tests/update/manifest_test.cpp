#include "update/manifest.h"

#include <gtest/gtest.h>
#include <vector>

#include "update/update_engine.h"

namespace {

const std::string kHash = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::string line(const std::string& path, const std::string& size = "10", const std::string& packed = "5",
                 const std::string& crc = "0a1b2c3d", const std::string& sha = kHash) {
    return path + "\t" + size + "\t" + packed + "\t" + crc + "\t" + sha + "\n";
}

FileManifest parse(const std::string& text) {
    UpdateEngine engine;
    return parseManifest(text, engine);
}

TEST(Manifest, AcceptsAWellFormedLineAndStoresEveryField) {
    UpdateEngine engine;
    engine.bytesDone = 77;
    const FileManifest manifest = parseManifest(line("Scripts/Main.lua", "1234", "99"), engine);
    ASSERT_EQ(manifest.size(), 1u);
    const ManifestEntry& entry = manifest[0];
    EXPECT_EQ(entry.path, "Scripts/Main.lua");
    EXPECT_EQ(entry.size, 1234);
    EXPECT_EQ(entry.packedSize, 99);
    EXPECT_EQ(entry.crc32, "0A1B2C3D");  // upper-cased
    EXPECT_EQ(entry.sha256, kHash);
    EXPECT_FALSE(entry.needsUpdate);
    EXPECT_FALSE(entry.failed);
    EXPECT_TRUE(entry.reason.empty());
    EXPECT_EQ(engine.bytesDone.load(), 0);
    EXPECT_EQ(engine.bytesTotal.load(), 1234);
}

TEST(Manifest, PathRules) {
    struct Case {
        std::string path;
        bool accepted;
    };
    const Case cases[] = {
        {"Globals/", false},               // the bare prefix
        {"Globals", false},                //
        {"Globals//a.txt", false},         // empty component
        {"Globals/a/", false},             // trailing "/"
        {"Globals/.hidden/a.txt", false},  // hidden folder
        {"Globals/./a.txt", false},        //
        {"Globals/.git", false},           //
        {"Globals/a..b", false},           // two dots inside a name
        {"Globals/../mss32.dll", false},   //
        {"/Globals/a.txt", false},         // leading "/"
        {"C:/Globals/a.txt", false},       // drive letter
        {"Globals/a.txt:stream", false},   // alternate data stream
        {"Globals\\a.txt", false},         // backslash
        {"Globals/a\x01.txt", false},      // control byte
        {"Globals/a\x1f.txt", false},      //
        {std::string("Globals/a\0b", 11), false},
        {"Music/a.txt", false},                               // not one of the six folders
        {"readme.txt", false},                                // root file other than mss32.dll
        {"mss32.dll.bak", false},                             // only begins with mss32.dll
        {"mss32.dllx", false},                                //
        {"xmss32.dll", false},                                //
        {"Globals/a b.txt", true},                            // blank inside a name
        {"Imgs/\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0.png", true},  // UTF-8 letters
        {"gLoBaLs/a.txt", true},                              // any case of the prefix
        {"IMGS/x", true},                                     //
        {"Interf/a", true},                                   //
        {"ScenData/a", true},                                 //
        {"scripts/a.lua", true},                              //
        {"Templates/deep/er/file.x", true},                   //
        {"mss32.dll", true},                                  //
        {"MSS32.DLL", true},                                  //
        {"Globals/a.b.c", true},                              // single dots between
        {"Globals/trailing.", true},                          //
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(parse(line(c.path)).size(), c.accepted ? 1u : 0u);
    }
}

TEST(Manifest, IsAllowedGamePathAloneChecksOnlyTheFolderRule) {
    EXPECT_TRUE(isAllowedGamePath("Globals/../x"));  // rule 8 alone: the other rules are the parser's
    EXPECT_TRUE(isAllowedGamePath("mSS32.dLL"));
    EXPECT_FALSE(isAllowedGamePath("Globals/"));
    EXPECT_FALSE(isAllowedGamePath("Global/x"));
    EXPECT_FALSE(isAllowedGamePath(""));
}

TEST(Manifest, LineMustHoldExactlyFiveFields) {
    const std::string good = "Imgs/a\t1\t1\t00000000\t" + kHash;
    struct Case {
        const char* name;
        std::string text;
        bool accepted;
    };
    const Case cases[] = {
        {"five", good + "\n", true},
        {"no final line feed", good, true},
        {"CR LF", good + "\r\n", true},
        {"four", "Imgs/a\t1\t1\t00000000\n", false},
        {"six with a trailing TAB", good + "\t\n", false},
        {"six", good + "\textra\n", false},
        {"two TABs in a row", "Imgs/a\t\t1\t1\t00000000\t" + kHash + "\n", false},
        {"two CRs keep one in the hash", good + "\r\r\n", false},
        {"blanks around a field", "Imgs/a\t 1\t1\t00000000\t" + kHash + "\n", false},
        {"one field", "Imgs/a\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parse(c.text).size(), c.accepted ? 1u : 0u);
    }
}

TEST(Manifest, NumberRules) {
    struct Case {
        std::string field;
        std::optional<int32_t> withZero;
        std::optional<int32_t> withoutZero;
    };
    const Case cases[] = {
        {"0", 0, std::nullopt},
        {"000", 0, std::nullopt},
        {"007", 7, 7},
        {"1", 1, 1},
        {"2147483647", 2147483647, 2147483647},
        {"2147483648", std::nullopt, std::nullopt},
        {"99999999999999999999", std::nullopt, std::nullopt},
        {"00000000002147483647", 2147483647, 2147483647},
        {"", std::nullopt, std::nullopt},
        {"+1", std::nullopt, std::nullopt},
        {"-1", std::nullopt, std::nullopt},
        {"-0", std::nullopt, std::nullopt},
        {" 1", std::nullopt, std::nullopt},
        {"1 ", std::nullopt, std::nullopt},
        {"1a", std::nullopt, std::nullopt},
        {"0x10", std::nullopt, std::nullopt},
        {"1.0", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("\"" + c.field + "\"");
        EXPECT_EQ(parseManifestNumber(c.field, true), c.withZero);
        EXPECT_EQ(parseManifestNumber(c.field, false), c.withoutZero);
    }
}

TEST(Manifest, SizeMayBeZeroButPackedSizeMayNot) {
    EXPECT_EQ(parse(line("Imgs/a", "0", "1")).size(), 1u);
    EXPECT_EQ(parse(line("Imgs/a", "1", "0")).size(), 0u);
    EXPECT_EQ(parse(line("Imgs/a", "2147483648", "1")).size(), 0u);
    EXPECT_EQ(parse(line("Imgs/a", "1", "2147483648")).size(), 0u);
    const FileManifest padded = parse(line("Imgs/a", "0010", "0003"));
    ASSERT_EQ(padded.size(), 1u);
    EXPECT_EQ(padded[0].size, 10);
    EXPECT_EQ(padded[0].packedSize, 3);
}

TEST(Manifest, HashRules) {
    struct Case {
        const char* name;
        std::string crc;
        std::string sha;
        bool accepted;
    };
    const Case cases[] = {
        {"lower case", "abcdef01", kHash, true},
        {"upper-case SHA-256 kept", "ABCDEF01", "ABCDEF" + kHash.substr(6), true},
        {"CRC of 7", "abcdef0", kHash, false},
        {"CRC of 9", "abcdef012", kHash, false},
        {"CRC with g", "abcdefg1", kHash, false},
        {"CRC with blank", "abcdef0 ", kHash, false},
        {"SHA of 63", "abcdef01", kHash.substr(1), false},
        {"SHA of 65", "abcdef01", kHash + "0", false},
        {"SHA with G", "abcdef01", "G" + kHash.substr(1), false},
        {"empty CRC", "", kHash, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parse(line("Imgs/a", "1", "1", c.crc, c.sha)).size(), c.accepted ? 1u : 0u);
    }
    const FileManifest upper = parse(line("Imgs/a", "1", "1", "abcdef01", "ABCDEF" + kHash.substr(6)));
    ASSERT_EQ(upper.size(), 1u);
    EXPECT_EQ(upper[0].sha256, "ABCDEF" + kHash.substr(6));
    EXPECT_EQ(upper[0].crc32, "ABCDEF01");
}

TEST(Manifest, RejectsDuplicatePathIgnoringAsciiCase) {
    struct Case {
        std::string first;
        std::string second;
        bool accepted;
    };
    std::vector<Case> cases = {
        {"Imgs/a.png", "Imgs/b.png", true},
        {"Imgs/a.png", "IMGS/A.PNG", false},
        {"mss32.dll", "MSS32.dll", false},
        // Only ASCII letters are folded: Cyrillic capitals are another name.
        {"Imgs/\xD0\xB0", "Imgs/\xD0\x90", true},
        // Neighbours of the letters: "[" and "{" (in the path table), "@" and "`" lie 32 apart like a
        // letter's two cases.
        {"Imgs/@", "Imgs/`", true},
        {"Imgs/Z[", "Imgs/z{", true},
        // Updating X writes X.gz and X.new beside it: a listed X.gz or X.new would be overwritten
        // or renamed away by the update of X, so such a pair rejects the text in either order.
        {"Imgs/Icons.ff.new", "Imgs/Icons.ff", false},
        {"Imgs/Icons.ff", "imgs/ICONS.FF.GZ", false},
        {"IMGS/ICONS.FF.NEW", "Imgs/icons.ff", false},
        {"Imgs/Icons.ff", "Imgs/Icons.ff.gzip", true},
        {"Imgs/Icons.ff", "Imgs/Icons.ffgz", true},
        {"Imgs/Icons.ff", "Imgs/Icons.ff.new.old", true},
        {"Imgs/Icons.ff.gz", "Imgs/Icons.ff.new", true},
    };
    for (char upper = 'A'; upper <= 'Z'; ++upper) {
        const char lower = static_cast<char>(upper - 'A' + 'a');
        cases.push_back({std::string("Imgs/") + upper, std::string("Imgs/") + lower, false});
        cases.push_back({std::string("Imgs/") + lower + "x", std::string("Imgs/") + upper + "X", false});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first + " and " + c.second);
        EXPECT_EQ(parse(line(c.first) + line(c.second)).size(), c.accepted ? 2u : 0u);
    }
}

TEST(Manifest, OneBadLineRejectsTheWholeTextAndLeavesNoTotal) {
    UpdateEngine engine;
    const std::string text = line("Imgs/a", "10") + line("Imgs/b", "20") + line("Music/c", "30");
    EXPECT_TRUE(parseManifest(text, engine).empty());
    EXPECT_EQ(engine.bytesTotal.load(), 0);
}

TEST(Manifest, EmptyLinesAreSkippedAndATextOfOnlyEmptyLinesIsEmpty) {
    EXPECT_TRUE(parse("").empty());
    EXPECT_TRUE(parse("\n\n\r\n\n").empty());
    const FileManifest manifest = parse("\n\r\n" + line("Imgs/a") + "\n\r\n" + line("Imgs/b") + "\n");
    ASSERT_EQ(manifest.size(), 2u);
    EXPECT_EQ(manifest[1].path, "Imgs/b");
    // A line of blanks is not empty: it is a malformed line.
    EXPECT_TRUE(parse(line("Imgs/a") + " \n").empty());
}

TEST(Manifest, ByteOrderMarkBecomesPartOfTheFirstPathAndRejectsTheText) {
    EXPECT_TRUE(parse("\xEF\xBB\xBF" + line("Imgs/a")).empty());
}

TEST(Manifest, BytesTotalIsTheSumOfAcceptedSizes) {
    UpdateEngine engine;
    engine.bytesTotal = 5;
    ASSERT_EQ(parseManifest(line("Imgs/a", "10") + line("Imgs/b", "0"), engine).size(), 2u);
    EXPECT_EQ(engine.bytesTotal.load(), 10);
}

TEST(Manifest, BytesTotalStopsAtTheLargestValueInsteadOfTurningNegative) {
    UpdateEngine engine;
    const std::string text =
        line("Imgs/a", "2147483647") + line("Imgs/b", "2147483647") + line("Imgs/c", "1");
    ASSERT_EQ(parseManifest(text, engine).size(), 3u);
    EXPECT_EQ(engine.bytesTotal.load(), 2147483647);
}

TEST(Manifest, KeepsTheOrderOfTheLines) {
    const FileManifest manifest = parse(line("Templates/z") + line("Globals/a") + line("mss32.dll"));
    ASSERT_EQ(manifest.size(), 3u);
    EXPECT_EQ(manifest[0].path, "Templates/z");
    EXPECT_EQ(manifest[1].path, "Globals/a");
    EXPECT_EQ(manifest[2].path, "mss32.dll");
}

}  // namespace
