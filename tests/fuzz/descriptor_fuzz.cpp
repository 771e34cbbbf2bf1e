// libFuzzer target: the descriptor's integer rules never fail and agree with a plain reference
// reading (blanks, optional sign, digits, out of 32-bit range reads 0); a whole descriptor text is
// either applied or refused without leaving a partial value behind.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "update/release_info.h"
#include "update/update_engine.h"

namespace {

int32_t referenceNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return 0;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL) return 0;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return 0;
    return static_cast<int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (parseVersionNumber(text) != referenceNumber(text)) __builtin_trap();

    UpdateEngine engine;
    ReleaseInfo info;
    if (!applyReleaseDescriptor(engine, text, info)) {
        if (info.gameVersion != 0 || info.launcherVersion != 0 || !engine.pack.empty()) __builtin_trap();
    }
    return 0;
}
