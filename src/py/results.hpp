// Building Python results. Each throws PyErrSet when the host cannot, except
// py_int_unchecked, which returns nullptr with the error set.
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

// Tells the enumerations what the objects this binding makes of their results
// cost (ResultObjectCosts); once, at import.
void set_result_object_costs();

// Pauses the cyclic garbage collector while a result of many containers is
// built: they hold only ints, so a collection could free nothing, and without
// the pause every few hundred new lists would start one that traverses them.
// The collector is the program's own setting: whenever Python code runs
// inside the pause (at a poll, see PythonRuns) it finds the setting as the
// program left it, and what that code sets is what the pause restores.
//
// One pause is active at a time: between polls no Python code runs, so no
// other thread can start one; a pause started meanwhile (by a thread that got
// the interpreter lock while a poll's Python code ran) ends before the code
// returns to this one. A pause begun inside another is not needed and does
// nothing.
class GcPause {
public:
    GcPause();
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;
    ~GcPause();

    // Around Python code run while a pause may be active.
    class PythonRuns {
    public:
        PythonRuns();
        PythonRuns(const PythonRuns&) = delete;
        PythonRuns& operator=(const PythonRuns&) = delete;
        ~PythonRuns();

    private:
        GcPause* paused_;
    };

private:
    bool program_enabled_ = false;  // the program's setting, while this pause holds
    bool active_ = false;
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

// A list being filled. When Python code can run while it fills (`polls`: it
// is filled under a poll that can ask the hook), it is kept out of the
// collector's reach (gc.get_objects(), gc.get_referrers()) until every item
// is set: nothing can see its empty slots. A list filled with no poll in
// between stays tracked; nothing runs before it is full. Unfilled slots are
// NULL, which the list's own release handles if the build fails.
class ListBuilder {
public:
    ListBuilder(size_t n, bool polls) : list_(PyList_New(static_cast<Py_ssize_t>(n))), hidden_(polls) {
        if (!list_) throw_py();
        if (hidden_) PyObject_GC_UnTrack(list_.get());
    }
    // Takes over `item` (a new reference, not null).
    void set(size_t i, PyObject* item) { PyList_SET_ITEM(list_.get(), static_cast<Py_ssize_t>(i), item); }
    // The list, every item set.
    PyObject* finish() {
        if (hidden_) PyObject_GC_Track(list_.get());
        return list_.release();
    }

private:
    Ref list_;
    bool hidden_;
};

// Whether a poll of its own, ticked once per item, can ask the hook while
// `n` items are made.
inline bool polls_within(size_t n) { return n >= static_cast<size_t>(InterruptPoll::kEvery); }

// A new list of `n` items, item i made (as a new reference) by make(i).
template <class Make>
PyObject* list_of(size_t n, Make make) {
    ListBuilder list(n, true);  // make(i) may poll too
    InterruptPoll poll;
    for (size_t i = 0; i < n; ++i) {
        poll.tick();
        list.set(i, make(i));
    }
    return list.finish();
}

// A new list of ints.
template <class It>
PyObject* node_list(It first, It last) {
    ListBuilder list(static_cast<size_t>(last - first), polls_within(static_cast<size_t>(last - first)));
    size_t i = 0;
    InterruptPoll poll;
    for (; first != last; ++first, ++i) {
        poll.tick();
        PyObject* v = py_int_unchecked(static_cast<uint64_t>(*first));
        if (!v) throw_py();
        list.set(i, v);
    }
    return list.finish();
}

inline PyObject* node_list(const std::vector<NodeId>& ids) { return node_list(ids.begin(), ids.end()); }

}  // namespace kestrane::py
