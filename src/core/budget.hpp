// The memory budget of the enumerations, and the error for a result or a count
// too large to hold. Pure C++.
#pragma once

#include <cstdint>
#include <string>

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

// What the enumerations may hold, worked out once per process (at import).
struct BudgetSetting {
    uint64_t bytes;
    // KESTRANE_MEMORY_BUDGET as given when it is not a decimal number of
    // bytes (the module refuses to import then); empty otherwise.
    std::string unparsed;
};

// The bytes one call may hold: the least of the machine's physical memory,
// the memory limit of the cgroup the process runs in (v2 `memory.max`, v1
// `memory.limit_in_bytes`, on its cgroup and every ancestor) and the
// address-space limit (RLIMIT_AS); fewer when KESTRANE_MEMORY_BUDGET gives a
// smaller decimal number of bytes, never more. On a host that overcommits,
// allocating beyond memory ends with the process killed instead of with an
// error (by the kernel's OOM killer, or a container's or a job scheduler's),
// so the enumerations stop before that.
//
// KESTRANE_TEST_FS_ROOT, for tests only, names a directory that stands for
// `/` where /proc/self/cgroup and /sys/fs/cgroup are read.
const BudgetSetting& budget_setting();
inline uint64_t memory_budget() { return budget_setting().bytes; }

// The limit that the cgroup files under `fs_root` (normally "") give this
// process; ~0 when none applies.
uint64_t cgroup_memory_limit(const std::string& fs_root);

// A whole decimal number of bytes, no sign or space; false when `s` is not one
// or does not fit in 64 bits.
bool parse_byte_count(const char* s, uint64_t* out);

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

// Rough bytes of the objects the caller makes of a result (the Python
// binding: lists, ints, tuples, graph objects), which the enumerations count
// against the budget with what they hold themselves. The core knows nothing
// of them: the caller sets them once, before any call; zero otherwise.
struct ResultObjectCosts {
    uint64_t list = 0;     // a list object
    uint64_t element = 0;  // one element of a list of ids: its slot and its object
    uint64_t pair = 0;     // a (nodes, score) pair
    uint64_t score = 0;    // a score's object
    uint64_t graph = 0;    // the object that wraps a result graph
};
extern ResultObjectCosts result_object_costs;

}  // namespace kestrane
