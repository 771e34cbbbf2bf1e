#pragma once

#include <string>

// Paths and every user-visible text are UTF-16 (on Windows; the host build holds the same code
// units in its wider wchar_t). Server texts, INI text and manifest paths stay UTF-8 byte strings.
using WString = std::wstring;
