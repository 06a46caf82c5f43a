// Building Python results. Each throws PyErrSet when the host cannot.
#pragma once

#include <Python.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "../core/graph.hpp"
#include "border.hpp"
#include "compat.hpp"
#include "ref.hpp"

namespace kestrane::py {

// Pauses the cyclic garbage collector while a result of many containers is
// built: they hold only ints, so a collection could free nothing, and without
// the pause every few hundred new lists would start one that traverses them.
class GcPause {
public:
    GcPause() : was_enabled_(PyGC_Disable() == 1) {}
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;
    ~GcPause() {
        if (was_enabled_ && has_thread_state()) PyGC_Enable();
    }

private:
    bool was_enabled_;
};

// A new int, or nullptr with an error set. Values of one internal digit take
// the host's fast path for small longs.
inline PyObject* py_int_unchecked(uint64_t v) {
    return v < (uint64_t(1) << 30) ? PyLong_FromLong(static_cast<long>(v)) : PyLong_FromUnsignedLongLong(v);
}
inline PyObject* py_int(uint64_t v) {
    PyObject* r = py_int_unchecked(v);
    if (!r) throw_py();
    return r;
}
PyObject* py_bool(bool v);
PyObject* py_none();

// A new tuple that takes over the references in `items` (all non-null); they
// are released if the tuple cannot be made.
PyObject* steal_tuple(std::initializer_list<PyObject*> items);

// A new list of `n` items, item i made (as a new reference) by make(i).
template <class Make>
PyObject* list_of(size_t n, Make make) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!list) throw_py();
    InterruptPoll poll;
    for (size_t i = 0; i < n; ++i) {
        poll.tick();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), make(i));
    }
    return list.release();
}

// A new list of ints.
template <class It>
PyObject* node_list(It first, It last) {
    Ref list(PyList_New(last - first));
    if (!list) throw_py();
    Py_ssize_t i = 0;
    InterruptPoll poll;
    for (; first != last; ++first, ++i) {
        poll.tick();
        PyObject* v = py_int_unchecked(static_cast<uint64_t>(*first));
        if (!v) throw_py();
        PyList_SET_ITEM(list.get(), i, v);
    }
    return list.release();
}

inline PyObject* node_list(const std::vector<NodeId>& ids) { return node_list(ids.begin(), ids.end()); }

}  // namespace kestrane::py
