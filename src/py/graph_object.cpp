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

bool AccessGuard::try_take(GraphObject* obj, Access kind) {
    release();
    if (kind == Access::None) return true;
    std::atomic<int64_t>& flag = obj->borrow;
    if (kind == Access::Exclusive) {
        int64_t expected = 0;
        if (!flag.compare_exchange_strong(expected, -1, std::memory_order_acquire)) return false;
    } else {
        int64_t cur = flag.load(std::memory_order_relaxed);
        do {
            if (cur < 0) return false;
        } while (!flag.compare_exchange_weak(cur, cur + 1, std::memory_order_acquire));
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
    if (kind_ == Access::Exclusive)
        obj_->borrow.store(0, std::memory_order_release);
    else
        obj_->borrow.fetch_sub(1, std::memory_order_release);
    obj_ = nullptr;
    kind_ = Access::None;
}

}  // namespace kestrane::py
