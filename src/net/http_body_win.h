#pragma once

#include <windows.h>

#include <winhttp.h>

#include <cstdint>
#include <optional>

#include "net/transfer_outcome.h"

// The length a response announces for its body (Content-Length), or nothing when the body is sent
// in chunks or ends with the connection. WinHTTP reports a connection closed before the announced
// length as a normal end of the body, so readers compare what they received with this.
[[nodiscard]] std::optional<uint64_t> announcedBodyLength(HINTERNET request);

// The calling thread's record of its current request, which lastTransferOutcome() reports. Each
// failure is noted on the line after the call that failed.
[[nodiscard]] TransferOutcome& currentTransferOutcome();
