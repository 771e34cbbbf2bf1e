// The manifest reader over the path table that the publisher's tests read as well: a path the
// reader rejects must be one the publisher refuses, so that no release a maintainer publishes can
// come to players as "corrupted patch info".
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "update/manifest.h"

namespace {

constexpr char kCases[] =
#include "update/manifest_path_cases.inc"
    ;

struct PathCase {
    bool accepted = false;
    bool refusedByPublisher = false;
    std::string what;
    std::vector<std::string> paths;
};

// The table's escapes: \t, \\ and \xNN.
std::string unescape(std::string_view field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 >= field.size()) {
            out += field[i];
        } else if (field[i + 1] == 't') {
            out += '\t';
            ++i;
        } else if (field[i + 1] == 'x' && i + 3 < field.size()) {
            out += static_cast<char>(std::stoi(std::string(field.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else {
            out += field[i + 1];
            ++i;
        }
    }
    return out;
}

std::vector<PathCase> readCases() {
    std::vector<PathCase> cases;
    std::string_view text(kCases);
    size_t start = 0;
    while (start < text.size()) {
        const std::string_view line = nextListLine(text, start);
        if (line.empty() || line.front() == '#') continue;
        std::vector<std::string_view> fields;
        size_t from = 0;
        for (size_t tab = line.find('\t'); tab != std::string_view::npos; tab = line.find('\t', from)) {
            fields.push_back(line.substr(from, tab - from));
            from = tab + 1;
        }
        fields.push_back(line.substr(from));
        PathCase row;
        row.accepted = fields[0] == "accept";
        row.refusedByPublisher = fields.size() > 1 && fields[1] == "refuse";
        row.what = fields.size() > 2 ? std::string(fields[2]) : "(malformed row)";
        for (size_t i = 3; i < fields.size(); ++i) row.paths.push_back(unescape(fields[i]));
        cases.push_back(row);
    }
    return cases;
}

TEST(ManifestPathCases, TheReaderDecidesEveryCaseAsTheTableSays) {
    const std::vector<PathCase> cases = readCases();
    ASSERT_GE(cases.size(), 50u);
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.paths.empty());
        std::string text;
        for (const std::string& path : c.paths) {
            text += path + "\t10\t5\t0a1b2c3d\t" + std::string(64, 'a') + "\n";
        }
        const FileManifest manifest = parseManifestText(text);
        EXPECT_EQ(!manifest.empty(), c.accepted);
        // Whatever the reader rejects, the publisher must refuse.
        EXPECT_TRUE(c.accepted || c.refusedByPublisher);
    }
}

}  // namespace
