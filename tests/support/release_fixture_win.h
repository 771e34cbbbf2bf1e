#pragma once

#include <string>
#include <vector>

// Runs the release fixture builder (tests/server/release_builder.py build) with the build tree's
// test signing key, from the Windows test process. `arguments` are further command-line words,
// for example {"--out", dir, "--version", "144", "--source", gameDir, "--wrong-crc", "Imgs/a"},
// with Linux paths. On failure `log`, when given, receives the builder's error output.
[[nodiscard]] bool runReleaseBuilder(const std::vector<std::string>& arguments, std::string* log = nullptr);

// The Linux path of the builder's public key counterpart (for checks on the Linux side).
[[nodiscard]] std::string testPublicKeyPath();
