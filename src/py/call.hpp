// The calling convention shared by every RustGraph method and module function:
// one row per callable, the argument matcher derived from it, and the entry
// points that run a row's body behind the border.
#pragma once

#include <Python.h>

#include <string>
#include <vector>

#include "../core/graph.hpp"
#include "border.hpp"
#include "convert.hpp"
#include "graph_object.hpp"

namespace kestrane::py {

constexpr int kMaxParams = 8;

// A parameter: its name and, when it is optional, its default as the text
// signature shows it.
struct Param {
    const char* name = nullptr;
    const char* default_text = nullptr;
};

class Call;

// One row of a method or function table: everything said about a callable.
// Its text signature, the names the matcher knows and its registration are
// all derived from the row. Optional parameters follow the required ones.
template <class Body>
struct CallableRow {
    const char* name;
    Access access;  // what a method holds on its own graph during the call
    Param params[kMaxParams];
    Body body;
    const char* description;  // the docstring after the text signature

    int nparams() const {
        int n = 0;
        while (n < kMaxParams && params[n].name) ++n;
        return n;
    }
};

using MethodRow = CallableRow<PyObject* (*)(Graph& g, Call& c)>;
using FunctionRow = CallableRow<PyObject* (*)(Call& c)>;

// What the matcher and the registration need of a row, made once at import.
struct Signature {
    std::string display;  // "RustGraph.walk()", "glue_leaves()"
    std::string doc;      // "walk($self, start_id, above=True, below=True)\n--\n\n..."
    const Param* params = nullptr;
    int nparams = 0;
    int nrequired = 0;
};

// `owner` is "RustGraph" for methods (whose text signature starts with $self)
// and nullptr for module functions.
template <class Body>
Signature make_signature(const CallableRow<Body>& row, const char* owner);
Signature make_signature(const char* name, const Param* params, int nparams, const char* description,
                         const char* owner);

template <class Body>
Signature make_signature(const CallableRow<Body>& row, const char* owner) {
    return make_signature(row.name, row.params, row.nparams(), row.description, owner);
}

// One call's matched arguments (borrowed; nullptr where a default applies) and
// the accesses taken on graph arguments.
class Call {
public:
    explicit Call(const Signature& sig) : sig_(sig) {}

    // Steps 1-3 of matching; raises TypeError and returns false on failure.
    bool match(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
    bool match_tuple(PyObject* args, PyObject* kwargs);

    PyObject* raw(int i) const { return argv_[i]; }
    bool given(int i) const { return argv_[i] != nullptr; }

    // Runs `conv` on argument i under the argument rule.
    template <class F>
    auto get(int i, F conv) -> decltype(conv(static_cast<PyObject*>(nullptr))) {
        try {
            return conv(argv_[i]);
        } catch (const PyErrSet&) {
            argument_rule(sig_.params[i].name);
            throw;
        }
    }
    NodeId node_id(int i) { return get(i, to_node_id); }
    uint32_t u32(int i) { return get(i, to_u32); }
    bool flag(int i) { return get(i, to_bool); }
    bool flag(int i, bool dflt) { return given(i) ? flag(i) : dflt; }
    std::vector<NodeId> node_ids(int i) { return get(i, to_node_ids); }
    std::vector<NodeId> node_ids(int i, std::vector<NodeId> dflt) {
        return given(i) ? node_ids(i) : std::move(dflt);
    }
    // A RustGraph argument with shared access taken for the rest of the call.
    Graph& graph(int i);
    // A RustGraph argument, only type-checked; access is taken later.
    GraphObject* graph_object(int i);

private:
    void argument_rule(const char* param);

    const Signature& sig_;
    PyObject* argv_[kMaxParams] = {};
    AccessGuard guards_[2];
    int nguards_ = 0;
};

// Entry points: match, take the row's access on `self`, run the body, all
// behind the border. A method without parameters is registered METH_NOARGS
// and gets an empty Call.
PyObject* call_method(const MethodRow& row, const Signature& sig, PyObject* self, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames);
PyObject* call_method_noargs(const MethodRow& row, const Signature& sig, PyObject* self);
PyObject* call_function(const FunctionRow& row, const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);

}  // namespace kestrane::py
