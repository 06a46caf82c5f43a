// An owned reference that is released on every exit path.
#pragma once

#include <Python.h>

#include <exception>

#include "compat.hpp"

namespace kestrane::py {

// Holds `o` until the border has finished with the exception in flight.
// Releasing an object can run Python code (`__del__`, weakref callbacks); while
// a C++ exception unwinds, that code would run where nothing can report its
// failures, and a thread ended there (a forced unwind) would meet the unwind
// already under way. Keeps `o` for good if there is no memory to note it.
void release_later(PyObject* o) noexcept;

// Releases `o` now, or, while an exception unwinds, later (see above). Skips
// the release on a thread that has no thread state, which only happens while
// the host ends a daemon thread at exit (a forced unwind): the object cannot
// be touched then, and the process is ending. Not noexcept: the release can
// run Python code, and a thread ended there leaves by a forced unwind that
// must pass through.
inline void release_ref(PyObject* o) noexcept(false) {
    if (!has_thread_state()) return;
    if (Py_REFCNT(o) > 1 || std::uncaught_exceptions() == 0)
        Py_DECREF(o);  // the first runs no Python code: the object lives on
    else
        release_later(o);
}

class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) : p_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    Ref& operator=(Ref&& o) noexcept(false) {
        if (this != &o) {
            PyObject* old = p_;
            p_ = o.p_;
            o.p_ = nullptr;
            if (old) release_ref(old);
        }
        return *this;
    }
    ~Ref() noexcept(false) {
        if (p_) release_ref(p_);
    }

    static Ref borrow(PyObject* p) {
        Py_XINCREF(p);
        return Ref(p);
    }
    PyObject* get() const { return p_; }
    PyObject* release() {
        PyObject* p = p_;
        p_ = nullptr;
        return p;
    }
    explicit operator bool() const { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

}  // namespace kestrane::py
