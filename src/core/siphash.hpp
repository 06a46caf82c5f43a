// Streaming SipHash-1-3 with the all-zero 128-bit key: one compression round per
// 8-byte block, three finalisation rounds. Integers are fed little-endian and
// the whole stream is one message, so only the concatenated bytes matter.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrane {

class SipHasher13 {
public:
    SipHasher13() = default;

    void write_u64(uint64_t x) { write_le(x, 8); }
    void write_u32(uint32_t x) { write_le(x, 4); }
    void write_bytes(const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) write_le(p[i], 1);
    }

    uint64_t finish() const {
        uint64_t v0, v1, v2, v3;
        finalized(0xff, v0, v1, v2, v3);
        return v0 ^ v1 ^ v2 ^ v3;
    }

    // Two 64-bit values from the same stream, finished as SipHash's 128-bit
    // mode finishes (its first half is not finish()).
    void finish128(uint64_t& lo, uint64_t& hi) const {
        uint64_t v0, v1, v2, v3;
        finalized(0xee, v0, v1, v2, v3);
        lo = v0 ^ v1 ^ v2 ^ v3;
        v1 ^= 0xdd;
        round(v0, v1, v2, v3);
        round(v0, v1, v2, v3);
        round(v0, v1, v2, v3);
        hi = v0 ^ v1 ^ v2 ^ v3;
    }

    // H(x) of a single unsigned 64-bit integer.
    static uint64_t hash_u64(uint64_t x) {
        SipHasher13 h;
        h.write_u64(x);
        return h.finish();
    }

private:
    // The state after the last block (the length byte and the tail) and the
    // three finalisation rounds; `mark` is 0xff for 64-bit output, 0xee for
    // 128-bit.
    void finalized(uint64_t mark, uint64_t& v0, uint64_t& v1, uint64_t& v2, uint64_t& v3) const {
        v0 = v0_, v1 = v1_, v2 = v2_, v3 = v3_;
        const uint64_t b = (uint64_t(len_ & 0xff) << 56) | tail_;
        v3 ^= b;
        round(v0, v1, v2, v3);
        v0 ^= b;
        v2 ^= mark;
        round(v0, v1, v2, v3);
        round(v0, v1, v2, v3);
        round(v0, v1, v2, v3);
    }

    static uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }
    static void round(uint64_t& v0, uint64_t& v1, uint64_t& v2, uint64_t& v3) {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    }
    void compress(uint64_t m) {
        v3_ ^= m;
        round(v0_, v1_, v2_, v3_);
        v0_ ^= m;
    }
    // Appends the low `n` bytes of `x` (little-endian) to the stream.
    void write_le(uint64_t x, unsigned n) {
        len_ += n;
        const unsigned fill = ntail_;
        if (fill + n < 8) {
            tail_ |= x << (8 * fill);
            ntail_ += n;
            return;
        }
        const unsigned take = 8 - fill;  // bytes of x completing the block
        const uint64_t block = fill ? tail_ | (x << (8 * fill)) : x;
        compress(take == 8 && fill == 0 ? x : block);
        const unsigned left = n - take;
        tail_ = left ? (x >> (8 * take)) & ((uint64_t(1) << (8 * left)) - 1) : 0;
        ntail_ = left;
    }

    // Initial state of the all-zero key: the SipHash constants themselves.
    uint64_t v0_ = 0x736f6d6570736575ULL;
    uint64_t v1_ = 0x646f72616e646f6dULL;
    uint64_t v2_ = 0x6c7967656e657261ULL;
    uint64_t v3_ = 0x7465646279746573ULL;
    uint64_t tail_ = 0;
    unsigned ntail_ = 0;
    uint64_t len_ = 0;
};

}  // namespace kestrane
