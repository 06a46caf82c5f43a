// The kestrane module: initialisation, the RustGraph type and the tables that
// describe every method and function. Each body converts its arguments,
// calls the core and builds the result; matching, access and failures are
// handled once, in py/binding.cpp.
#include <Python.h>

#include <array>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <atomic>
#include <utility>

#include "clone.hpp"
#include "conditions.hpp"
#include "cross_sections.hpp"
#include "delayed_builder.hpp"
#include "fingerprint.hpp"
#include "graph.hpp"
#include "py/binding.hpp"
#include "py/compat.hpp"
#include "py/condition_lists.hpp"
#include "py/op_snapshot.hpp"
#include "py/ref.hpp"
#include "traces.hpp"

namespace kestrane::py {
namespace {

// ---- construction and root -------------------------------------------------

PyObject* set_root_body(Graph& g, Call& c) {
    g.root_id = c.node_id(0);
    return py_none();
}

PyObject* get_root_body(Graph& g) { return py_int(g.root_id); }

PyObject* num_nodes_body(Graph& g) { return py_int(g.nodes.size()); }

PyObject* add_value_with_payload_body(Graph& g, Call& c) {
    const uint32_t val_id = c.u32(0);
    const uint32_t type_id = c.u32(1);
    return py_int(add_value_with_payload(g, val_id, type_id));
}

PyObject* add_op_with_payload_body(Graph& g, Call& c) { return py_int(add_op_with_payload(g, c.u32(0))); }

PyObject* connect_value_to_op_body(Graph& g, Call& c) {
    const NodeId val = c.node_id(0);
    const NodeId op = c.node_id(1);
    connect_value_to_op(g, val, op);
    return py_none();
}

PyObject* connect_op_to_value_body(Graph& g, Call& c) {
    const NodeId op = c.node_id(0);
    const NodeId val = c.node_id(1);
    connect_op_to_value(g, op, val);
    return py_none();
}

// ---- node queries --------------------------------------------------------------

PyObject* get_children_body(Graph& g, Call& c) {
    const IdList& l = g.at(c.node_id(0)).children;
    return node_list(l.begin(), l.end());
}

PyObject* get_parents_body(Graph& g, Call& c) {
    const IdList& l = g.at(c.node_id(0)).parents;
    return node_list(l.begin(), l.end());
}

PyObject* get_options_body(Graph& g, Call& c) {
    const IdList& l = g.at(c.node_id(0)).options;
    return node_list(l.begin(), l.end());
}

PyObject* get_parent_body(Graph& g, Call& c) {
    const Node& n = g.at(c.node_id(0));
    return n.has_parent() ? py_int(n.parent()) : py_none();
}

PyObject* is_value_node_body(Graph& g, Call& c) { return py_bool(g.at(c.node_id(0)).is_value()); }

PyObject* get_value_payload_body(Graph& g, Call& c) {
    const Payload& p = g.at(c.node_id(0)).payload;
    if (!p.is_value()) return py_none();
    PyObject* t = Py_BuildValue("(kk)", static_cast<unsigned long>(p.val_id()),
                                static_cast<unsigned long>(p.type_id()));
    if (!t) throw_py();
    return t;
}

PyObject* get_op_id_body(Graph& g, Call& c) {
    const Payload& p = g.at(c.node_id(0)).payload;
    return p.is_op() ? py_int(p.op_id()) : py_none();
}

PyObject* nodes_body(Graph& g, Call& c) {
    const bool val_nodes = c.flag(0);
    const bool op_nodes = c.flag(1);
    return node_list(nodes_of_kind(g, val_nodes, op_nodes));
}

PyObject* same_spec_body(Graph& g, Call& c) {
    const NodeId a = c.node_id(0);
    const NodeId b = c.node_id(1);
    return py_bool(same_spec(g, a, b));
}

// ---- walks and leaves -------------------------------------------------------

PyObject* walk_from_root_body(Graph& g, Call& c) {
    const bool above = c.flag(0);
    const bool below = c.flag(1);
    return node_list(walk_from_root(g, above, below));
}

PyObject* walk_body(Graph& g, Call& c) {
    const NodeId start = c.node_id(0);
    const bool above = c.flag(1, true);
    const bool below = c.flag(2, true);
    return node_list(walk(g, start, above, below));
}

PyObject* leaves_body(Graph& g) { return node_list(leaves(g)); }

// ---- neighbours, connections and hashes ---------------------------------------

PyObject* neighbors_body(Graph& g, Call& c) { return node_list(kestrane::neighbors(g, c.node_id(0))); }

// A new tuple that takes over the references in `items` (all non-null); they
// are released if the tuple cannot be made.
PyObject* steal_tuple(std::initializer_list<PyObject*> items) {
    PyObject* t = PyTuple_New(static_cast<Py_ssize_t>(items.size()));
    if (!t) {
        for (PyObject* o : items) Py_DECREF(o);
        throw_py();
    }
    Py_ssize_t i = 0;
    for (PyObject* o : items) PyTuple_SET_ITEM(t, i++, o);
    return t;
}

PyObject* connections_body(Graph& g) {
    const std::vector<Connection> conns = kestrane::connections(g);
    GcPause pause;
    return list_of(conns.size(), [&](size_t i) {
        Ref a(py_int(conns[i].first));
        PyObject* b = py_int(conns[i].second);
        return steal_tuple({a.release(), b});
    });
}

PyObject* connection_hash_body(Graph& g) { return py_int(kestrane::connection_hash(g)); }

PyObject* equality_hash_body(Graph& g) { return py_int(kestrane::equality_hash(g)); }

// ---- clone, graft and merge ----------------------------------------------------

PyObject* corr_dict(const Corr& corr) {
    Ref dict(PyDict_New());
    if (!dict) throw_py();
    corr.for_each([&](NodeId src, NodeId copy) {
        Ref k(py_int(src));
        Ref v(py_int(copy));
        if (PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) throw_py();
    });
    return dict.release();
}

PyObject* clone_subgraph_body(Graph& g) {
    CloneResult r = kestrane::clone_subgraph(g);
    Ref dict(corr_dict(r.corr));
    Ref graph(wrap_graph(std::move(r.graph)));
    return steal_tuple({graph.release(), dict.release()});
}

PyObject* clone_and_attach_body(Graph& g, Call& c) {
    const Graph& elem = c.graph(0);
    const NodeId root_leaf_id = c.node_id(1);
    AttachResult r = kestrane::clone_and_attach(g, elem, root_leaf_id);
    Ref new_elem_leaves(node_list(r.new_elem_leaves));
    Ref old_candidates(node_list(r.old_candidates));
    Ref graph(wrap_graph(std::move(r.graph)));
    return steal_tuple({graph.release(), new_elem_leaves.release(), old_candidates.release()});
}

PyObject* merge_value_nodes_body(Graph& g, Call& c) {
    const NodeId keep = c.node_id(0);
    const NodeId other = c.node_id(1);
    const bool upper = c.flag(2);
    const bool lower = c.flag(3);
    kestrane::merge_value_nodes(g, keep, other, upper, lower);
    return py_none();
}

// ---- traces, reachability, cross sections and gluing -------------------------

PyObject* traces_body(Graph& g, Call& c) {
    const NodeId start = c.node_id(0);
    TraceFlags f;
    f.me_too = c.flag(1, true);
    f.op_nodes = c.flag(2, true);
    f.val_nodes = c.flag(3, true);
    f.above = c.flag(4, true);
    f.below = c.flag(5, false);
    const TraceList t = kestrane::traces(g, start, f);
    GcPause pause;
    return list_of(t.size(), [&](size_t i) { return node_list(t.begin(i), t.end(i)); });
}

PyObject* is_below_body(Graph& g, Call& c) {
    const NodeId start = c.node_id(0);
    const std::vector<NodeId> nodes = c.node_ids(1);
    const bool include_self = c.flag(2, true);
    const std::vector<NodeId> skip = c.node_ids(3, {});
    return py_bool(kestrane::is_below(g, start, nodes, include_self, skip));
}

PyObject* cross_sections_body(Graph& g, Call& c) {
    const std::vector<CrossSection> r = cross_sections_internal(g, c.node_ids(0));
    GcPause pause;
    return list_of(r.size(), [&](size_t i) {
        Ref nodes(node_list(r[i].nodes));
        PyObject* score = py_int(r[i].score);
        return steal_tuple({nodes.release(), score});
    });
}

PyObject* glue_leaves_body(Call& c) {
    const Graph& g = c.graph(0);
    const std::vector<NodeId> leaves = c.node_ids(1);
    const std::vector<NodeId> candidates = c.node_ids(2);
    const bool trees_only = c.flag(3);
    std::optional<uint64_t> max_leaves;
    if (c.given(4) && c.raw(4) != Py_None) max_leaves = c.node_id(4);
    std::vector<Graph> r = kestrane::glue_leaves(g, leaves, candidates, trees_only, max_leaves);
    return list_of(r.size(), [&](size_t i) { return wrap_graph(std::move(r[i])); });
}

// ---- conditions -------------------------------------------------------------------

PyObject* condition_combinations_body(Call& c) {
    const std::vector<ConditionList> by_child = c.get(0, to_condition_lists);
    const std::vector<NodeId> offsets = c.node_ids(1);
    return condition_list_result(condition_combinations(by_child, offsets));
}

// The three functions that read a graph take its access only after their
// arguments and the op snapshot are converted (that conversion runs Python
// code); a refusal then is an internal failure, not the RuntimeError.
template <class Compute>
PyObject* with_late_access(GraphObject* obj, Compute compute) {
    AccessGuard guard;
    if (!guard.try_take(obj, Access::Shared)) panic("Already mutably borrowed: PyBorrowError");
    const ConditionList result = compute(obj->graph);
    guard.release();
    return condition_list_result(result);
}

// tree_conditions and get_conditions: (graph, node_id, op_snapshot, adopt_for_callable).
template <ConditionList (*Compute)(const Graph&, NodeId, const OpCache&, bool)>
PyObject* adopting_conditions_body(Call& c) {
    GraphObject* obj = c.graph_object(0);
    const NodeId node_id = c.node_id(1);
    PyObject* snapshot = c.get(2, to_snapshot_dict);
    const bool adopt = c.flag(3);
    const OpCache ops = build_op_cache(snapshot);
    return with_late_access(obj, [&](const Graph& g) { return Compute(g, node_id, ops, adopt); });
}

PyObject* update_callable_conditions_body(Call& c) {
    GraphObject* obj = c.graph_object(0);
    const NodeId node_id = c.node_id(1);
    PyObject* snapshot = c.get(2, to_snapshot_dict);
    const OpCache ops = build_op_cache(snapshot);
    return with_late_access(obj,
                            [&](const Graph& g) { return _update_callable_conditions(g, node_id, ops); });
}

// ---- the tables -----------------------------------------------------------------

constexpr Signature sig(const char* display, std::initializer_list<const char*> params, int nrequired) {
    Signature s{display, {}, static_cast<int>(params.size()), nrequired};
    int i = 0;
    for (const char* p : params) s.params[i++] = p;
    return s;
}

constexpr Signature kNoParams{nullptr, {}, 0, 0};

// RustGraph's methods, in the order the class lists them.
const MethodSpec kMethods[] = {
    {sig("RustGraph.set_root()", {"node_id"}, 1),
     "set_root($self, node_id)\n--\n\nSet the root node of this graph.", Access::Exclusive, set_root_body,
     nullptr},
    {kNoParams,
     "get_root($self)\n--\n\nReturn the root node id.\n"
     "Note: the graph must have at least one node for this id to be valid.",
     Access::Shared, nullptr, get_root_body},
    {sig("RustGraph.walk_from_root()", {"above", "below"}, 2),
     "walk_from_root($self, above, below)\n--\n\nConvenience: walk from root directly (fails if not set)",
     Access::Shared, walk_from_root_body, nullptr},
    {sig("RustGraph.add_value_with_payload()", {"val_id", "type_id"}, 2),
     "add_value_with_payload($self, val_id, type_id)\n--\n\n", Access::Exclusive,
     add_value_with_payload_body, nullptr},
    {sig("RustGraph.add_op_with_payload()", {"op_id"}, 1), "add_op_with_payload($self, op_id)\n--\n\n",
     Access::Exclusive, add_op_with_payload_body, nullptr},
    {sig("RustGraph.connect_value_to_op()", {"val", "op"}, 2), "connect_value_to_op($self, val, op)\n--\n\n",
     Access::Exclusive, connect_value_to_op_body, nullptr},
    {sig("RustGraph.connect_op_to_value()", {"op", "val"}, 2), "connect_op_to_value($self, op, val)\n--\n\n",
     Access::Exclusive, connect_op_to_value_body, nullptr},
    {sig("RustGraph.get_children()", {"node_id"}, 1), "get_children($self, node_id)\n--\n\n", Access::Shared,
     get_children_body, nullptr},
    {sig("RustGraph.get_parents()", {"node_id"}, 1), "get_parents($self, node_id)\n--\n\n", Access::Shared,
     get_parents_body, nullptr},
    {sig("RustGraph.get_options()", {"node_id"}, 1), "get_options($self, node_id)\n--\n\n", Access::Shared,
     get_options_body, nullptr},
    {sig("RustGraph.neighbors()", {"id"}, 1), "neighbors($self, id)\n--\n\n", Access::Shared, neighbors_body,
     nullptr},
    {kNoParams, "leaves($self)\n--\n\n", Access::Shared, nullptr, leaves_body},
    {sig("RustGraph.get_parent()", {"node_id"}, 1), "get_parent($self, node_id)\n--\n\n", Access::Shared,
     get_parent_body, nullptr},
    {sig("RustGraph.is_value_node()", {"node_id"}, 1),
     "is_value_node($self, node_id)\n--\n\nReturn true if the node at `node_id` is a value node.",
     Access::Shared, is_value_node_body, nullptr},
    {sig("RustGraph.get_value_payload()", {"node_id"}, 1), "get_value_payload($self, node_id)\n--\n\n",
     Access::Shared, get_value_payload_body, nullptr},
    {sig("RustGraph.get_op_id()", {"node_id"}, 1), "get_op_id($self, node_id)\n--\n\n", Access::Shared,
     get_op_id_body, nullptr},
    {kNoParams, "num_nodes($self)\n--\n\n", Access::Shared, nullptr, num_nodes_body},
    {sig("RustGraph.nodes()", {"val_nodes", "op_nodes"}, 2),
     "nodes($self, val_nodes, op_nodes)\n--\n\nReturn the indices of nodes filtered by type.\n\n"
     "If `val_nodes` is true, include value nodes. If `op_nodes` is true,\n"
     "include operator nodes. The returned vector preserves the graph's\n"
     "internal node ordering (0..n).",
     Access::Shared, nodes_body, nullptr},
    {sig("RustGraph.walk()", {"start_id", "above", "below"}, 1),
     "walk($self, start_id, above=True, below=True)\n--\n\n", Access::Shared, walk_body, nullptr},
    {kNoParams,
     "clone_subgraph($self)\n--\n\n"
     "Clone the entire subgraph reachable from the current graph's root.\n\n"
     "The function:\n"
     "  - Uses `self.root_id` as the starting point.\n"
     "  - Traverses all reachable nodes (both up and down connections).\n"
     "  - Rebuilds a new `Graph` with cloned nodes and adjusted edge indices.\n"
     "  - Returns the cloned graph and the mapping `old_id -> new_id`.\n\n"
     "The cloned graph will have its own `root_id` set to the mapped clone\n"
     "of the original root node.",
     Access::Shared, nullptr, clone_subgraph_body},
    {sig("RustGraph.merge_value_nodes()", {"keep", "other", "upper", "lower"}, 4),
     "merge_value_nodes($self, keep, other, upper, lower)\n--\n\n"
     "Merge two value nodes by redirecting all connections from `other` to `keep`.\n"
     "Equivalent to Python ValueNode.merge(upper=True, lower=True).",
     Access::Exclusive, merge_value_nodes_body, nullptr},
    {kNoParams, "connection_hash($self)\n--\n\n", Access::Shared, nullptr, connection_hash_body},
    {kNoParams, "connections($self)\n--\n\n", Access::Shared, nullptr, connections_body},
    {kNoParams, "equality_hash($self)\n--\n\n", Access::Shared, nullptr, equality_hash_body},
    {sig("RustGraph.same_spec()", {"a", "b"}, 2),
     "same_spec($self, a, b)\n--\n\nHelper: check if two value nodes have the same spec (type_id).",
     Access::Shared, same_spec_body, nullptr},
    {sig("RustGraph.clone_and_attach()", {"elem", "root_leaf_id"}, 2),
     "clone_and_attach($self, elem, root_leaf_id)\n--\n\n"
     "Clone the current graph and attach `elem` beneath `root_leaf_id`,\n"
     "merging the leaf value with the element's root value node.\n\n"
     "The element\xE2\x80\x99" "s *operator under its root* becomes a new outgoing option\n"
     "of the given leaf. The element root value itself is not duplicated.\n\n"
     "Returns:\n"
     "  (new_graph, new_elem_leaves, old_candidates)",
     Access::Shared, clone_and_attach_body, nullptr},
    {sig("RustGraph.traces()", {"start_id", "me_too", "op_nodes", "val_nodes", "above", "below"}, 1),
     "traces($self, start_id, me_too=True, op_nodes=True, val_nodes=True, above=True, below=False)\n--\n\n"
     "Compute traces starting from a node, like the Python ValueNode.traces().",
     Access::Shared, traces_body, nullptr},
    {sig("RustGraph.is_below()", {"start_id", "nodes", "include_self", "skip"}, 2),
     "is_below($self, start_id, nodes, include_self=True, skip=...)\n--\n\n", Access::Shared, is_below_body,
     nullptr},
    {sig("RustGraph.cross_sections()", {"target_leaves"}, 1), "cross_sections($self, target_leaves)\n--\n\n",
     Access::Shared, cross_sections_body, nullptr},
};
constexpr size_t kNumMethods = std::size(kMethods);

// The module's functions, in registration order.
const FunctionSpec kFunctions[] = {
    {sig("condition_combinations()", {"conditions_by_child", "offset_list"}, 2),
     "condition_combinations(conditions_by_child, offset_list)\n--\n\n", condition_combinations_body},
    {sig("tree_conditions()", {"graph", "node_id", "op_snapshot", "adopt_for_callable"}, 4),
     "tree_conditions(graph, node_id, op_snapshot, adopt_for_callable)\n--\n\n", adopting_conditions_body<_tree_conditions>},
    {sig("get_conditions()", {"graph", "node_id", "op_snapshot", "adopt_for_callable"}, 4),
     "get_conditions(graph, node_id, op_snapshot, adopt_for_callable)\n--\n\n", adopting_conditions_body<get_conditions>},
    {sig("update_callable_conditions()", {"graph", "node_id", "op_snapshot"}, 3),
     "update_callable_conditions(graph, node_id, op_snapshot)\n--\n\n", update_callable_conditions_body},
    {sig("glue_leaves()", {"graph", "leaves", "candidates", "trees_only", "max_leaves"}, 4),
     "glue_leaves(graph, leaves, candidates, trees_only, max_leaves=None)\n--\n\n", glue_leaves_body},
};
constexpr size_t kNumFunctions = std::size(kFunctions);

// ---- trampolines: one C entry point per table row ----------------------------

template <size_t I>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method(kMethods[I], self, args, nargs, kwnames);
}

template <size_t I>
PyObject* method_entry_noargs(PyObject* self, PyObject*) {
    return call_method_noargs(kMethods[I], self);
}

template <size_t I>
PyObject* function_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_function(kFunctions[I], args, nargs, kwnames);
}

