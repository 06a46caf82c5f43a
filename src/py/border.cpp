#include "border.hpp"

#include <cstdarg>
#include <exception>
#include <new>

#if defined(__GLIBCXX__) && __has_include(<cxxabi.h>)
#include <cxxabi.h>
#define KESTRANE_FORCED_UNWIND 1
#endif
#if defined(__clang__)
#define KESTRANE_NO_SANITIZE_UNDEFINED __attribute__((no_sanitize("undefined")))
#elif defined(__GNUC__)
#define KESTRANE_NO_SANITIZE_UNDEFINED __attribute__((no_sanitize_undefined))
#else
#define KESTRANE_NO_SANITIZE_UNDEFINED
#endif

#include "../core/budget.hpp"
#include "../core/errors.hpp"
#include "compat.hpp"
#include "ref.hpp"
#include "state.hpp"

namespace kestrane::py {

void throw_error(PyObject* type, const char* fmt, ...) {
    va_list va;
    va_start(va, fmt);
    PyErr_FormatV(type, fmt, va);
    va_end(va);
    throw PyErrSet{};
}

PyObject* panic_exception() {
    if (!process.panic_type)
        process.panic_type = PyErr_NewExceptionWithDoc(
            "kestrane.PanicException",
            "The exception raised when kestrane's own code fails.\n\n"
            "Like SystemExit, it derives from BaseException, so that it typically propagates\n"
            "all the way up the stack and makes the interpreter exit.",
            PyExc_BaseException, nullptr);
    return process.panic_type;
}

void raise_panic(const std::string& message) {
    PyObject* type = panic_exception();
    if (!type) return;
    Ref text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!text) return;
    PyErr_SetObject(type, text.get());
}

// The forced unwind's object is not a C++ object: the sanitizer's check of the
// reference bound to it does not apply here.
KESTRANE_NO_SANITIZE_UNDEFINED void raise_current_failure() {
    try {
        throw;
    }
#ifdef KESTRANE_FORCED_UNWIND
    catch (abi::__forced_unwind&) {
        throw;
    }
#endif
    catch (const PyErrSet&) {
        if (!PyErr_Occurred()) raise_panic("a Python error was reported but none is set");
    } catch (const Interrupted&) {
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const Panic& p) {
        raise_panic(p.message);
    } catch (const ValueError& e) {
        PyErr_SetString(PyExc_ValueError, e.message.c_str());
    } catch (const TooLarge& e) {
        PyErr_SetString(PyExc_MemoryError, e.message.c_str());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise_panic(e.what());
    } catch (...) {
#ifndef KESTRANE_FORCED_UNWIND
        if (!has_thread_state()) throw;  // a thread ended some other way
#endif
        raise_panic("unknown C++ exception");
    }
}

void release_later(PyObject* o) noexcept {
    try {
        process.pending_release.push_back(o);
    } catch (...) {
        // No memory to note it: the object is kept, which is safe.
    }
}

void release_pending() {
    Ref saved(take_raised_exception());
    // Each release can run Python code, which can reach the border again and
    // release from the same list: take one at a time.
    std::vector<PyObject*>& pending = process.pending_release;
    while (!pending.empty()) {
        PyObject* o = pending.back();
        pending.pop_back();
        Py_DECREF(o);
    }
    if (saved) restore_raised_exception(saved.release());
}

}  // namespace kestrane::py
