// Memory for node arrays, kept warm between graphs. Pure C++.
#pragma once

#include <cstddef>

namespace kestrane {

// A search clones and drops graphs of similar size over and over. A large
// block handed back to the system returns as fresh pages that each fault on
// first touch, which costs more than filling them; so the block of one
// dropped array is kept for the next array that fits in it.
//
// Process-wide, like the allocator it stands in front of; safe to call from
// any thread. Only blocks of at least kMinKeptBlock bytes are kept, at most
// one, and at most kMaxKeptBlock bytes.
constexpr size_t kMinKeptBlock = size_t(1) << 20;
constexpr size_t kMaxKeptBlock = size_t(1) << 26;

// A kept block of at least `bytes` bytes (its size in *size), or nullptr.
void* take_node_block(size_t bytes, size_t* size);
// Keeps `block` (from malloc or realloc, `size` bytes) or frees it.
void give_node_block(void* block, size_t size);

}  // namespace kestrane
