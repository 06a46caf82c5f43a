#include "graph_object.hpp"

#include <new>
#include <utility>

#include "border.hpp"

namespace kestrane::py {

PyObject* new_graph_object(PyTypeObject* type, Graph&& g) {
    PyObject* o = type->tp_alloc(type, 0);
    if (!o) throw_py();
    auto* self = reinterpret_cast<GraphObject*>(o);
    new (&self->borrow) std::atomic<int64_t>(0);
    new (&self->graph) Graph(std::move(g));
    return o;
}

PyObject* wrap_graph(Graph&& g) { return new_graph_object(process.graph_type, std::move(g)); }

void destroy_graph_object(PyObject* o) {
    auto* self = reinterpret_cast<GraphObject*>(o);
    PyTypeObject* type = Py_TYPE(o);
    self->graph.~Graph();
    self->borrow.~atomic();
    type->tp_free(o);
    Py_DECREF(type);
}

// Every read and write of the flag happens on a thread that holds the
// interpreter lock, with no Python code (which could let another thread run)
// between a read and the write that follows it; the module does not declare
// itself free-threading safe, so the host keeps the lock on. Plain loads and
// stores are therefore enough, and save a locked instruction on every call.
bool AccessGuard::try_take(GraphObject* obj, Access kind) {
    release();
    if (kind == Access::None) return true;
    std::atomic<int64_t>& flag = obj->borrow;
    const int64_t cur = flag.load(std::memory_order_relaxed);
    if (kind == Access::Exclusive) {
        if (cur != 0) return false;
        flag.store(-1, std::memory_order_relaxed);
    } else {
        if (cur < 0) return false;
        flag.store(cur + 1, std::memory_order_relaxed);
    }
    obj_ = obj;
    kind_ = kind;
    return true;
}

void AccessGuard::take(GraphObject* obj, Access kind) {
    if (try_take(obj, kind)) return;
    PyErr_SetString(PyExc_RuntimeError,
                    kind == Access::Exclusive ? "Already borrowed" : "Already mutably borrowed");
    throw_py();
}

void AccessGuard::release() {
    if (!obj_) return;
    std::atomic<int64_t>& flag = obj_->borrow;
    flag.store(kind_ == Access::Exclusive ? 0 : flag.load(std::memory_order_relaxed) - 1,
               std::memory_order_relaxed);
    obj_ = nullptr;
    kind_ = Access::None;
}

}  // namespace kestrane::py
