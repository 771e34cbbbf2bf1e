#include "ui/rating_fetch_win.h"

#include "net/http_client_win.h"

namespace {

bool fetchBody(const std::string& url, std::string& body) {
    return fetchToMemory(url, body, nullptr, kMaxRatingBodyBytes);
}

}  // namespace

void fetchRatings(RatingState& state, std::string_view queryUrlPrefix) noexcept {
    collectRatings(state, queryUrlPrefix, fetchBody);
}
