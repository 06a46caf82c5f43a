#include "binding.hpp"

#include <cstdarg>
#include <cstring>
#include <exception>
#include <iterator>
#include <string>

#include "../budget.hpp"
#include "compat.hpp"

namespace kestrane::py {

PyTypeObject* graph_type = nullptr;

void throw_type_error(PyObject* type, const char* fmt, ...) {
    va_list va;
    va_start(va, fmt);
    PyErr_FormatV(type, fmt, va);
    va_end(va);
    throw PyErrSet{};
}

// ---- access --------------------------------------------------------------------

bool AccessGuard::try_take(GraphObject* obj, Access kind) {
    release();
    if (kind == Access::None) return true;
    std::atomic<int64_t>& flag = obj->borrow;
    if (kind == Access::Exclusive) {
        int64_t expected = 0;
        if (!flag.compare_exchange_strong(expected, -1, std::memory_order_acquire)) return false;
    } else {
        int64_t cur = flag.load(std::memory_order_relaxed);
        do {
            if (cur < 0) return false;
        } while (!flag.compare_exchange_weak(cur, cur + 1, std::memory_order_acquire));
    }
    obj_ = obj;
    kind_ = kind;
    return true;
}

void AccessGuard::take(GraphObject* obj, Access kind) {
    if (try_take(obj, kind)) return;
    PyErr_SetString(PyExc_RuntimeError,
                    kind == Access::Exclusive ? "Already borrowed" : "Already mutably borrowed");
    throw_py();
}

void AccessGuard::release() {
    if (!obj_) return;
    if (kind_ == Access::Exclusive)
        obj_->borrow.store(0, std::memory_order_release);
    else
        obj_->borrow.fetch_sub(1, std::memory_order_release);
    obj_ = nullptr;
    kind_ = Access::None;
}

// ---- conversions ------------------------------------------------------------

static PyObject* qualname_of(PyObject* o) { return PyType_GetQualName(Py_TYPE(o)); }

[[noreturn]] static void cannot_cast(PyObject* o, const char* target) {
    Ref name(qualname_of(o));
    if (!name) throw_py();
    throw_type_error(PyExc_TypeError, "'%U' object cannot be cast as '%s'", name.get(), target);
}

NodeId to_node_id(PyObject* o) {
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

uint32_t to_u32(PyObject* o) {
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
    Ref module(PyObject_GetAttrString(reinterpret_cast<PyObject*>(t), "__module__"));
    if (!module) {
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
            throw_type_error(PyExc_TypeError, "object of type '%U' does not define a '__bool__' conversion",
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
    static PyObject* cached = nullptr;
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
        *size_hint = PyObject_Size(o);
        if (*size_hint < 0) {
            PyErr_Clear();
            *size_hint = 0;
        }
    }
    Ref it(PyObject_GetIter(o));
    if (!it) throw_py();
    return it;
}

std::vector<NodeId> to_node_ids(PyObject* o) { return to_items<NodeId>(o, to_node_id); }

// ---- results -----------------------------------------------------------------

PyObject* py_int(uint64_t v) {
    PyObject* r = PyLong_FromUnsignedLongLong(v);
    if (!r) throw_py();
    return r;
}

PyObject* py_bool(bool v) { return PyBool_FromLong(v); }

PyObject* py_none() { Py_RETURN_NONE; }

PyObject* node_list(const std::vector<NodeId>& ids) { return node_list(ids.begin(), ids.end()); }

PyObject* wrap_graph(Graph&& g) {
    PyObject* o = graph_type->tp_alloc(graph_type, 0);
    if (!o) throw_py();
    auto* self = reinterpret_cast<GraphObject*>(o);
    new (&self->borrow) std::atomic<int64_t>(0);
    new (&self->graph) Graph(std::move(g));
    return o;
}

// ---- matching -----------------------------------------------------------------

static const char* plural(Py_ssize_t n, const char* one, const char* many) { return n == 1 ? one : many; }

namespace {
// Keyword arguments as (name, value) pairs, whichever form the call used.
struct Keywords {
    PyObject* const* values = nullptr;  // vectorcall form
    PyObject* names = nullptr;          // tuple of names (vectorcall)
    PyObject* dict = nullptr;           // tp_new form
};
}  // namespace

static bool match_impl(const Signature& sig, PyObject** argv, PyObject* const* pos, Py_ssize_t npos,
                       const Keywords& kw) {
    if (npos > sig.nparams) {
        const char* verb = plural(npos, "was", "were");
        if (sig.nrequired != sig.nparams)
            PyErr_Format(PyExc_TypeError, "%s takes from %d to %d positional arguments but %zd %s given",
                         sig.display, sig.nrequired, sig.nparams, npos, verb);
        else
            PyErr_Format(PyExc_TypeError, "%s takes %d positional arguments but %zd %s given", sig.display,
                         sig.nparams, npos, verb);
        return false;
    }
    for (Py_ssize_t i = 0; i < npos; ++i) argv[i] = pos[i];

    auto place = [&](PyObject* name, PyObject* value) {
        for (int p = 0; p < sig.nparams; ++p) {
            if (!str_equals(name, sig.params[p])) continue;
            if (argv[p]) {
                PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", sig.display,
                             sig.params[p]);
                return false;
            }
            argv[p] = value;
            return true;
        }
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", sig.display, name);
        return false;
    };
    if (kw.names) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kw.names);
        for (Py_ssize_t i = 0; i < nkw; ++i)
            if (!place(PyTuple_GET_ITEM(kw.names, i), kw.values[i])) return false;
    } else if (kw.dict) {
        Py_ssize_t it = 0;
        PyObject *name, *value;
        while (PyDict_Next(kw.dict, &it, &name, &value))
            if (!place(name, value)) return false;
    }

