#include "config/ini_reader.h"

#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

IniDocument parse(const std::string& text) {
    std::istringstream stream(text);
    return IniDocument(stream);
}

// The message of the error that parsing raises, or "" when the text parses.
std::string parseError(const std::string& text) {
    try {
        parse(text);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

std::vector<std::string> keyOrder(const IniSection& section) {
    std::vector<std::string> keys;
    for (const std::string* key : section.keyOrder) keys.push_back(*key);
    return keys;
}

std::vector<std::string> sectionOrder(const IniSection& section) {
    std::vector<std::string> names;
    for (const IniSection* child : section.sectionOrder) {
        for (const auto& [name, node] : child->parent->sections) {
            if (node.get() == child) names.push_back(name);
        }
    }
    return names;
}

TEST(IniReader, ValuesAreTrimmedAndCutAtTheFirstInlineComment) {
    const struct {
        const char* line;
        const char* key;
        const char* value;
    } cases[] = {
        {"key = a b # note", "key", "a b "},  // blanks before the comment stay
        {"key=x;y#z", "key", "x;y"},          // '#' is looked for before ';'
        {"key=x;y", "key", "x"},
        {"a = b = c", "a", "b = c"},
        {"\t key \t=\t value \t\r", "key", "value"},
        {"=empty key", "", "empty key"},
        {"  #a=b", "#a", "b"},  // a comment sign after blanks starts the key
        {"key=", "key", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        IniDocument document = parse(c.line);
        ASSERT_EQ(document.root.values.size(), 1u);
        EXPECT_EQ(document.root.values.begin()->first, c.key);
        EXPECT_EQ(document.root.values.begin()->second, c.value);
    }
}

TEST(IniReader, CommentsOnlyInTheFirstByteAndEveryLineIsCounted) {
    EXPECT_EQ(parseError("# comment\n; other\n\n   \n  # note\n"), "no '=' found on line #5");
    EXPECT_EQ(parseError("a=1\r\nb=2\r\nthird line\r\n"), "no '=' found on line #3");
    const IniDocument document = parse("# x=1\n;y=2\nz=3\n");
    EXPECT_EQ(document.root.values.size(), 1u);
}

TEST(IniReader, SectionNamesAreCutByPositionNotByBracket) {
    IniDocument document = parse("[paths] ; note\nk=1\n[ ui ]\nk=2\n[]\nk=3\n");
    EXPECT_EQ(sectionOrder(document.root), (std::vector<std::string>{"paths] ; not", " ui ", ""}));
    EXPECT_EQ(document.root.section("paths] ; not").value("k"), "1");
    EXPECT_EQ(document.root.section(" ui ").value("k"), "2");
    EXPECT_EQ(document.root.section("").value("k"), "3");
    EXPECT_EQ(document.root.section("ui").values.size(), 0u);
}

TEST(IniReader, HeaderShorterThanItsBracketsHasAnEmptyName) {
    IniDocument single = parse("[\nk=1\n");
    ASSERT_EQ(single.root.sectionOrder.size(), 1u);
    EXPECT_EQ(single.root.section("").value("k"), "1");

    IniDocument nested = parse("[a]\n[[\nk=2\n[[[x\nj=3\n");
    IniSection& a = nested.root.section("a");
    EXPECT_EQ(a.section("").value("k"), "2");
    EXPECT_EQ(a.section("").section("").value("j"), "3");
    EXPECT_EQ(a.section("").section("").depth, 3);

    EXPECT_EQ(parseError("[[\n"), "section with wrong depth on line #1");
    EXPECT_EQ(parseError("[[[\n"), "section with wrong depth on line #1");
}

TEST(IniReader, NestingFollowsTheBracketCount) {
    IniDocument document = parse("top=0\n[a]\n[[b]]\nin_b=1\n[[[deep]]]\n[c]\nin_c=2\n[[b]]\n");
    EXPECT_EQ(document.root.value("top"), "0");
    EXPECT_EQ(sectionOrder(document.root), (std::vector<std::string>{"a", "c"}));
    IniSection& a = document.root.section("a");
    EXPECT_EQ(a.section("b").value("in_b"), "1");
    EXPECT_EQ(a.section("b").section("deep").depth, 3);
    EXPECT_EQ(a.section("b").parent, &a);
    EXPECT_EQ(document.root.section("c").value("in_c"), "2");
    EXPECT_EQ(document.root.section("c").section("b").depth, 2);
    EXPECT_EQ(document.root.section("c").parent, &document.root);
}

TEST(IniReader, StructuralErrorsNameTheirLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"[a]\n[[[b]]]\n", "section with wrong depth on line #2"},
        {"[[b]]\n", "section with wrong depth on line #1"},
        {"[a]\nk=1\n\n[a]\n", "duplicate section name on the same level on line #4"},
        {"[a]\n[[x]]\n[[x]]\n", "duplicate section name on the same level on line #3"},
        {"k=1\nk=2\n", "duplicated key found on line #2"},
        {"[a]\nk=1\n[b]\nk=1\n[[c]]\nk = 1\nk=9\n", "duplicated key found on line #7"},
        {"key\n", "no '=' found on line #1"},
        {"\xEF\xBB\xBF[paths]\n", "no '=' found on line #1"},  // a byte-order mark is not skipped
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseError(c.text), c.error);
    }
    EXPECT_EQ(parseError("[a]\n[[x]]\n[b]\n[[x]]\n"), "");  // the same name under other parents
}

TEST(IniReader, ByteOrderMarkBecomesPartOfTheFirstKey) {
    IniDocument document = parse("\xEF\xBB\xBFkey=1\n");
    EXPECT_EQ(document.root.value("\xEF\xBB\xBFkey"), "1");
    EXPECT_EQ(document.root.value("key"), "");
}

TEST(IniReader, LookupsOfMissingEntriesAddEmptyOnesOutsideTheOrder) {
    IniDocument document = parse("b=2\na=1\n[s]\n");
    EXPECT_EQ(keyOrder(document.root), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(document.root.value("missing"), "");
    EXPECT_EQ(document.root.section("nowhere").value("x"), "");
    EXPECT_EQ(document.root.section("nowhere").depth, 0);
    EXPECT_EQ(keyOrder(document.root), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(document.root.sectionOrder.size(), 1u);
}

TEST(IniReader, LastLineWithoutLineFeedIsRead) {
    IniDocument document = parse("a=1\nb=2");
    EXPECT_EQ(document.root.value("b"), "2");
    EXPECT_EQ(parse("").root.values.size(), 0u);
}

}  // namespace
