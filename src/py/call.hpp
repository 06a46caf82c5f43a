// The calling convention shared by every RustGraph method and module function:
// one row per callable, the argument matcher derived from it, and the entry
// points that run a row's body behind the border.
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "../core/graph.hpp"
#include "border.hpp"
#include "convert.hpp"
#include "graph_object.hpp"

namespace kestrane::py {

constexpr int kMaxParams = 8;

// An optional parameter's default. It is the one statement of the default:
// the text signature shows it and the body's accessor returns it.
//   True/False -> that flag    None -> absent    Empty -> an empty id list, shown as "..."
enum class Default : unsigned char { Required, True, False, None, Empty };

struct Param {
    const char* name = nullptr;
    Default dflt = Default::Required;

    // The default as the text signature shows it; nullptr when required.
    constexpr const char* default_text() const {
        switch (dflt) {
            case Default::True:
                return "True";
            case Default::False:
                return "False";
            case Default::None:
                return "None";
            case Default::Empty:
                return "...";
            case Default::Required:
                break;
        }
        return nullptr;
    }
};

namespace detail {
constexpr bool same_name(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}
}  // namespace detail

// The position of parameter `name` in a callable's parameter list. Bodies use
// it as a template argument (`c.flag<arg(kWalk, "above")>()`), so a name the
// list lacks fails to compile and a reordered list moves every use with it.
template <size_t N>
constexpr int arg(const Param (&params)[N], const char* name) {
    for (size_t i = 0; i < N; ++i)
        if (detail::same_name(params[i].name, name)) return static_cast<int>(i);
    throw "no parameter of that name";  // a compile error in a constant expression
}

// A row's view of its parameter list (an array declared beside the body).
struct ParamSpan {
    const Param* items = nullptr;
    int size = 0;

    constexpr ParamSpan() = default;
    template <size_t N>
    constexpr ParamSpan(const Param (&params)[N]) : items(params), size(static_cast<int>(N)) {
        static_assert(N <= kMaxParams, "more parameters than a call holds");
    }
};

class Call;

// One row of a method or function table: everything said about a callable.
// Its text signature, the names the matcher knows and its registration are
// all derived from the row. Optional parameters follow the required ones.
// The parameter list is a named array beside the body, which reads its
// arguments through arg() on the same array.
template <class Body>
struct CallableRow {
    const char* name;
    Access access;  // what a method holds on its own graph during the call
    ParamSpan params;
    Body body;
    const char* description;  // the docstring after the text signature
};

using MethodRow = CallableRow<PyObject* (*)(Graph& g, Call& c)>;
using FunctionRow = CallableRow<PyObject* (*)(Call& c)>;

// What the matcher and the registration need of a row, made at import.
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
Signature make_signature(const char* name, ParamSpan params, const char* description, const char* owner);

template <class Body>
Signature make_signature(const CallableRow<Body>& row, const char* owner) {
    return make_signature(row.name, row.params, row.description, owner);
}

// One call's matched arguments (borrowed; nullptr where a default applies) and
// the accesses taken on graph arguments.
class Call {
public:
    explicit Call(const Signature& sig) : sig_(sig) {}

    // Places the arguments by the signature: too many positional ones, then
    // each keyword (repeated or unknown), then the missing required ones;
    // raises TypeError at the first that fails.
    void match(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
    void match_tuple(PyObject* args, PyObject* kwargs);

    // Accessors take the parameter's position from arg(); an omitted optional
    // argument yields the parameter's default.
    template <int I>
    NodeId node_id() {
        return get<I>(to_node_id);
    }
    template <int I>
    uint32_t u32() {
        return get<I>(to_u32);
    }
    template <int I>
    bool flag() {
        if (given(I)) return get<I>(to_bool);
        if (default_of(I) == Default::True) return true;
        if (default_of(I) == Default::False) return false;
        wrong_default(I);
    }
    template <int I>
    std::vector<NodeId> node_ids() {
        if (given(I)) return get<I>(to_node_ids);
        if (default_of(I) == Default::Empty) return {};
        wrong_default(I);
    }
    // An id or None; an omitted argument is None.
    template <int I>
    std::optional<uint64_t> optional_node_id() {
        if (default_of(I) != Default::None) wrong_default(I);
        if (!given(I) || argv_[I] == Py_None) return std::nullopt;
        return get<I>(to_node_id);
    }
    // Runs `conv` on argument I, which the call gave, under the argument rule.
    template <int I, class F>
    auto get(F conv) -> decltype(conv(static_cast<PyObject*>(nullptr))) {
        static_assert(I >= 0 && I < kMaxParams);
        if (!given(I)) wrong_default(I);
        try {
            return conv(argv_[I]);
        } catch (const PyErrSet&) {
            argument_rule(sig_.params[I].name);
            throw;
        }
    }
    // A RustGraph argument with shared access taken for the rest of the call.
    template <int I>
    Graph& graph() {
        return graph_arg(get<I>(to_graph_object));
    }
    // A RustGraph argument, only type-checked; access is taken later.
    template <int I>
    GraphObject* graph_object() {
        return get<I>(to_graph_object);
    }

private:
    bool given(int i) const { return argv_[i] != nullptr; }
    Default default_of(int i) const { return sig_.params[i].dflt; }
    // An accessor used on an omitted argument whose default it cannot return.
    [[noreturn]] void wrong_default(int i) const;
    void argument_rule(const char* param);
    // Takes shared access on `obj` for the rest of the call.
    Graph& graph_arg(GraphObject* obj);
    static GraphObject* to_graph_object(PyObject* o);

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
