#include "node_blocks.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "platform.hpp"

namespace kestrane {

namespace {

std::mutex kept_lock;
NodeBlock kept;

bool is_mapped(NodeBlock b) { return b.bytes >= kMapBytes; }

size_t page_rounded(size_t bytes) {
    const size_t page = platform::page_size();
    if (bytes > SIZE_MAX - page) throw std::bad_alloc();
    return (bytes + page - 1) / page * page;
}

// The kept block serves an array that needs at least half of it: a smaller
// one would hold, for as long as it lives, pages it never uses (a search that
// drops a large graph and keeps many small clones would keep a large block per
// clone). Half is the slack an array has anyway, as it grows by doubling.
NodeBlock take_kept(size_t bytes) {
    std::lock_guard<std::mutex> hold(kept_lock);
    if (!kept.base || kept.bytes < bytes || kept.bytes / 2 > bytes) return {};
    return std::exchange(kept, NodeBlock{});
}

NodeBlock map_block(size_t bytes) {
    const size_t size = page_rounded(bytes);
    void* p = platform::map_pages(size);
    if (!p) throw std::bad_alloc();
    return {p, size};
}

}  // namespace

NodeBlock regrow_node_block(NodeBlock old, size_t keep, size_t bytes) {
    if (bytes < kMapBytes) {
        // Small: the allocator's realloc, which often extends the block in place.
        void* p = std::realloc(old.base, bytes);
        if (!p) throw std::bad_alloc();
        return {p, bytes};
    }
    NodeBlock b = bytes >= kMinKeptBlock ? take_kept(bytes) : NodeBlock{};
    if (!b.base && is_mapped(old) && platform::can_remap()) {
        const size_t size = page_rounded(bytes);
        void* p = platform::remap_pages(old.base, old.bytes, size);
        if (!p) throw std::bad_alloc();
        return {p, size};
    }
    if (!b.base) b = map_block(bytes);
    if (keep) std::memcpy(b.base, old.base, keep);
    release_node_block(old);
    return b;
}

void release_node_block(NodeBlock block) {
    if (!block.base) return;
    if (!is_mapped(block)) return std::free(block.base);
    if (block.bytes >= kMinKeptBlock && block.bytes <= kMaxKeptBlock) {
        std::lock_guard<std::mutex> hold(kept_lock);
        // The larger block serves more arrays; the other goes back.
        if (block.bytes >= kept.bytes) std::swap(block, kept);
    }
    if (block.base) platform::unmap_pages(block.base, block.bytes);
}

}  // namespace kestrane
