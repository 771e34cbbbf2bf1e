#pragma once

#include "base/wstring.h"

// The message of a refused game launch, in the interface language of the moment: the folder is not
// set; or Mss23.dll is lost; or base game files are missing (`missingItems`, the completeness list).
[[nodiscard]] WString launchRefusalText(const WString& folder, const WString& missingItems, bool mss23Lost);