// Method names are the text signature's leading word.
std::string name_of(const char* doc) {
    const char* end = doc;
    while (*end && *end != '(') ++end;
    return std::string(doc, end);
}

template <size_t... I>
void fill_methods(PyMethodDef* defs, std::index_sequence<I...>) {
    static std::string names[sizeof...(I) ? sizeof...(I) : 1];
    ((names[I] = name_of(kMethods[I].doc),
      defs[I] = kMethods[I].noargs
                    ? PyMethodDef{names[I].c_str(), reinterpret_cast<PyCFunction>(method_entry_noargs<I>),
                                  METH_NOARGS, kMethods[I].doc}
                    : PyMethodDef{names[I].c_str(),
                                  reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method_entry<I>)),
                                  METH_FASTCALL | METH_KEYWORDS, kMethods[I].doc}),
     ...);
}

template <size_t... I>
void fill_functions(PyMethodDef* defs, std::index_sequence<I...>) {
    static std::string names[sizeof...(I) ? sizeof...(I) : 1];
    ((names[I] = name_of(kFunctions[I].doc),
      defs[I] = PyMethodDef{names[I].c_str(),
                            reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function_entry<I>)),
                            METH_FASTCALL | METH_KEYWORDS, kFunctions[I].doc}),
     ...);
}

