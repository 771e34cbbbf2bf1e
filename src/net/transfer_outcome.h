#pragma once

#include <cstdint>
#include <string>

// What one HTTP transfer came to, as the run log tells it.
struct TransferOutcome {
    uint32_t statusCode = 0;        // the HTTP status read; 0 when no response arrived
    uint32_t error = 0;             // the error code of the call that failed; 0 when none did
    const char* problem = nullptr;  // a failure without an error code, such as "body cut short"
};

// "HTTP 404", "error 12029 ERROR_WINHTTP_CANNOT_CONNECT", "HTTP 200, body cut short".
[[nodiscard]] std::string describeTransferOutcome(const TransferOutcome& outcome);
