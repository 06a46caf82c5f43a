#include "budget.hpp"

#include <cstdio>
#include <cstdlib>

#include "platform.hpp"

namespace kestrane {

ResultObjectCosts result_object_costs;

bool parse_byte_count(const char* s, uint64_t* out) {
    if (!*s) return false;
    uint64_t v = 0;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9') return false;
        if (mul_overflows(v, 10, &v) || add_overflows(v, uint64_t(*s - '0'), &v)) return false;
    }
    *out = v;
    return true;
}

namespace {

using platform::kNoLimit;

// The first line of a small file (a /proc or cgroup entry), without its
// newline; false when it cannot be read.
bool read_line(const std::string& path, std::string* line) {
    std::FILE* f = std::fopen(path.c_str(), "re");
    if (!f) return false;
    char buf[4096];
    const bool ok = std::fgets(buf, sizeof buf, f) != nullptr;
    std::fclose(f);
    if (!ok) return false;
    *line = buf;
    while (!line->empty() && (line->back() == '\n' || line->back() == ' ')) line->pop_back();
    return true;
}

// The least limit in `file` along `path` (a cgroup, "/a/b") and its
// ancestors below `mount`: each one's limit applies to everything under it.
// "max" (v2) is no limit; v1 writes its "unlimited" as a huge number.
uint64_t least_along(const std::string& mount, std::string path, const char* file) {
    uint64_t least = kNoLimit;
    for (;;) {
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        std::string text;
        uint64_t v;
        const std::string dir = path == "/" ? mount : mount + path;
        if (read_line(dir + "/" + file, &text) && parse_byte_count(text.c_str(), &v) && v < least) least = v;
        if (path.empty() || path == "/") return least;
        const size_t slash = path.rfind('/');
        path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
    }
}

}  // namespace

// /proc/self/cgroup has one line per hierarchy, "id:controllers:path": v2's
// is "0::path", v1's memory hierarchy lists "memory" among its controllers.
// Both can be present (a hybrid host); the lower limit holds.
uint64_t cgroup_memory_limit(const std::string& fs_root) {
    std::FILE* f = std::fopen((fs_root + "/proc/self/cgroup").c_str(), "re");
    if (!f) return kNoLimit;
    uint64_t least = kNoLimit;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, f)) {
        std::string line(buf);
        while (!line.empty() && line.back() == '\n') line.pop_back();
        const size_t a = line.find(':');
        const size_t b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        const std::string controllers = "," + line.substr(a + 1, b - a - 1) + ",";
        const std::string path = line.substr(b + 1);
        uint64_t v = kNoLimit;
        if (line.compare(0, b + 1, "0::") == 0)
            v = least_along(fs_root + "/sys/fs/cgroup", path, "memory.max");
        else if (controllers.find(",memory,") != std::string::npos)
            v = least_along(fs_root + "/sys/fs/cgroup/memory", path, "memory.limit_in_bytes");
        if (v < least) least = v;
    }
    std::fclose(f);
    return least;
}

const BudgetSetting& budget_setting() {
    static const BudgetSetting setting = [] {
        BudgetSetting s{platform::physical_memory(), {}};
        const char* root = std::getenv("KESTRANE_TEST_FS_ROOT");
        for (uint64_t v : {cgroup_memory_limit(root ? root : ""), platform::address_space_limit()})
            if (v < s.bytes) s.bytes = v;
        // Empty counts as unset, as with the interpreter's own variables.
        const char* text = std::getenv("KESTRANE_MEMORY_BUDGET");
        if (text && *text) {
            uint64_t v;
            if (!parse_byte_count(text, &v))
                s.unparsed = text;
            else if (v < s.bytes)
                s.bytes = v;
        }
        return s;
    }();
    return setting;
}

}  // namespace kestrane
