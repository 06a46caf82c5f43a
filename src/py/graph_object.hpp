// The RustGraph object: a graph record with its access flag.
#pragma once

#include <Python.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "../core/graph.hpp"
#include "compat.hpp"
#include "state.hpp"

namespace kestrane::py {

// Access flag: > 0 shared holders, -1 one exclusive holder, 0 free.
struct GraphObject {
    PyObject_HEAD std::atomic<int64_t> borrow;
    Graph graph;
};

inline bool is_graph(PyObject* o) { return Py_TYPE(o) == process.graph_type; }

// A new object of `type` (RustGraph, which cannot be subclassed; tp_new
// passes it in) holding `g` (moved in).
PyObject* new_graph_object(PyTypeObject* type, Graph&& g);
// A new RustGraph holding `g`; throws PyErrSet.
PyObject* wrap_graph(Graph&& g);
void destroy_graph_object(PyObject* o);

enum class Access { None, Shared, Exclusive };

// One access held on a graph object, and by which thread; kept in a
// process-wide table (see graph_object.cpp).
struct Hold {
    GraphObject* obj;  // null while the entry is free
    Access kind;
    uintptr_t thread;
    Hold* next_free;
};

namespace holds {
extern Hold* free_list;  // guarded by the interpreter lock
// Adds entries to the free list; throws std::bad_alloc.
void add_block();

// This thread, as the forked child's one thread still is.
inline uintptr_t this_thread() {
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 11 && \
    (defined(__x86_64__) || defined(__aarch64__))
    return reinterpret_cast<uintptr_t>(__builtin_thread_pointer());  // what pthread_self() returns
#else
    return reinterpret_cast<uintptr_t>(pthread_self());
#endif
}
}  // namespace holds

// Holds shared or exclusive access to one graph object until destroyed.
class AccessGuard {
public:
    AccessGuard() = default;
    AccessGuard(const AccessGuard&) = delete;
    AccessGuard& operator=(const AccessGuard&) = delete;
    // A thread that the host is ending (no thread state: a forced unwind at
    // exit) leaves its access held: without the lock it may touch nothing
    // shared, and the process is ending.
    ~AccessGuard() {
        if (hold_ && has_thread_state()) release();
    }

    // False when refused (nothing is set); see take() for the raising form.
    //
    // Every read and write of the flag happens on a thread that holds the
    // interpreter lock, with no Python code (which could let another thread
    // run) between a read and the write that follows it; the module does not
    // declare itself free-threading safe, so the host keeps the lock on.
    // Plain loads and stores are therefore enough, and save a locked
    // instruction on every call.
    bool try_take(GraphObject* obj, Access kind) {
        if (hold_) release();
        if (kind == Access::None) return true;
        std::atomic<int64_t>& flag = obj->borrow;
        const int64_t cur = flag.load(std::memory_order_relaxed);
        if (kind == Access::Exclusive ? cur != 0 : cur < 0) return false;
        if (!holds::free_list) holds::add_block();
        Hold* h = holds::free_list;
        holds::free_list = h->next_free;
        *h = Hold{obj, kind, holds::this_thread(), nullptr};
        flag.store(kind == Access::Exclusive ? -1 : cur + 1, std::memory_order_relaxed);
        hold_ = h;
        return true;
    }
    // Raises RuntimeError "Already mutably borrowed" when shared access is
    // refused, "Already borrowed" when exclusive access is (exact text:
    // callers match it).
    void take(GraphObject* obj, Access kind) {
        if (!try_take(obj, kind)) refuse(kind);
    }
    // On a thread that holds its thread state (the destructor checks).
    void release() {
        if (!hold_) return;
        give_up(hold_);
        hold_ = nullptr;
    }

    // In a child process just forked: gives up every access held by another
    // thread of the parent. Those threads do not exist in the child, so their
    // calls never end there; the forking thread's own calls go on and end as
    // usual.
    static void release_other_threads();

private:
    [[noreturn]] static void refuse(Access kind);
    static void give_up(Hold* h) {
        std::atomic<int64_t>& flag = h->obj->borrow;
        flag.store(h->kind == Access::Exclusive ? 0 : flag.load(std::memory_order_relaxed) - 1,
                   std::memory_order_relaxed);
        h->obj = nullptr;
        h->next_free = holds::free_list;
        holds::free_list = h;
    }

    Hold* hold_ = nullptr;
};

}  // namespace kestrane::py
