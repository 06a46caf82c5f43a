// Keyed hashing for the internal digests that decide which work an enumeration
// may skip. Pure C++.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>

#include "siphash.hpp"

namespace kestrane {

// A 128-bit digest (two independent 64-bit hashes) and its hash for unordered
// sets: the first half is already a keyed hash.
struct Digest128 {
    uint64_t a, b;
    bool operator==(const Digest128& o) const { return a == o.a && b == o.b; }
};
struct Digest128Hash {
    size_t operator()(const Digest128& d) const { return static_cast<size_t>(d.a); }
};

// A SipHash-1-3 stream that begins with a secret 128-bit key drawn at random
// once per process. Without the key its values cannot be predicted, so no
// input can be built to make two different states share a digest; a mix-up
// is left to chance alone. Values differ from run to run: use it only where
// a digest decides nothing visible except through a collision.
class KeyedHasher {
public:
    KeyedHasher() : h_(keyed_start()) {}

    void write_u64(uint64_t x) { h_.write_u64(x); }
    void write_u32(uint32_t x) { h_.write_u32(x); }
    uint64_t finish() const { return h_.finish(); }
    // A 128-bit digest of the stream: one pass over it instead of two
    // streams told apart by their first word.
    Digest128 finish128() const {
        Digest128 d;
        h_.finish128(d.a, d.b);
        return d;
    }

    // A stream that has taken `Domain` as its first word (the keyed start of
    // each domain is computed once).
    template <uint64_t Domain>
    static KeyedHasher in_domain() {
        static const KeyedHasher start = [] {
            KeyedHasher h;
            h.write_u64(Domain);
            return h;
        }();
        return start;
    }

    // The keyed hash of `x` in the stream named by `domain`.
    static uint64_t hash_u64(uint64_t x, uint64_t domain) {
        KeyedHasher h;
        h.write_u64(domain);
        h.write_u64(x);
        return h.finish();
    }

private:
    static const SipHasher13& keyed_start() {
        static const SipHasher13 start = [] {
            uint64_t k0, k1;
            try {
                std::random_device rd;
                k0 = (uint64_t(rd()) << 32) ^ rd();
                k1 = (uint64_t(rd()) << 32) ^ rd();
            } catch (...) {
                // No entropy source: the clock and an address still differ
                // between runs.
                k0 = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
                k1 = reinterpret_cast<uintptr_t>(&k0) ^
                     static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
            }
            SipHasher13 h;
            h.write_u64(k0);
            h.write_u64(k1);
            return h;
        }();
        return start;
    }

    SipHasher13 h_;
};

}  // namespace kestrane
