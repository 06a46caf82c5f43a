#include "platform.hpp"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include "budget.hpp"

namespace kestrane::platform {

size_t page_size() {
    static const size_t page = [] {
        const long p = sysconf(_SC_PAGESIZE);
        return p > 0 ? static_cast<size_t>(p) : size_t(4096);
    }();
    return page;
}

void* map_pages(size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void* remap_pages(void* base, size_t old_bytes, size_t new_bytes) {
#ifdef __linux__
    void* p = mremap(base, old_bytes, new_bytes, MREMAP_MAYMOVE);
    return p == MAP_FAILED ? nullptr : p;
#else
    (void)base, (void)old_bytes, (void)new_bytes;
    return nullptr;
#endif
}

bool can_remap() {
#ifdef __linux__
    return true;
#else
    return false;
#endif
}

void unmap_pages(void* base, size_t bytes) { munmap(base, bytes); }

uint64_t physical_memory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long size = sysconf(_SC_PAGE_SIZE);
    uint64_t phys;
    if (pages > 0 && size > 0 && !mul_overflows(uint64_t(pages), uint64_t(size), &phys)) return phys;
    return kNoLimit;
}

uint64_t address_space_limit() {
    rlimit r;
    if (getrlimit(RLIMIT_AS, &r) == 0 && r.rlim_cur != RLIM_INFINITY) return uint64_t(r.rlim_cur);
    return kNoLimit;
}

}  // namespace kestrane::platform
