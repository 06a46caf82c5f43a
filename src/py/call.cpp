#include "call.hpp"

#include <iterator>
#include <string>

#include "compat.hpp"

namespace kestrane::py {

// ---- signatures -----------------------------------------------------------------

Signature make_signature(const char* name, ParamSpan params, const char* description, const char* owner) {
    Signature s;
    s.display = owner ? std::string(owner) + "." + name + "()" : std::string(name) + "()";
    s.params = params.items;
    s.nparams = params.size;
    s.doc = std::string(name) + (owner ? "($self" : "(");
    for (int i = 0; i < params.size; ++i) {
        const Param& p = params.items[i];
        if (i > 0 || owner) s.doc += ", ";
        s.doc += p.name;
        if (const char* text = p.default_text()) {
            s.doc += "=";
            s.doc += text;
        } else if (s.nrequired == i) {
            ++s.nrequired;
        } else {
            // The matcher counts the first nrequired parameters as the required ones.
            panic(std::string(name) + "(): a required parameter follows an optional one");
        }
    }
    s.doc += ")\n--\n\n";
    s.doc += description;
    return s;
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

// exact text: callers match it. The argument errors below are read word for
// word, the "and" and the plurals included.
static void match_impl(const Signature& sig, PyObject** argv, PyObject* const* pos, Py_ssize_t npos,
                       const Keywords& kw) {
    if (npos > sig.nparams) {
        const char* verb = plural(npos, "was", "were");
        if (sig.nrequired != sig.nparams)
            PyErr_Format(PyExc_TypeError, "%s takes from %d to %d positional arguments but %zd %s given",
                         sig.display.c_str(), sig.nrequired, sig.nparams, npos, verb);
        else
            PyErr_Format(PyExc_TypeError, "%s takes %d positional arguments but %zd %s given",
                         sig.display.c_str(), sig.nparams, npos, verb);
        throw_py();
    }
    for (Py_ssize_t i = 0; i < npos; ++i) argv[i] = pos[i];

    auto place = [&](PyObject* name, PyObject* value) {
        for (int p = 0; p < sig.nparams; ++p) {
            if (!str_equals(name, sig.params[p].name)) continue;
            if (argv[p])
                throw_error(PyExc_TypeError, "%s got multiple values for argument '%s'", sig.display.c_str(),
                            sig.params[p].name);
            argv[p] = value;
            return;
        }
        throw_error(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", sig.display.c_str(), name);
    };
    if (kw.names) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kw.names);
        for (Py_ssize_t i = 0; i < nkw; ++i) place(PyTuple_GET_ITEM(kw.names, i), kw.values[i]);
    } else if (kw.dict) {
        Py_ssize_t it = 0;
        PyObject *name, *value;
        while (PyDict_Next(kw.dict, &it, &name, &value)) place(name, value);
    }

    int missing = 0;
    for (int p = 0; p < sig.nrequired; ++p) missing += argv[p] == nullptr;
    if (missing == 0) return;
    std::string names;
    int seen = 0;
    for (int p = 0; p < sig.nrequired; ++p) {
        if (argv[p]) continue;
        if (seen > 0) names += missing == 2 ? " and " : (seen == missing - 1 ? ", and " : ", ");
        names += "'";
        names += sig.params[p].name;
        names += "'";
        ++seen;
    }
    throw_error(PyExc_TypeError, "%s missing %d required positional %s: %s", sig.display.c_str(), missing,
                plural(missing, "argument", "arguments"), names.c_str());
}

void Call::match(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    // The common call: positional arguments only, none missing or extra.
    if ((!kwnames || PyTuple_GET_SIZE(kwnames) == 0) && nargs >= sig_.nrequired && nargs <= sig_.nparams) {
        for (Py_ssize_t i = 0; i < nargs; ++i) argv_[i] = args[i];
        return;
    }
    Keywords kw;
    kw.names = kwnames && PyTuple_GET_SIZE(kwnames) ? kwnames : nullptr;
    kw.values = args + nargs;
    match_impl(sig_, argv_, args, nargs, kw);
}

void Call::match_tuple(PyObject* args, PyObject* kwargs) {
    Keywords kw;
    kw.dict = kwargs;
    match_impl(sig_, argv_, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), kw);
}

void Call::wrong_default(int i) const {
    panic(sig_.display + ": parameter '" + sig_.params[i].name + "' read without the default it declares");
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

Graph& Call::graph_arg(GraphObject* obj) {
    if (nguards_ == static_cast<int>(std::size(guards_))) panic("too many graph arguments in one call");
    guards_[nguards_].take(obj, Access::Shared);
    ++nguards_;
    return obj->graph;
}

GraphObject* Call::to_graph_object(PyObject* o) {
    if (!is_graph(o)) cannot_cast(o, "RustGraph");
    return reinterpret_cast<GraphObject*>(o);
}

// ---- entry points -----------------------------------------------------------------

PyObject* call_method(const MethodRow& row, const Signature& sig, PyObject* self, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Call c(sig);
        c.match(args, nargs, kwnames);
        auto* obj = reinterpret_cast<GraphObject*>(self);
        AccessGuard guard;
        guard.take(obj, row.access);
        PyObject* result = row.body(obj->graph, c);
        guard.release();
        return result;
    });
}

PyObject* call_method_noargs(const MethodRow& row, const Signature& sig, PyObject* self) {
    return guarded([&]() -> PyObject* {
        Call c(sig);
        auto* obj = reinterpret_cast<GraphObject*>(self);
        AccessGuard guard;
        guard.take(obj, row.access);
        PyObject* result = row.body(obj->graph, c);
        guard.release();
        return result;
    });
}

PyObject* call_function(const FunctionRow& row, const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Call c(sig);
        c.match(args, nargs, kwnames);
        return row.body(c);
    });
}

}  // namespace kestrane::py
