// An owned reference that is released on every exit path.
#pragma once

#include <Python.h>

#include "compat.hpp"

namespace kestrane::py {

class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) : p_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = o.p_;
            o.p_ = nullptr;
        }
        return *this;
    }
    // Skips the release on a thread that has no thread state, which only
    // happens while the host ends a daemon thread at exit (a forced unwind):
    // the object cannot be touched then, and the process is ending.
    ~Ref() {
        if (p_ && has_thread_state()) Py_DECREF(p_);
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
