#include "update/launcher_record.h"

#include <gtest/gtest.h>
#include <ostream>

// Names in failure messages.
void PrintTo(LauncherVerdict verdict, std::ostream* out) {
    *out << (verdict == LauncherVerdict::Take       ? "Take"
             : verdict == LauncherVerdict::NotToday ? "NotToday"
                                                    : "Never");
}

namespace {

const std::string kX(64, 'a');
const std::string kY(64, 'b');
constexpr int64_t kNow = 1'800'000'000;
constexpr int64_t kDay = kLauncherRetrySeconds;

std::string failedLine(const std::string& checksum, int attempts, int64_t at) {
    return "failed " + checksum + " " + std::to_string(attempts) + " " + std::to_string(at) + "\n";
}

TEST(LauncherRecord, DecidesWhetherAPublishedLauncherIsTakenAgain) {
    struct Case {
        const char* name;
        std::string record;
        LauncherVerdict verdict;
    };
    const Case cases[] = {
        {"no record", "", LauncherVerdict::Take},
        // An exact comparison: a checksum cut short names no launcher that is published.
        {"the old record cut short", kX.substr(0, 10), LauncherVerdict::Take},
        {"a checksum cut short, failed a minute ago", failedLine(kX.substr(0, 63), 1, kNow - 60),
         LauncherVerdict::Take},
        {"a line without a checksum, and a checksum of one character",
         "failed \n" + failedLine(kX.substr(0, 1), 2, kNow - 60), LauncherVerdict::Take},
        {"the other branch's launcher", failedLine(kY, 1, kNow - 10), LauncherVerdict::Take},
        {"failed an hour ago", failedLine(kY, 1, kNow - 5) + failedLine(kX, 1, kNow - 3600),
         LauncherVerdict::NotToday},
        {"a line cut short after its checksum: failed once, time unknown", "failed " + kX,
         LauncherVerdict::Take},
        {"failed a day ago: tried again", failedLine(kX, 1, kNow - kDay), LauncherVerdict::Take},
        {"failed twice, the last yesterday", failedLine(kX, 2, kNow - kDay - 1), LauncherVerdict::Take},
        {"failed three times: never again", failedLine(kX, 3, kNow - 30 * kDay), LauncherVerdict::Never},
        {"a clock set back by a week", failedLine(kX, 1, kNow + 7 * kDay), LauncherVerdict::Take},
        {"the old record: one checksum, once at an unknown time", kX, LauncherVerdict::Take},
        {"the old record in upper case", std::string(64, 'A'), LauncherVerdict::Take},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(judgeLauncher(parseLauncherRecord(c.record), kX, kNow), c.verdict);
    }
}

}  // namespace
