#include <windows.h>

#include <gtest/gtest.h>

#include "net/http_client_win.h"

namespace {

TEST(CrackUrl, SplitsHostPortPathAndQuery) {
    const struct {
        std::string url;
        const wchar_t* host;
        uint16_t port;
        const wchar_t* path;
        bool secure;
    } cases[] = {
        {"https://updates.example.net/patch/latest.txt", L"updates.example.net", 443, L"/patch/latest.txt",
         true},
        {"http://updates.example.net/patch/latest.txt", L"updates.example.net", 80, L"/patch/latest.txt",
         false},
        {"https://localhost:8444/patch", L"localhost", 8444, L"/patch", true},
        {"https://rating.example.net/v1/top?diff=3", L"rating.example.net", 443, L"/v1/top?diff=3", true},
        {"HTTPS://Example.NET:443/a%20b", L"Example.NET", 443, L"/a%20b", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const auto parts = crackUrl(c.url);
        ASSERT_TRUE(parts.has_value());
        EXPECT_EQ(parts->host, c.host);
        EXPECT_EQ(parts->port, c.port);
        EXPECT_EQ(parts->path, c.path);
        EXPECT_EQ(parts->secure, c.secure);
    }
}

TEST(CrackUrl, RejectsOtherSchemesOverlongPartsAndBytesOutsidePrintableAscii) {
    const std::string host255(255, 'h');
    const std::string path2047 = "/" + std::string(2046, 'p');
    ASSERT_TRUE(crackUrl("https://" + host255 + "/x").has_value()) << "a host of 255 characters fits";
    ASSERT_TRUE(crackUrl("https://h" + path2047).has_value()) << "a path of 2047 characters fits";

    const struct {
        const char* what;
        std::string url;
    } cases[] = {
        {"ftp", "ftp://example.net/latest.txt"},
        {"file", "file:///C:/latest.txt"},
        {"no scheme", "example.net/latest.txt"},
        {"empty", ""},
        {"host of 256 characters", "https://" + host255 + "h/x"},
        {"path of 2048 characters", "https://h" + path2047 + "p"},
        {"query past 2047 characters", "https://h/a?" + std::string(2046, 'q')},
        {"carriage return", "https://h/a\rb"},
        {"line feed", "https://h/a\nb"},
        {"byte above 0x7F", "https://h/\xD0\x98"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(crackUrl(c.url).has_value());
    }
}

}  // namespace
