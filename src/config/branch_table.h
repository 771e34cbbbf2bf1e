#pragma once

// The two update branches, always in this order; index 0 is the first branch.
struct Branch {
    const char* identifierUtf8;  // written into launcher.ini and the install marker
    const wchar_t* displayName;
    const char* serverPath;  // appended to an update server base URL
};

inline constexpr int kBranchCount = 2;
inline constexpr Branch kBranches[kBranchCount] = {
    {"lurra", L"LURRA 1.44", "/lurra"},
    {"ktvx", L"KORDAN TVX", "/ktvx"},
};
