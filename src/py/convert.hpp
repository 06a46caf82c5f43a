// Conversions from Python arguments. Each throws PyErrSet with the host's
// error or the listed one.
#pragma once

#include <Python.h>

#include <cstdint>
#include <vector>

#include "../core/graph.hpp"
#include "border.hpp"
#include "compat.hpp"
#include "ref.hpp"

namespace kestrane::py {

// `text` as a str interned once for the process, kept in `slot` (a member of
// ProcessState).
PyObject* interned(const char* text, PyObject*& slot);

// TypeError "'{type}' object cannot be cast as '{target}'". This and the other
// messages of the conversions are exact text: callers match them.
[[noreturn]] void cannot_cast(PyObject* o, const char* target);

NodeId to_node_id_slow(PyObject* o);
uint32_t to_u32_slow(PyObject* o);

// An int of one internal digit converts here; anything else (larger ints,
// objects with __index__, the errors) takes the out-of-line path.
inline NodeId to_node_id(PyObject* o) {
    long long v;
    if (PyLong_Check(o) && small_long_value(o, &v) && v >= 0) return static_cast<NodeId>(v);
    return to_node_id_slow(o);
}
inline uint32_t to_u32(PyObject* o) {
    long long v;
    if (PyLong_Check(o) && small_long_value(o, &v) && v >= 0) return static_cast<uint32_t>(v);
    return to_u32_slow(o);
}
bool to_bool(PyObject* o);
std::vector<NodeId> to_node_ids(PyObject* o);
// Refuses a str, then accepts what the host calls a sequence or an instance of
// collections.abc.Sequence; returns an iterator over it.
Ref sequence_iter(PyObject* o, Py_ssize_t* size_hint);

// The most items reserved on a sequence's own word (its __len__): beyond it
// the list grows as the items come.
constexpr Py_ssize_t kMaxReserveFromHint = Py_ssize_t(1) << 16;

// The list rule with `conv` for each item: refuses a str, accepts sequences,
// and takes the items by iteration. Exact lists and tuples are read by index,
// as their iteration does. Python code runs at every poll (signal handlers,
// and from 3.12 the collector's callbacks and finalisers) and in an item's
// conversion (`__index__`), and it may shrink or clear the list: so the length
// is read again after each of them, right before the item is taken, and the
// item is held while it converts.
template <class Item, class Conv>
std::vector<Item> to_items(PyObject* o, Conv conv) {
    std::vector<Item> out;
    if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) {
        const bool list = PyList_CheckExact(o);
        out.reserve(Py_SIZE(o));
        InterruptPoll poll;
        for (Py_ssize_t i = 0;; ++i) {
            poll.tick();
            if (i >= Py_SIZE(o)) break;
            Ref item = Ref::borrow(list ? PyList_GET_ITEM(o, i) : PyTuple_GET_ITEM(o, i));
            out.push_back(conv(item.get()));
        }
        return out;
    }
    Py_ssize_t hint = 0;
    Ref it = sequence_iter(o, &hint);
    // A length is only a hint (a __len__ may say anything).
    out.reserve(static_cast<size_t>(hint < kMaxReserveFromHint ? hint : kMaxReserveFromHint));
    InterruptPoll poll;
    while (PyObject* raw = PyIter_Next(it.get())) {
        Ref item(raw);
        poll.tick();
        out.push_back(conv(item.get()));
    }
    if (PyErr_Occurred()) throw_py();
    return out;
}

}  // namespace kestrane::py
