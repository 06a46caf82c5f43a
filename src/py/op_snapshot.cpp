#include "op_snapshot.hpp"

#include "condition_lists.hpp"
#include "convert.hpp"
#include "ref.hpp"
#include "state.hpp"

namespace kestrane::py {

namespace {

// Reads `key` from the dict's own storage (no __getitem__ or __missing__ of a
// subclass); KeyError "missing '<key>'" when absent.
Ref required(PyObject* entry, const char* key, PyObject*& slot) {
    PyObject* name = interned(key, slot);
#if PY_VERSION_HEX >= 0x030D0000
    PyObject* found = nullptr;
    if (PyDict_GetItemRef(entry, name, &found) < 0) throw_py();
    Ref value(found);
#else
    Ref value = Ref::borrow(PyDict_GetItemWithError(entry, name));
    if (!value && PyErr_Occurred()) throw_py();
#endif
    if (!value) {
        PyErr_Format(PyExc_KeyError, "missing '%s'", key);
        throw_py();
    }
    return value;
}

}  // namespace

PyObject* to_snapshot_dict(PyObject* o) {
    if (!PyDict_Check(o)) cannot_cast(o, "dict");
    return o;
}

OpCache build_op_cache(PyObject* snapshot) {
    OpCache cache;
    const Py_ssize_t size = PyDict_GET_SIZE(snapshot);
    Py_ssize_t pos = 0;
    Py_ssize_t yielded = 0;
    PyObject* k;
    PyObject* v;
    for (;;) {
        // Conversions below can run Python code that changes the snapshot;
        // these two checks, made before every fetch, are all that notices.
        // Their messages are exact text: callers match them.
        if (PyDict_GET_SIZE(snapshot) != size) panic("dictionary changed size during iteration");
        if (yielded > size) panic("dictionary keys changed during iteration");
        if (!PyDict_Next(snapshot, &pos, &k, &v)) break;
        ++yielded;
        Ref key = Ref::borrow(k);
        Ref value = Ref::borrow(v);

        const uint32_t op_id = to_u32(key.get());
        if (!PyDict_Check(value.get())) cannot_cast(value.get(), "dict");
        // All three lookups come before any conversion.
        Ref conditions = required(value.get(), "conditions", process.conditions_key);
        Ref has_callable = required(value.get(), "has_callable", process.has_callable_key);
        Ref cumulative = required(value.get(), "cumulative", process.cumulative_key);

        OpInfo info;
        info.conditions = to_condition_list(conditions.get());
        info.has_callable = to_bool(has_callable.get());
        info.cumulative = to_bool(cumulative.get());
        // Distinct keys may convert to the same operator id (an object whose
        // __index__ gives 5, and 5); the later entry wins.
        cache.insert_or_assign(op_id, std::move(info));
    }
    return cache;
}

}  // namespace kestrane::py
