#include "ui/rating_fetch_win.h"

#include "base/run_log.h"
#include "net/http_client_win.h"

namespace {

bool fetchBody(const std::string& url, std::string& body) {
    const bool fetched = fetchToMemory(url, body, nullptr, kMaxRatingBodyBytes);
    logLine("rating " + url + ": " + describeTransferOutcome(lastTransferOutcome()) +
            (fetched ? ", " + std::to_string(body.size()) + " bytes" : std::string()));
    return fetched;
}

}  // namespace

void fetchRatings(RatingState& state, std::string_view queryUrlPrefix) noexcept {
    collectRatings(state, queryUrlPrefix, fetchBody);
}
