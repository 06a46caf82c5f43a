#include "node_blocks.hpp"

#include <cstdlib>
#include <mutex>
#include <utility>

namespace kestrane {

namespace {
std::mutex kept_lock;
void* kept_block = nullptr;
size_t kept_size = 0;
}  // namespace

void* take_node_block(size_t bytes, size_t* size) {
    if (bytes < kMinKeptBlock) return nullptr;
    std::lock_guard<std::mutex> hold(kept_lock);
    if (!kept_block || kept_size < bytes) return nullptr;
    void* block = kept_block;
    *size = kept_size;
    kept_block = nullptr;
    kept_size = 0;
    return block;
}

void give_node_block(void* block, size_t size) {
    if (size >= kMinKeptBlock && size <= kMaxKeptBlock) {
        std::lock_guard<std::mutex> hold(kept_lock);
        // The larger block serves more arrays; the other goes back.
        if (size >= kept_size) std::swap(block, kept_block), std::swap(size, kept_size);
    }
    std::free(block);
}

}  // namespace kestrane
