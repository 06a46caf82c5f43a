// An open-addressing set of hash values for the enumerations' seen sets. Pure C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "budget.hpp"
#include "keyed_hash.hpp"

namespace kestrane {

// A set of 64-bit hash values or 128-bit digests: membership only. One flat
// table with linear probing, at most half full, so an insert costs a probe or
// two and no allocation of its own; the table is held in a MemoryBudget,
// which refuses a growth beyond it before anything is allocated.
//
// The slot of a key comes from its bits mixed with a per-process secret, so
// values chosen to share their low bits (a fingerprint can be computed by
// anyone) do not pile up in one run of slots.
template <class Key>
class FlatSet {
public:
    explicit FlatSet(MemoryBudget& budget) : budget_(budget) {}
    FlatSet(const FlatSet&) = delete;
    FlatSet& operator=(const FlatSet&) = delete;
    ~FlatSet() { budget_.release(bytes(slots_.size())); }

    // Whether `key` was new (it is in the set afterwards).
    bool insert(const Key& key) {
        if (is_empty(key)) {
            if (has_empty_) return false;
            reserve_one();
            has_empty_ = true;
            ++size_;
            return true;
        }
        if (2 * (size_ + 1) > slots_.size()) grow();
        for (size_t i = slot(key);; i = (i + 1) & mask_) {
            Key& s = slots_[i];
            if (is_empty(s)) {
                s = key;
                ++size_;
                return true;
            }
            if (s == key) return false;
        }
    }
    size_t size() const { return size_; }

private:
    static bool is_empty(const Key& k) { return k == Key{}; }
    static uint64_t bits(uint64_t k) { return k; }
    static uint64_t bits(const Digest128& d) { return d.a; }
    size_t slot(const Key& key) const {
        static const uint64_t secret = KeyedHasher::hash_u64(0, 0x5e7);
        return static_cast<size_t>(((bits(key) ^ secret) * 0x9E3779B97F4A7C15ull) >> shift_);
    }
    static uint64_t bytes(size_t slots) { return uint64_t(slots) * sizeof(Key); }
    // The key that sits in no slot (the all-zero one) needs no room, but is
    // counted like the others.
    void reserve_one() {
        if (2 * (size_ + 1) > slots_.size()) grow();
    }
    void grow() {
        const size_t n = slots_.empty() ? kFirstSlots : 2 * slots_.size();
        budget_.add(bytes(n));
        std::vector<Key> old;
        try {
            old.swap(slots_);
            slots_.assign(n, Key{});
        } catch (...) {
            old.swap(slots_);
            budget_.release(bytes(n));
            throw;
        }
        mask_ = n - 1;
        shift_ = 64 - log2(n);
        for (const Key& k : old) {
            if (is_empty(k)) continue;
            size_t i = slot(k);
            while (!is_empty(slots_[i])) i = (i + 1) & mask_;
            slots_[i] = k;
        }
        budget_.release(bytes(old.size()));
    }
    static unsigned log2(size_t n) {
        unsigned b = 0;
        while ((size_t(1) << b) < n) ++b;
        return b;
    }

    static constexpr size_t kFirstSlots = 128;
    MemoryBudget& budget_;
    std::vector<Key> slots_;
    size_t mask_ = 0;
    unsigned shift_ = 64;
    size_t size_ = 0;
    bool has_empty_ = false;
};

}  // namespace kestrane
