// The run log as the launcher opens it at start-up: the size bound and whole lines.
#include <windows.h>

#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/run_log.h"
#include "support/test_env_win.h"

namespace {

TEST(RunLog, BecomesTheOneOlderLogOncePastOneMebibyteAtStartUp) {
    struct Case {
        const char* name;
        size_t logBytes;
        bool olderLogBefore;
        bool moved;
        std::string text = "first line\nsecond part";
        std::string shown = "first line\\\\nsecond part";  // as a regular expression
        int threads = 1;  // each writes kLinesEach lines of its own at the same time
    };
    constexpr int kLinesEach = 400;
    const Case cases[] = {
        {"exactly 1 MiB stays", kRunLogRotateBytes, false, false},
        {"one byte more becomes launcher.log.1", kRunLogRotateBytes + 1, false, true},
        {"a second rotation replaces the older launcher.log.1", kRunLogRotateBytes + 1, true, true},
        // Most players' folders have Cyrillic names: UTF-8 bytes from 0x80 up are text, not control
        // characters.
        {"a Cyrillic folder name stays readable", 10, false, false, "folder \"C:\\Игры\\Тарнвейл II\"",
         "folder \"C:\\\\Игры\\\\Тарнвейл II\""},
        // No line of another thread lands inside one: text and line end go out in one write.
        {"lines of eight threads at once stay whole", 10, false, false, "", "thread \\d line \\d+", 8},
    };
    ScratchDir dir;
    int caseNumber = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WString folder = dir / std::to_wstring(++caseNumber);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        const std::string before(c.logBytes, 'x');
        ASSERT_TRUE(writeFileBytes(folder + L"\\launcher.log", before));
        if (c.olderLogBefore) {
            ASSERT_TRUE(writeFileBytes(folder + L"\\launcher.log.1", "oldest"));
        }

        ASSERT_TRUE(openRunLog(folder));
        rotateRunLog();
        if (c.threads == 1) {
            logLine(c.text);
        } else {
            std::vector<std::thread> writers;
            for (int t = 0; t < c.threads; ++t) {
                writers.emplace_back([t] {
                    for (int i = 0; i < kLinesEach; ++i) {
                        logLine("thread " + std::to_string(t) + " line " + std::to_string(i));
                    }
                });
            }
            for (std::thread& writer : writers) writer.join();
        }
        closeRunLog();

        const std::string log = readFileBytes(folder + L"\\launcher.log").value_or("");
        const std::string lines = c.moved ? log : log.substr(std::min(log.size(), before.size()));
        const std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \[\d+\] )" + c.shown + "\r\n");
        int count = 0;
        for (size_t start = 0; start < lines.size(); ++count) {
            const size_t end = lines.find('\n', start);
            const std::string one = lines.substr(start, end == std::string::npos ? end : end + 1 - start);
            ASSERT_TRUE(std::regex_match(one, line)) << one.substr(0, 200);
            start = end == std::string::npos ? lines.size() : end + 1;
        }
        EXPECT_EQ(count, c.threads == 1 ? 1 : c.threads * kLinesEach);
        EXPECT_EQ(log.compare(0, before.size(), before) == 0, !c.moved);
        const std::optional<std::string> older = readFileBytes(folder + L"\\launcher.log.1");
        EXPECT_EQ(older.has_value(), c.moved);
        EXPECT_TRUE(!older || *older == before) << "launcher.log.1 is not the log that was moved aside";
    }
}

}  // namespace
