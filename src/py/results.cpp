#include "results.hpp"

#include "../core/budget.hpp"

#include <utility>

namespace kestrane::py {

namespace {
// The pause in force, if any (see GcPause). Guarded by the interpreter lock.
GcPause* active_pause = nullptr;
}  // namespace

void set_result_object_costs() {
    // Rough sizes on a 64-bit host, as its allocator hands them out: a list
    // object with its collector header; a list slot and a one-digit int; a
    // 2-tuple with its header; an int; a RustGraph object (its graph's own
    // memory is counted apart).
    ResultObjectCosts& c = result_object_costs;
    c.list = 72;
    c.element = sizeof(PyObject*) + 32;
    c.pair = 56;
    c.score = 32;
    c.graph = 64;
}

GcPause::GcPause() {
    if (active_pause) return;
    program_enabled_ = PyGC_Disable() == 1;
    active_ = true;
    active_pause = this;
}

GcPause::~GcPause() {
    if (!active_) return;
    active_pause = nullptr;
    if (program_enabled_ && has_thread_state()) PyGC_Enable();
}

GcPause::PythonRuns::PythonRuns() : paused_(std::exchange(active_pause, nullptr)) {
    if (paused_ && paused_->program_enabled_) PyGC_Enable();
}

GcPause::PythonRuns::~PythonRuns() {
    if (!paused_ || !has_thread_state()) return;
    paused_->program_enabled_ = PyGC_Disable() == 1;
    active_pause = paused_;
}

PyObject* py_bool(bool v) { return PyBool_FromLong(v); }

PyObject* py_none() { Py_RETURN_NONE; }

PyObject* steal_tuple(std::initializer_list<PyObject*> items) {
    PyObject* t = PyTuple_New(static_cast<Py_ssize_t>(items.size()));
    if (!t) {
        for (PyObject* o : items) Py_DECREF(o);
        throw_py();
    }
    Py_ssize_t i = 0;
    for (PyObject* o : items) PyTuple_SET_ITEM(t, i++, o);
    return t;
}

}  // namespace kestrane::py
