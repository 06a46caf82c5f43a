#include "results.hpp"

namespace kestrane::py {

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
