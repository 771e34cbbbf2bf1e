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

// The fields of one table line, TAB-separated, with the table's escapes \xNN undone.
std::vector<std::string> fields(std::string_view line) {
    std::vector<std::string> out(1);
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\t') {
            out.emplace_back();
        } else if (line.substr(i, 2) == "\\x") {
            out.back() += static_cast<char>(std::stoi(std::string(line.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else {
            out.back() += line[i];
        }
    }
    return out;
}

TEST(ManifestPathCases, TheReaderDecidesEveryCaseAsTheTableSays) {
    const std::string_view table(kCases);
    int cases = 0;
    for (size_t start = 0; start < table.size();) {
        const std::string_view line = nextListLine(table, start);
        if (line.empty() || line.front() == '#') continue;
        const std::vector<std::string> row = fields(line);
        ASSERT_GE(row.size(), 4u) << line;
        SCOPED_TRACE(row[2]);
        const bool accepted = row[0] == "accept";
        std::string text;
        for (size_t i = 3; i < row.size(); ++i)
            text += row[i] + "\t10\t5\t0a1b2c3d\t" + std::string(64, 'a') + "\n";
        EXPECT_EQ(!parseManifestText(text).empty(), accepted);
        // Whatever the reader rejects, the publisher must refuse.
        EXPECT_TRUE(accepted || row[1] == "refuse");
        ++cases;
    }
    EXPECT_GE(cases, 50);
}

}  // namespace
