#pragma once

#include <string_view>

#include "base/constants.h"
#include "content/rating.h"

// The body of the rating thread, started once by the run operation (runLauncher in
// ui/frame_loop_win.cpp) as a detached thread. Four GET requests on this thread's own HTTP session
// (the query URL prefix followed by 0 to 3), status 200 only, no retry; then `failed` and `loaded`
// are set, in that order, whatever happened. The state must outlive the thread: the launcher never
// destroys its application object, and the thread ends with the process. Tests pass the test
// server's prefix.
void fetchRatings(RatingState& state, std::string_view queryUrlPrefix = kRatingQueryUrlPrefix) noexcept;
