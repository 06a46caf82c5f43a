// The calling convention shared by every RustGraph method and module function:
// argument matching, conversions (with the argument rule), the access flag,
// result conversions, and the one place where C++ failures become Python ones.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>
#if defined(__GLIBCXX__) && __has_include(<cxxabi.h>)
#include <cxxabi.h>
#define KESTRANE_FORCED_UNWIND 1
#endif
#include <utility>
#include <vector>

#include "../graph.hpp"
#include "ref.hpp"

namespace kestrane::py {

// Thrown after a Python exception has been set; the border returns NULL.
struct PyErrSet {};

[[noreturn]] inline void throw_py() { throw PyErrSet{}; }
[[noreturn]] void throw_type_error(PyObject* type, const char* fmt, ...);

// ---- the RustGraph object ------------------------------------------------

// Access flag: > 0 shared holders, -1 one exclusive holder, 0 free.
struct GraphObject {
    PyObject_HEAD
    std::atomic<int64_t> borrow;
    Graph graph;
};

extern PyTypeObject* graph_type;
inline bool is_graph(PyObject* o) { return Py_TYPE(o) == graph_type; }

// Wraps a graph record in a new RustGraph object (moves it in).
PyObject* wrap_graph(Graph&& g);

enum class Access { None, Shared, Exclusive };

// Holds shared or exclusive access to one graph object until destroyed.
class AccessGuard {
public:
    AccessGuard() = default;
    AccessGuard(const AccessGuard&) = delete;
    AccessGuard& operator=(const AccessGuard&) = delete;
    AccessGuard(AccessGuard&& o) noexcept : obj_(o.obj_), kind_(o.kind_) { o.obj_ = nullptr; }
    ~AccessGuard() { release(); }

    // False when refused (nothing is set); see take() for the raising form.
    bool try_take(GraphObject* obj, Access kind);
    // Raises RuntimeError "Already mutably borrowed" / "Already borrowed".
    void take(GraphObject* obj, Access kind);
    void release();

private:
    GraphObject* obj_ = nullptr;
    Access kind_ = Access::None;
};

// ---- conversions ------------------------------------------------------------
// Each throws PyErrSet with the host's or the listed error set.

NodeId to_node_id(PyObject* o);
uint32_t to_u32(PyObject* o);
bool to_bool(PyObject* o);
std::vector<NodeId> to_node_ids(PyObject* o);
// Refuses a str, then accepts what the host calls a sequence or an instance of
// collections.abc.Sequence; returns an iterator over it.
Ref sequence_iter(PyObject* o, Py_ssize_t* size_hint);

// The list rule with `conv` for each item: refuses a str, accepts sequences,
// and takes the items by iteration. Exact lists and tuples are read by index,
// as their iteration does; an item's conversion may run Python code that
// shrinks the list, so the length is re-read at every step and the item is
// held while it converts.
template <class Item, class Conv>
std::vector<Item> to_items(PyObject* o, Conv conv) {
    std::vector<Item> out;
    if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) {
        const bool list = PyList_CheckExact(o);
        out.reserve(Py_SIZE(o));
        for (Py_ssize_t i = 0; i < Py_SIZE(o); ++i) {
            Ref item = Ref::borrow(list ? PyList_GET_ITEM(o, i) : PyTuple_GET_ITEM(o, i));
            out.push_back(conv(item.get()));
        }
        return out;
    }
    Py_ssize_t hint = 0;
    Ref it = sequence_iter(o, &hint);
    // A length is only a hint (a __len__ may say anything).
    out.reserve(static_cast<size_t>(hint < (1 << 16) ? hint : (1 << 16)));
    while (PyObject* raw = PyIter_Next(it.get())) {
        Ref item(raw);
        out.push_back(conv(item.get()));
    }
    if (PyErr_Occurred()) throw_py();
    return out;
}

// Pauses the cyclic garbage collector while a result of many containers is
// built: they hold only ints, so a collection could free nothing, and without
// the pause every few hundred new lists would start one that traverses them.
class GcPause {
public:
    GcPause() : was_enabled_(PyGC_Disable() == 1) {}
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;
    ~GcPause() {
        if (was_enabled_ && has_thread_state()) PyGC_Enable();
    }

private:
    bool was_enabled_;
};

// ---- results -----------------------------------------------------------------

PyObject* py_int(uint64_t v);
PyObject* py_bool(bool v);
PyObject* py_none();
PyObject* node_list(const std::vector<NodeId>& ids);
template <class It>
PyObject* node_list(It first, It last);

// ---- matching -----------------------------------------------------------------

constexpr int kMaxParams = 8;

struct Signature {
    const char* display;  // "RustGraph.walk()", "glue_leaves()"
    const char* params[kMaxParams];
    int nparams;
    int nrequired;
};

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
            argument_rule(sig_.params[i]);
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

// ---- tables -----------------------------------------------------------------

struct MethodSpec {
    Signature sig;  // unused by methods without parameters
    const char* doc;  // text signature, "--", docstring
    Access access;
    PyObject* (*body)(Graph& g, Call& c);  // methods with parameters
    PyObject* (*noargs)(Graph& g);         // methods without (METH_NOARGS)
};

struct FunctionSpec {
    Signature sig;
    const char* doc;
    PyObject* (*body)(Call& c);
};

// The border: runs `f` and turns every C++ failure into a Python exception.
// Not noexcept: a thread that the host ends while it waits for the
// interpreter lock at exit unwinds through here (see guarded()).
template <class F>
PyObject* guarded(F&& f);

PyObject* call_method(const MethodSpec& m, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames);
PyObject* call_method_noargs(const MethodSpec& m, PyObject* self);
PyObject* call_function(const FunctionSpec& f, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);

// PanicException, created once per process.
PyObject* panic_exception();
void raise_panic(const std::string& message);
void raise_current_failure();  // inside a catch: maps the in-flight exception

// A daemon thread that wants the interpreter lock while the host finalises
// is ended by the host with a forced unwind (abi::__forced_unwind on glibc):
// that must pass through untouched, since the thread no longer has a thread
// state to report anything with. Every other failure becomes a Python error.
template <class F>
PyObject* guarded(F&& f) {
    try {
        return f();
    }
#ifdef KESTRANE_FORCED_UNWIND
    catch (abi::__forced_unwind&) {
        throw;
    }
#endif
    catch (...) {
        raise_current_failure();
        return nullptr;
    }
}

// A new list of `n` items, item i made (as a new reference) by make(i).
template <class Make>
PyObject* list_of(size_t n, Make make) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!list) throw_py();
    InterruptPoll poll;
    for (size_t i = 0; i < n; ++i) {
        poll.tick();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), make(i));
    }
    return list.release();
}

template <class It>
PyObject* node_list(It first, It last) {
    Ref list(PyList_New(last - first));
    if (!list) throw_py();
    Py_ssize_t i = 0;
    InterruptPoll poll;
    for (; first != last; ++first, ++i) {
        poll.tick();
        PyObject* v = PyLong_FromUnsignedLongLong(static_cast<uint64_t>(*first));
        if (!v) throw_py();
        PyList_SET_ITEM(list.get(), i, v);
    }
    return list.release();
}

}  // namespace kestrane::py
