#include "graph_object.hpp"

#include <new>
#include <utility>

#include "border.hpp"
#include "compat.hpp"

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

namespace holds {

// Every access held, with its thread: a forked child must know which of them
// belong to threads it does not have. The entries live here, not in the
// guards on the threads' stacks, because a thread that the host ends at exit
// leaves its guards without the interpreter lock and so cannot unlink them:
// it leaves its entries taken (the process is ending), and they stay valid
// memory. Entries come in blocks that are never freed; the first is static,
// so most programs never allocate one. Guarded by the interpreter lock.
constexpr size_t kHoldsPerBlock = 32;
struct HoldBlock {
    Hold holds[kHoldsPerBlock];
    HoldBlock* next;
};
HoldBlock first_block;
HoldBlock* blocks = nullptr;  // first_block and every added one, once used
Hold* free_list = nullptr;

void add_block() {
    HoldBlock* b = blocks ? new HoldBlock() : &first_block;
    for (Hold& h : b->holds) {
        h.obj = nullptr;
        h.next_free = free_list;
        free_list = &h;
    }
    b->next = blocks;
    blocks = b;
}

}  // namespace holds

void AccessGuard::refuse(Access kind) {
    PyErr_SetString(PyExc_RuntimeError,
                    kind == Access::Exclusive ? "Already borrowed" : "Already mutably borrowed");
    throw_py();
}

void AccessGuard::release_other_threads() {
    const uintptr_t me = holds::this_thread();
    for (holds::HoldBlock* b = holds::blocks; b; b = b->next)
        for (Hold& h : b->holds)
            if (h.obj && h.thread != me) give_up(&h);
}

}  // namespace kestrane::py
