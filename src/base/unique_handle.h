#pragma once

#include <cstdio>
#include <memory>
#include <utility>

// One owner per handle. Traits give the native type, the empty value, the validity test and the
// close call; copies are deleted so a handle can never be closed twice.
template <typename Traits>
class UniqueHandle {
public:
    using Native = typename Traits::Native;

    explicit UniqueHandle(Native h = Traits::empty()) noexcept : raw(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : raw(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }

    [[nodiscard]] Native get() const noexcept { return raw; }
    [[nodiscard]] bool valid() const noexcept { return Traits::isValid(raw); }
    explicit operator bool() const noexcept { return valid(); }

    [[nodiscard]] Native release() noexcept { return std::exchange(raw, Traits::empty()); }
    void reset(Native h = Traits::empty()) noexcept {
        Native old = std::exchange(raw, h);
        if (Traits::isValid(old)) Traits::close(old);
    }

private:
    Native raw;
};

struct StdioFileTraits {
    using Native = std::FILE*;
    static Native empty() { return nullptr; }
    static bool isValid(Native f) { return f != nullptr; }
    static void close(Native f) { std::fclose(f); }
};
using UniqueFile = UniqueHandle<StdioFileTraits>;
