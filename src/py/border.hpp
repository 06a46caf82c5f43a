// The one border between C++ failures and Python exceptions. Every entry point
// the interpreter calls runs its body through guarded(), so no C++ exception
// crosses into the interpreter.
#pragma once

#include <Python.h>

#include <string>

#include "state.hpp"

namespace kestrane::py {

// Thrown after a Python exception has been set; the border returns NULL.
struct PyErrSet {};

[[noreturn]] inline void throw_py() { throw PyErrSet{}; }
// Sets `type` with a PyErr_Format message, then throws PyErrSet.
[[noreturn]] void throw_error(PyObject* type, const char* fmt, ...);

// PanicException, created once per process.
PyObject* panic_exception();
void raise_panic(const std::string& message);
// Inside a catch: sets the Python error for the in-flight C++ exception. A
// thread that the host is ending (a forced unwind, or any exception on a
// thread without a thread state) has nothing to report to: it is rethrown.
//   PyErrSet -> the error already set     Panic -> PanicException(message)
//   Interrupted -> the signal's error     ValueError -> ValueError(message)
//   TooLarge -> MemoryError(message)      std::bad_alloc -> MemoryError
//   anything else -> PanicException
void raise_current_failure();

// Releases the objects whose release waited for an unwind to end (see
// release_later() in ref.hpp); the error indicator is kept as it was.
void release_pending();

// Runs `f` and turns every C++ failure into a Python exception. Not noexcept:
// a daemon thread that wants the interpreter lock while the host finalises is
// ended by the host with a forced unwind, which must pass through untouched
// (raise_current_failure() rethrows it). Objects released while an exception
// unwound are released here, once no exception is in flight.
template <class F>
PyObject* guarded(F&& f) {
    PyObject* result;
    try {
        result = f();
    } catch (...) {
        raise_current_failure();
        result = nullptr;
    }
    if (!process.pending_release.empty()) release_pending();
    return result;
}

}  // namespace kestrane::py
