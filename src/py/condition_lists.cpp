#include "condition_lists.hpp"

#include <algorithm>

#include "binding.hpp"
#include "ref.hpp"

namespace kestrane::py {

namespace {

// The list rule with `conv` for each item. Exact lists and tuples are read by
// index, as their iteration does; an item's conversion may run Python code
// that shrinks the list, so its length is re-read at every step and the item
// is held while it converts.
template <class Item, class Conv>
std::vector<Item> to_items(PyObject* o, Conv conv) {
    std::vector<Item> out;
    if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) {
        const bool list = PyList_CheckExact(o);
        out.reserve(Py_SIZE(o));
        for (Py_ssize_t i = 0; i < Py_SIZE(o); ++i) {
            Ref item = Ref::borrow(list ? PyList_GET_ITEM(o, i) : PyTuple_GET_ITEM(o, i));
            out.push_back(conv(item.get()));
        }
        return out;
    }
    Py_ssize_t hint = 0;
    Ref it = sequence_iter(o, &hint);
    // A length is only a hint (a __len__ may say anything).
    out.reserve(static_cast<size_t>(std::min<Py_ssize_t>(hint, 1 << 16)));
    while (PyObject* raw = PyIter_Next(it.get())) {
        Ref item(raw);
        out.push_back(conv(item.get()));
    }
    if (PyErr_Occurred()) throw_py();
    return out;
}

}  // namespace

ConditionList to_condition_list(PyObject* o) { return to_items<Condition>(o, to_node_ids); }

std::vector<ConditionList> to_condition_lists(PyObject* o) {
    return to_items<ConditionList>(o, to_condition_list);
}

PyObject* condition_list_result(const ConditionList& conditions) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(conditions.size())));
    if (!list) throw_py();
    for (size_t i = 0; i < conditions.size(); ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i),
                        node_list(conditions[i].begin(), conditions[i].end()));
    return list.release();
}

}  // namespace kestrane::py
