#pragma once

#include <functional>
#include <vector>

#include "base/wstring.h"

// The rows of the status line. The status line holds one entry per branch, "LURRA 1.44 — " and what
// happened to it, and a run's message may carry on over further lines ("...may not work
// correctly:\nsome files are in use..."). A line wider than the area breaks between words only; its
// further rows, and the lines that carry on an entry, are indented, so each entry reads as one block.
// Platform-free: the window measures with its fonts, the tests with character counts.

struct StatusRow {
    WString text;
    bool indented = false;
    bool continuesLine = false;  // a further row of a line that was broken
    bool startsEntry = false;    // a branch's entry begins here, after an earlier one
};

// `measure` gives a text's width in the units of `width` and `indent`. A single word wider than
// the room keeps a row of its own (the drawing cuts it).
[[nodiscard]] std::vector<StatusRow> breakStatusRows(const WString& text, float width, float indent,
                                                     const std::function<float(const WString&)>& measure);
