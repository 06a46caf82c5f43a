// The few calls to the operating system the core makes, in one place: pages
// mapped from the system and what the machine allows a process to hold.
// POSIX (Linux and macOS); CMake refuses any other system. Pure C++.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrane::platform {

constexpr uint64_t kNoLimit = ~uint64_t(0);

size_t page_size();
// `bytes` (a multiple of page_size()) of zeroed pages, or nullptr.
void* map_pages(size_t bytes);
// The pages at `base` grown (or shrunk) from `old_bytes` to `new_bytes`, with
// their contents, wherever they now are; nullptr when the system cannot remap
// (then the caller copies) or has no room (the old pages stay as they were).
void* remap_pages(void* base, size_t old_bytes, size_t new_bytes);
// Whether remap_pages() can ever succeed here.
bool can_remap();
void unmap_pages(void* base, size_t bytes);

// The machine's physical memory, and the process's address-space limit
// (RLIMIT_AS); kNoLimit when unknown or unlimited.
uint64_t physical_memory();
uint64_t address_space_limit();

}  // namespace kestrane::platform