PyMethodDef method_defs[kNumMethods + 1];
PyMethodDef function_defs[kNumFunctions + 1];

// ---- the RustGraph type -----------------------------------------------------------

const Signature kNewSig = sig("RustGraph.__new__()", {}, 0);

PyObject* graph_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&]() -> PyObject* {
        Call c(kNewSig);
        if (!c.match_tuple(args, kwargs)) return nullptr;
        PyObject* o = type->tp_alloc(type, 0);
        if (!o) throw_py();
        auto* self = reinterpret_cast<GraphObject*>(o);
        new (&self->borrow) std::atomic<int64_t>(0);
        new (&self->graph) Graph();
        return o;
    });
}

void graph_dealloc(PyObject* o) noexcept {
    auto* self = reinterpret_cast<GraphObject*>(o);
    PyTypeObject* type = Py_TYPE(o);
    self->graph.~Graph();
    self->borrow.~atomic();
    type->tp_free(o);
    Py_DECREF(type);
}

PyObject* make_graph_type() {
    fill_methods(method_defs, std::make_index_sequence<kNumMethods>());
    // A placeholder entry for __module__, so that the host does not warn about a
    // type without one; create_module() replaces it by the string "kestrane".
    static PyMemberDef members[] = {
        {"__module__", kMemberObject, 0, kMemberReadonly, nullptr},
        {nullptr, 0, 0, 0, nullptr},
    };
    static PyType_Slot slots[] = {
        {Py_tp_members, members},
        {Py_tp_new, reinterpret_cast<void*>(graph_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(graph_dealloc)},
        {Py_tp_doc, const_cast<char*>("RustGraph()\n--\n\n")},
        {Py_tp_methods, method_defs},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "RustGraph",
        static_cast<int>(sizeof(GraphObject)),
        0,
        Py_TPFLAGS_DEFAULT,
        slots,
    };
    return PyType_FromSpec(&spec);
}

// The type's name carries no module prefix, so __module__ is set by hand
// before the type is made immutable.
bool freeze_type(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030E0000
    return PyType_Freeze(type) == 0;
#else
    type->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
    PyType_Modified(type);
    return true;
#endif
}

// ---- the module -------------------------------------------------------------------

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "kestrane",
    "",
    0,  // no module state; a non-negative size makes a re-import call the init again
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyObject* the_module = nullptr;
std::atomic<int64_t> first_interpreter{-1};

// Sets the attribute and appends the name to __all__ (created on first use).
bool register_name(PyObject* module, const char* name, PyObject* value) {
    if (PyModule_AddObjectRef(module, name, value) < 0) return false;
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        PyErr_Clear();
        all = Ref(PyList_New(0));
        if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0) return false;
    }
    Ref text(PyUnicode_FromString(name));
    return text && PyList_Append(all.get(), text.get()) == 0;
}

