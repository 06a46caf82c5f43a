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

struct Hold {
    GraphObject* obj;  // null while the entry is free
    Access kind;
    pthread_t thread;
    Hold* next_free;
};

namespace {

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
Hold* free_holds = nullptr;

void add_hold_block() {
    HoldBlock* b = blocks ? new HoldBlock() : &first_block;  // std::bad_alloc: nothing taken
    for (Hold& h : b->holds) {
        h.obj = nullptr;
        h.next_free = free_holds;
        free_holds = &h;
    }
    b->next = blocks;
    blocks = b;
}

}  // namespace

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
    if (kind == Access::Exclusive ? cur != 0 : cur < 0) return false;
    if (!free_holds) add_hold_block();
    Hold* h = free_holds;
    free_holds = h->next_free;
    *h = Hold{obj, kind, pthread_self(), nullptr};
    flag.store(kind == Access::Exclusive ? -1 : cur + 1, std::memory_order_relaxed);
    hold_ = h;
    return true;
}

void AccessGuard::take(GraphObject* obj, Access kind) {
    if (try_take(obj, kind)) return;
    PyErr_SetString(PyExc_RuntimeError,
                    kind == Access::Exclusive ? "Already borrowed" : "Already mutably borrowed");
    throw_py();
}

static void give_up(Hold* h) {
    std::atomic<int64_t>& flag = h->obj->borrow;
    flag.store(h->kind == Access::Exclusive ? 0 : flag.load(std::memory_order_relaxed) - 1,
               std::memory_order_relaxed);
    h->obj = nullptr;
    h->next_free = free_holds;
    free_holds = h;
}

void AccessGuard::release() {
    if (!hold_) return;
    // A thread that the host is ending (no thread state, see above) leaves
    // its access held: without the lock it may touch nothing shared.
    if (has_thread_state()) give_up(hold_);
    hold_ = nullptr;
}

void AccessGuard::release_other_threads() {
    const pthread_t me = pthread_self();
    for (HoldBlock* b = blocks; b; b = b->next)
        for (Hold& h : b->holds)
            if (h.obj && !pthread_equal(h.thread, me)) give_up(&h);
}

}  // namespace kestrane::py
