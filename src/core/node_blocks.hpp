// Memory for node arrays. Pure C++.
#pragma once

#include <cstddef>

namespace kestrane {

constexpr size_t kCacheLine = 64;

// A node array's memory: `bytes` usable bytes at `base`. Small blocks come
// from the allocator (realloc often grows them in place). Large ones
// (kMapBytes and up, where the cache behaviour of a walk matters) are mapped
// from the system directly: page-aligned, so every node is one cache line;
// they grow by remapping their pages where the system can (Linux), so they
// do not copy what they hold and leave no freed copy resident in the
// allocator's heap. Growth copies where it cannot remap: into the kept block
// (see below), from an allocator block into a mapped one, and on systems
// without remapping.
struct NodeBlock {
    void* base = nullptr;
    size_t bytes = 0;
};

constexpr size_t kMapBytes = size_t(1) << 18;

// A block of at least `bytes` bytes whose first `keep` bytes are those of
// `old`, which it replaces (`old` is released, or remapped in place). Throws
// std::bad_alloc, leaving `old` as it was.
NodeBlock regrow_node_block(NodeBlock old, size_t keep, size_t bytes);
void release_node_block(NodeBlock block);

// A search clones and drops graphs of similar size over and over. A large
// block handed back to the system returns as fresh pages that each fault on
// first touch, which costs more than filling them; so one released block of
// kMinKeptBlock to kMaxKeptBlock bytes is kept, and the next array that needs
// at most that much, and at least half of it, takes it. The kept block is
// process-wide, like the allocator it stands in front of, and behind a mutex:
// the core does not know which lock, if any, its caller holds.
constexpr size_t kMinKeptBlock = size_t(1) << 20;
constexpr size_t kMaxKeptBlock = size_t(1) << 26;

}  // namespace kestrane
