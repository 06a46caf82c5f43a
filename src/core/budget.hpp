// The memory budget of the enumerations, and the error for a result or a count
// too large to hold. Pure C++.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>

#include "errors.hpp"

namespace kestrane {

// *r = a + b (or a * b); true when that does not fit in 64 bits.
inline bool add_overflows(uint64_t a, uint64_t b, uint64_t* r) {
    *r = a + b;
    return *r < a;
}
inline bool mul_overflows(uint64_t a, uint64_t b, uint64_t* r) {
    *r = a * b;
    return a != 0 && *r / a != b;
}

// The bytes one call may hold: the machine's physical memory, or fewer when
// the environment variable KESTRANE_MEMORY_BUDGET gives a smaller decimal
// number of bytes (read once, at the first use; a way to test the limits
// without filling the machine). On a host that overcommits, allocating beyond
// physical memory ends with the process killed instead of with an error, so
// the enumerations stop before that.
inline uint64_t memory_budget() {
    static const uint64_t bytes = [] {
        uint64_t b = ~uint64_t(0);
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long size = sysconf(_SC_PAGE_SIZE);
        uint64_t phys;
        if (pages > 0 && size > 0 && !mul_overflows(uint64_t(pages), uint64_t(size), &phys)) b = phys;
        if (const char* s = std::getenv("KESTRANE_MEMORY_BUDGET")) {
            char* end = nullptr;
            errno = 0;
            const unsigned long long v = std::strtoull(s, &end, 10);
            if (end != s && *end == '\0' && errno == 0 && v < b) b = v;
        }
        return b;
    }();
    return bytes;
}

// What one call holds in its result and its growing working sets, counted as
// they grow against memory_budget(). `what` names the call's result in the
// error: "{what} exceeds the memory budget".
class MemoryBudget {
public:
    explicit MemoryBudget(const char* what) : what_(what), limit_(memory_budget()) {}

    // Holds `count` more items of `each` bytes.
    void add(uint64_t count, uint64_t each) { add(bytes(count, each)); }
    void add(uint64_t n) {
        if (add_overflows(held_, n, &held_) || held_ > limit_) fail();
    }
    void release(uint64_t n) { held_ = n < held_ ? held_ - n : 0; }
    // Whether `n` bytes more could be held, without holding them.
    void check(uint64_t n) const {
        uint64_t total;
        if (add_overflows(held_, n, &total) || total > limit_) fail();
    }

    // count * each, or the budget's error when that is beyond 64 bits.
    uint64_t bytes(uint64_t count, uint64_t each) const {
        uint64_t r;
        if (mul_overflows(count, each, &r)) fail();
        return r;
    }
    uint64_t sum(uint64_t a, uint64_t b) const {
        uint64_t r;
        if (add_overflows(a, b, &r)) fail();
        return r;
    }

    [[noreturn]] void fail() const { throw TooLarge(std::string(what_) + " exceeds the memory budget"); }

private:
    const char* what_;
    uint64_t limit_;
    uint64_t held_ = 0;
};

// Rough bytes of one entry of an unordered set of small keys: the node, its
// allocation overhead and a bucket.
constexpr uint64_t kSetEntryBytes = 64;

// Rough bytes of the Python objects a result becomes: a list object per list,
// and a pointer plus an int object per element.
constexpr uint64_t kPyListBytes = 72;
constexpr uint64_t kPyIntBytes = 8 + 32;

}  // namespace kestrane
