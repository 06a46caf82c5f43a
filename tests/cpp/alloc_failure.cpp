// A changing operation whose allocation fails throws bad_alloc and leaves the
// graph as it was, whichever of its allocations fails. The link step wraps the
// allocation functions the core calls (malloc, calloc, realloc, mmap, mremap,
// operator new) so that the Nth one can be made to fail.
#include <sys/mman.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <new>
#include <string>

#include "check.hpp"
#include "clone.hpp"
#include "graph.hpp"

using namespace kestrane;

namespace {

// 0: no failure armed; otherwise the allocations left until one fails.
long countdown = 0;

bool fail_now() { return countdown > 0 && --countdown == 0; }

}  // namespace

extern "C" {
void* __real_malloc(size_t);
void* __real_calloc(size_t, size_t);
void* __real_realloc(void*, size_t);
void* __real_mmap(void*, size_t, int, int, int, off_t);
void* __real_mremap(void*, size_t, size_t, int, ...);
void* __real__Znwm(size_t);  // operator new(size_t)

void* __wrap_malloc(size_t n) { return fail_now() ? nullptr : __real_malloc(n); }
void* __wrap_calloc(size_t n, size_t each) { return fail_now() ? nullptr : __real_calloc(n, each); }
void* __wrap_realloc(void* p, size_t n) { return fail_now() ? nullptr : __real_realloc(p, n); }
void* __wrap_mmap(void* at, size_t n, int prot, int flags, int fd, off_t off) {
    return fail_now() ? MAP_FAILED : __real_mmap(at, n, prot, flags, fd, off);
}
// The core never passes a new address (MREMAP_FIXED).
void* __wrap_mremap(void* p, size_t old_n, size_t n, int flags, ...) {
    return fail_now() ? MAP_FAILED : __real_mremap(p, old_n, n, flags);
}
void* __wrap__Znwm(size_t n) {
    if (fail_now()) throw std::bad_alloc();
    return __real__Znwm(n);
}
}

namespace {

std::string dump(const Graph& g) {
    std::string s = "root " + std::to_string(g.root_id) + "\n";
    auto list = [&s](const IdList& l) {
        s += " [";
        for (Link x : l) s += std::to_string(x) + ",";
        s += "]";
    };
    for (const Node& n : g.nodes) {
        s += std::to_string(int(n.kind())) + " " + std::to_string(n.payload.a) + " " +
             std::to_string(n.payload.b) + " " + std::to_string(n.parent_link);
        list(n.parents);
        list(n.options);
        list(n.children);
        s += "\n";
    }
    return s;
}

// Runs `op` on a copy of `g` with the copy's Nth allocation failing, for
// N = 1, 2, ... until `op` makes fewer than N allocations. After each failure
// the copy is as it was, and `op` then succeeds on it.
template <class Op>
void each_failure(const char* what, const Graph& g, Op op) {
    const std::string before = dump(g);
    Graph done = g;
    op(done);
    const std::string after = dump(done);
    long n = 1;
    for (;; ++n) {
        Graph copy = g;
        countdown = n;
        bool threw = false;
        try {
            op(copy);
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        const bool failed = countdown == 0;
        countdown = 0;
        if (!failed) {
            CHECK(!threw);
            break;
        }
        if (!threw || dump(copy) != before) {
            std::fprintf(stderr, "%s, allocation %ld failing: %s\n", what, n,
                         threw ? "the graph changed" : "no bad_alloc");
            ++check::failures;
        }
        op(copy);
        CHECK(dump(copy) == after);
    }
    // Each case is set up so that the operation allocates.
    if (n == 1) {
        std::fprintf(stderr, "%s: no allocation\n", what);
        ++check::failures;
    }
}

NodeId value(Graph& g) { return add_value_with_payload(g, uint32_t(g.size()), 0); }
NodeId op(Graph& g) { return add_op_with_payload(g, uint32_t(g.size())); }

// A graph of `n` nodes, its node array full.
Graph full_array(size_t n) {
    Graph g;
    while (g.size() < n) value(g);
    return g;
}

}  // namespace

int main() {
    // Link lists at capacity: two ids inline, four on the heap.
    {
        Graph g;
        const NodeId v = value(g), o = op(g);
        for (int i = 0; i < 2; ++i) connect_value_to_op(g, v, op(g));
        for (int i = 0; i < 2; ++i) connect_op_to_value(g, o, value(g));
        for (int i = 0; i < 4; ++i) connect_op_to_value(g, op(g), v);
        const NodeId spare = op(g);
        each_failure("connect_value_to_op", g, [&](Graph& c) { connect_value_to_op(c, v, spare); });
        each_failure("connect_op_to_value", g, [&](Graph& c) { connect_op_to_value(c, o, v); });
    }
    // Both of keep's lists grow: a failure in the second leaves the first as it was.
    {
        Graph g;
        const NodeId keep = value(g), other = value(g);
        for (const NodeId v : {keep, keep, other}) {
            connect_value_to_op(g, v, op(g));
            connect_op_to_value(g, op(g), v);
        }
        each_failure("merge_value_nodes", g,
                     [&](Graph& c) { merge_value_nodes(c, keep, other, true, true); });
    }
    // The node array grows from the allocator, into a mapping, and as a mapping.
    for (const size_t n : {size_t(8), kMapBytes / sizeof(Node) / 2, kMapBytes / sizeof(Node)}) {
        const Graph g = full_array(n);
        each_failure("add_value_with_payload", g, [](Graph& c) { add_value_with_payload(c, 1, 2); });
        each_failure("add_op_with_payload", g, [](Graph& c) { add_op_with_payload(c, 1); });
    }
    // Const inputs; under the sanitizers, no allocation is leaked on the way out.
    {
        Graph g;
        const NodeId root = value(g), top = op(g);
        connect_value_to_op(g, root, top);
        for (int i = 0; i < 3; ++i) connect_op_to_value(g, top, value(g));
        each_failure("clone_and_attach", g, [&](Graph& c) { clone_and_attach(c, c, g.size() - 1); });
    }
    return CHECK_RESULT();
}