    int missing = 0;
    for (int p = 0; p < sig.nrequired; ++p) missing += argv[p] == nullptr;
    if (missing == 0) return true;
    std::string names;
    int seen = 0;
    for (int p = 0; p < sig.nrequired; ++p) {
        if (argv[p]) continue;
        if (seen > 0) names += missing == 2 ? " and " : (seen == missing - 1 ? ", and " : ", ");
        names += "'";
        names += sig.params[p];
        names += "'";
        ++seen;
    }
    PyErr_Format(PyExc_TypeError, "%s missing %d required positional %s: %s", sig.display, missing,
                 plural(missing, "argument", "arguments"), names.c_str());
    return false;
}

bool Call::match(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Keywords kw;
    kw.names = kwnames && PyTuple_GET_SIZE(kwnames) ? kwnames : nullptr;
    kw.values = args + nargs;
    return match_impl(sig_, argv_, args, nargs, kw);
}

bool Call::match_tuple(PyObject* args, PyObject* kwargs) {
    Keywords kw;
    kw.dict = kwargs;
    return match_impl(sig_, argv_, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), kw);
}

// A conversion's TypeError (exactly TypeError) is replaced by one naming the
// parameter, keeping the original's cause; other errors pass unchanged.
void Call::argument_rule(const char* param) {
    PyObject* type = PyErr_Occurred();
    if (type != PyExc_TypeError) return;
    Ref exc(take_raised_exception());
    Ref text(PyObject_Str(exc.get()));
    if (!text) return;
    Ref wrapped(PyObject_CallFunction(PyExc_TypeError, "N",
                                      PyUnicode_FromFormat("argument '%s': %U", param, text.get())));
    if (!wrapped) return;
    if (PyObject* cause = PyException_GetCause(exc.get())) PyException_SetCause(wrapped.get(), cause);
    restore_raised_exception(wrapped.release());
}

Graph& Call::graph(int i) {
    GraphObject* obj = graph_object(i);
    if (nguards_ == static_cast<int>(std::size(guards_))) panic("too many graph arguments in one call");
    guards_[nguards_].take(obj, Access::Shared);
    ++nguards_;
    return obj->graph;
}

GraphObject* Call::graph_object(int i) {
    return get(i, [](PyObject* o) {
        if (!is_graph(o)) cannot_cast(o, "RustGraph");
        return reinterpret_cast<GraphObject*>(o);
    });
}

// ---- the border -----------------------------------------------------------------

PyObject* panic_exception() {
    static PyObject* type = nullptr;
    if (!type)
        type = PyErr_NewExceptionWithDoc(
            "kestrane.PanicException",
            "The exception raised when kestrane's own code fails.\n\n"
            "Like SystemExit, it derives from BaseException, so that it typically propagates\n"
            "all the way up the stack and makes the interpreter exit.",
            PyExc_BaseException, nullptr);
    return type;
}

void raise_panic(const std::string& message) {
    PyObject* type = panic_exception();
    if (!type) return;
    Ref text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!text) return;
    PyErr_SetObject(type, text.get());
}

void raise_current_failure() {
    try {
        throw;
    } catch (const PyErrSet&) {
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
        raise_panic("unknown C++ exception");
    }
}

PyObject* call_method(const MethodSpec& m, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) noexcept {
    return guarded([&]() -> PyObject* {
        Call c(m.sig);
        if (!c.match(args, nargs, kwnames)) return nullptr;
        auto* obj = reinterpret_cast<GraphObject*>(self);
        AccessGuard guard;
        guard.take(obj, m.access);
        return m.body(obj->graph, c);
    });
}

PyObject* call_method_noargs(const MethodSpec& m, PyObject* self) noexcept {
    return guarded([&]() -> PyObject* {
        auto* obj = reinterpret_cast<GraphObject*>(self);
        AccessGuard guard;
        guard.take(obj, m.access);
        return m.noargs(obj->graph);
    });
}

PyObject* call_function(const FunctionSpec& f, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept {
    return guarded([&]() -> PyObject* {
        Call c(f.sig);
        if (!c.match(args, nargs, kwnames)) return nullptr;
        return f.body(c);
    });
}

}  // namespace kestrane::py
