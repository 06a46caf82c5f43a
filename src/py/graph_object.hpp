// The RustGraph object: a graph record with its access flag.
#pragma once

#include <Python.h>

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

// A new object of `type` (RustGraph or a subclass) holding `g` (moved in).
PyObject* new_graph_object(PyTypeObject* type, Graph&& g);
// A new RustGraph holding `g`; throws PyErrSet.
PyObject* wrap_graph(Graph&& g);
void destroy_graph_object(PyObject* o);

enum class Access { None, Shared, Exclusive };

// Holds shared or exclusive access to one graph object until destroyed.
class AccessGuard {
public:
    AccessGuard() = default;
    AccessGuard(const AccessGuard&) = delete;
    AccessGuard& operator=(const AccessGuard&) = delete;
    AccessGuard(AccessGuard&& o) noexcept : obj_(o.obj_), kind_(o.kind_) { o.obj_ = nullptr; }
    ~AccessGuard() { release(); }

    // False when refused (nothing is set); see take() for the raising form.
    bool try_take(GraphObject* obj, Access kind);
    // Raises RuntimeError "Already mutably borrowed" / "Already borrowed".
    void take(GraphObject* obj, Access kind);
    void release();

private:
    GraphObject* obj_ = nullptr;
    Access kind_ = Access::None;
};

}  // namespace kestrane::py
