// The kept node block: which array takes it, and that it is never lost.
#include <cstring>

#include "check.hpp"
#include "node_blocks.hpp"

using kestrane::NodeBlock;
using kestrane::regrow_node_block;
using kestrane::release_node_block;

constexpr size_t MiB = size_t(1) << 20;

// A block of `bytes`, new (from no block).
static NodeBlock fresh(size_t bytes) { return regrow_node_block(NodeBlock{}, 0, bytes); }

int main() {
    // A released block of kept size is taken by the next array of comparable size.
    NodeBlock a = fresh(4 * MiB);
    void* const a_base = a.base;
    release_node_block(a);
    NodeBlock b = fresh(3 * MiB);
    CHECK(b.base == a_base);
    CHECK(b.bytes >= 3 * MiB);

    // An array that needs more than the kept block does not take it...
    release_node_block(b);
    NodeBlock c = fresh(8 * MiB);
    CHECK(c.base != a_base);
    CHECK(c.bytes >= 8 * MiB);
    std::memset(c.base, 1, 8 * MiB);
    // ...nor does one that needs less than half of it.
    NodeBlock d = fresh(MiB + 4096);
    CHECK(d.base != a_base);
    CHECK(d.bytes < 2 * MiB);

    // A mapped array that grows takes the kept block (not a remap that would
    // leave the kept block unreachable), with its contents copied over.
    NodeBlock e = fresh(MiB);
    std::memset(e.base, 7, MiB);
    NodeBlock f = regrow_node_block(e, MiB, 3 * MiB);
    CHECK(f.base == a_base);
    CHECK(static_cast<unsigned char*>(f.base)[MiB - 1] == 7);

    release_node_block(c);
    release_node_block(d);
    release_node_block(f);
    return CHECK_RESULT();
}