// Runs pending signal handlers for long enumerations; true when one raised.
bool check_signals() { return PyErr_CheckSignals() != 0; }

PyObject* create_module() {
    Ref module(PyModule_Create(&module_def));
    if (!module) return nullptr;
    interrupt_hook = check_signals;
    if (!panic_exception()) return nullptr;
    Ref type(make_graph_type());
    if (!type) return nullptr;
    graph_type = reinterpret_cast<PyTypeObject*>(type.get());
    Ref modname(PyUnicode_FromString("kestrane"));
    if (!modname || PyObject_SetAttrString(type.get(), "__module__", modname.get()) < 0) return nullptr;
    if (!freeze_type(graph_type)) return nullptr;
    if (!register_name(module.get(), "RustGraph", type.get())) return nullptr;
    Py_INCREF(type.get());  // the type lives for the rest of the process
    fill_functions(function_defs, std::make_index_sequence<kNumFunctions>());
    for (size_t i = 0; i < kNumFunctions; ++i) {
        Ref fn(PyCFunction_NewEx(&function_defs[i], nullptr, modname.get()));
        if (!fn || !register_name(module.get(), function_defs[i].ml_name, fn.get())) return nullptr;
    }
    return module.release();
}

}  // namespace
}  // namespace kestrane::py

PyMODINIT_FUNC PyInit_kestrane(void) {
    using namespace kestrane::py;
    const int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id < 0) return nullptr;
    int64_t expected = -1;
    if (!first_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError, "kestrane does not support sub-interpreters");
        return nullptr;
    }
    if (!the_module) {
        the_module = create_module();
        if (!the_module) return nullptr;
    }
    Py_INCREF(the_module);
    return the_module;
}
