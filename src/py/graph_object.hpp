// The RustGraph object: a graph record with its access flag.
#pragma once

#include <Python.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "../core/graph.hpp"
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
struct Hold;

// Holds shared or exclusive access to one graph object until destroyed.
class AccessGuard {
public:
    AccessGuard() = default;
    AccessGuard(const AccessGuard&) = delete;
    AccessGuard& operator=(const AccessGuard&) = delete;
    ~AccessGuard() { release(); }

    // False when refused (nothing is set); see take() for the raising form.
    bool try_take(GraphObject* obj, Access kind);
    // Raises RuntimeError "Already mutably borrowed" when shared access is
    // refused, "Already borrowed" when exclusive access is (exact text:
    // callers match it).
    void take(GraphObject* obj, Access kind);
    void release();

    // In a child process just forked: gives up every access held by another
    // thread of the parent. Those threads do not exist in the child, so their
    // calls never end there; the forking thread's own calls go on and end as
    // usual.
    static void release_other_threads();

private:
    Hold* hold_ = nullptr;
};

}  // namespace kestrane::py
