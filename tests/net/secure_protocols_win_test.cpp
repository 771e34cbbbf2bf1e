// The protocols a session offers: TLS 1.0 to 1.2 always, TLS 1.3 where the system knows it, never
// SSL 3.0, against a server that accepts TLS 1.2 and newer only, as many now do.
#include <windows.h>

#include <gtest/gtest.h>

#include "net/http_client_win.h"
#include "support/http_test_fixture_win.h"
#include "support/log_capture_win.h"

namespace {

TEST(SecureProtocols, TheNewestTheSystemKnowsAndNeverSsl3) {
    ScratchDir dir;
    TestServer server(dir / L"server", TestServerOptions{{}, 2, 0, 0});
    ASSERT_TRUE(server.started()) << server.startFailure();
    ASSERT_TRUE(server.publish("patch/latest.txt", "version=145\n"));
    LogCapture log(dir.path());
    ASSERT_TRUE(log.ready());
    struct Case {
        const char* name;
        WindowsForTests windows;
        const char* logged;
    };
    // The Windows 7 stand-in starts each session with that system's own SSL 3.0 and TLS 1.0 and
    // refuses the TLS 1.3 flag: without the launcher's own choice, and without its second try
    // after the refusal, the server refuses the handshake.
    // A server of its own for each: Wine keeps connections for later sessions, and a kept one would
    // skip the handshake.
    const Case cases[] = {
        {"this system", WindowsForTests::Actual, "secure protocols: TLS 1.0, TLS 1.1, TLS 1.2, TLS 1.3"},
        {"Windows 7", WindowsForTests::Windows7,
         "secure protocols: TLS 1.0, TLS 1.1, TLS 1.2 (the system refused TLS 1.3)"},
    };
    for (size_t i = 0; i < 2; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        setWindowsForTests(c.windows);
        const size_t logged = log.mark();
        std::string body;
        EXPECT_TRUE(fetchToMemory(server.httpsUrl(i) + "/patch/latest.txt", body))
            << describeTransferOutcome(lastTransferOutcome());
        EXPECT_EQ(log.linesWith(c.logged, logged).size(), 1u);
        resetConnection();
    }
    setWindowsForTests(WindowsForTests::Actual);
    EXPECT_TRUE(log.linesWith("SSL 3.0").empty());
    EXPECT_EQ(log.linesWith("secure protocols:").size(), 2u) << "one line for the first session of each";
}

}  // namespace
