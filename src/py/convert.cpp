#include "convert.hpp"

#include "compat.hpp"
#include "state.hpp"

namespace kestrane::py {

PyObject* interned(const char* text, PyObject*& slot) {
    if (!slot) {
        slot = PyUnicode_InternFromString(text);
        if (!slot) throw_py();
    }
    return slot;
}

static PyObject* qualname_of(PyObject* o) { return PyType_GetQualName(Py_TYPE(o)); }

void cannot_cast(PyObject* o, const char* target) {
    Ref name(qualname_of(o));
    if (!name) throw_py();
    throw_error(PyExc_TypeError, "'%U' object cannot be cast as '%s'", name.get(), target);
}

NodeId to_node_id_slow(PyObject* o) {
    if (PyLong_Check(o)) {
        const unsigned long long v = PyLong_AsUnsignedLongLong(o);
        if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_py();
        return v;
    }
    Ref idx(PyNumber_Index(o));
    if (!idx) throw_py();
    const unsigned long long v = PyLong_AsUnsignedLongLong(idx.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_py();
    return v;
}

uint32_t to_u32_slow(PyObject* o) {
    long long v;
    if (PyLong_Check(o)) {
        v = PyLong_AsLongLong(o);
    } else {
        Ref idx(PyNumber_Index(o));
        if (!idx) throw_py();
        v = PyLong_AsLongLong(idx.get());
    }
    if (v == -1 && PyErr_Occurred()) throw_py();
    if (v < 0 || v > 0xFFFFFFFFLL) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        throw_py();
    }
    return static_cast<uint32_t>(v);
}

// numpy's boolean scalar: a type named `bool_` or `bool` whose module is numpy.
static bool is_numpy_bool(PyObject* o) {
    PyTypeObject* t = Py_TYPE(o);
    Ref name(PyType_GetName(t));
    if (!name) throw_py();
    if (!str_equals(name.get(), "bool") && !str_equals(name.get(), "bool_")) return false;
    Ref module(PyObject_GetAttr(reinterpret_cast<PyObject*>(t), interned("__module__", process.module_key)));
    if (!module) {
        // A type without __module__ is not numpy's; any other error is passed on.
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_py();
        PyErr_Clear();
        return false;
    }
    return PyUnicode_Check(module.get()) && str_equals(module.get(), "numpy");
}

bool to_bool(PyObject* o) {
    if (o == Py_True) return true;
    if (o == Py_False) return false;
    if (is_numpy_bool(o)) {
        PyNumberMethods* nb = Py_TYPE(o)->tp_as_number;
        if (!nb || !nb->nb_bool) {
            Ref name(qualname_of(o));
            if (!name) throw_py();
            throw_error(PyExc_TypeError, "object of type '%U' does not define a '__bool__' conversion",
                        name.get());
        }
        const int r = nb->nb_bool(o);
        if (r < 0) throw_py();
        return r != 0;
    }
    cannot_cast(o, "bool");
}

// collections.abc.Sequence, imported on first need and kept for the process.
static PyObject* abc_sequence() {
    PyObject*& cached = process.abc_sequence;
    if (!cached) {
        Ref mod(PyImport_ImportModule("collections.abc"));
        if (!mod) throw_py();
        PyObject* seq = PyObject_GetAttrString(mod.get(), "Sequence");
        if (!seq) throw_py();
        if (cached)
            Py_DECREF(seq);  // another thread got there while the import ran
        else
            cached = seq;
    }
    return cached;
}

Ref sequence_iter(PyObject* o, Py_ssize_t* size_hint) {
    if (PyUnicode_Check(o)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        throw_py();
    }
    if (!PySequence_Check(o)) {
        const int r = PyObject_IsInstance(o, abc_sequence());
        if (r < 0) throw_py();
        if (r == 0) cannot_cast(o, "Sequence");
    }
    if (size_hint) {
        // Like the host's own length hint: an object without a length (a
        // TypeError) gives no hint; any other error of __len__ is passed on.
        *size_hint = PyObject_Size(o);
        if (*size_hint < 0) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw_py();
            PyErr_Clear();
            *size_hint = 0;
        }
    }
    Ref it(PyObject_GetIter(o));
    if (!it) throw_py();
    return it;
}

std::vector<NodeId> to_node_ids(PyObject* o) { return to_items<NodeId>(o, to_node_id); }

}  // namespace kestrane::py
