// The few host calls that changed between the oldest and newest supported
// interpreters, behind one name each.
#pragma once

#include <Python.h>

#if PY_VERSION_HEX < 0x030C0000
#include <structmember.h>
#endif

namespace kestrane::py {

#if PY_VERSION_HEX >= 0x030C0000
constexpr int kMemberObject = Py_T_OBJECT_EX;
constexpr int kMemberReadonly = Py_READONLY;
#else
constexpr int kMemberObject = T_OBJECT_EX;
constexpr int kMemberReadonly = READONLY;
#endif

// Takes the raised exception out of the error indicator (normalised).
inline PyObject* take_raised_exception() {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    if (!type) return nullptr;
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb) PyException_SetTraceback(value, tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    return value;
#endif
}

inline void restore_raised_exception(PyObject* exc) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exc);
#else
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exc));
    Py_INCREF(type);
    PyErr_Restore(type, exc, PyException_GetTraceback(exc));
#endif
}

// True when this thread holds a thread state (false only on a thread that the
// host is ending while it finalises).
inline bool has_thread_state() {
#if PY_VERSION_HEX >= 0x030D0000
    return PyThreadState_GetUnchecked() != nullptr;
#elif PY_VERSION_HEX >= 0x030C0000
    return _PyThreadState_UncheckedGet() != nullptr;  // this thread's own
#else
    // Before 3.12 the unchecked state is the lock holder's, not this thread's:
    // this thread has its state when it is the holder.
    PyThreadState* mine = PyGILState_GetThisThreadState();
    return mine != nullptr && mine == _PyThreadState_UncheckedGet();
#endif
}

// The value of an int (`o` passes PyLong_Check) that fits one internal digit:
// true and *v set, or false for a larger one.
inline bool small_long_value(PyObject* o, long long* v) {
#if PY_VERSION_HEX >= 0x030C0000
    auto* l = reinterpret_cast<PyLongObject*>(o);
    if (!PyUnstable_Long_IsCompact(l)) return false;
    *v = PyUnstable_Long_CompactValue(l);
    return true;
#else
    const Py_ssize_t size = Py_SIZE(o);
    if (size < -1 || size > 1) return false;
    *v = size == 0 ? 0 : size * static_cast<long long>(reinterpret_cast<PyLongObject*>(o)->ob_digit[0]);
    return true;
#endif
}

// An empty dict with room for `n` entries (no resizes while it fills), where
// the host offers it; a plain empty dict otherwise.
inline PyObject* new_dict_for(Py_ssize_t n) {
#if PY_VERSION_HEX < 0x030E0000
    return _PyDict_NewPresized(n);
#else
    (void)n;
    return PyDict_New();
#endif
}

// True when `s` (a str) equals the ASCII text `text`.
inline bool str_equals(PyObject* s, const char* text) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyUnicode_EqualToUTF8(s, text) == 1;
#else
    return PyUnicode_CompareWithASCIIString(s, text) == 0;
#endif
}

}  // namespace kestrane::py
