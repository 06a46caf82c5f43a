// The RustGraph type: its method bodies, its method table and the type
// object. Each body converts its arguments, calls the core and builds the
// result; matching, access and failures are handled in call.cpp and border.cpp.
#include "graph_type.hpp"

#include <iterator>
#include <utility>
#include <vector>

#include "../core/clone.hpp"
#include "../core/cross_sections.hpp"
#include "../core/fingerprint.hpp"
#include "../core/graph.hpp"
#include "../core/traces.hpp"
#include "../core/walks.hpp"
#include "call.hpp"
#include "compat.hpp"
#include "ref.hpp"
#include "results.hpp"

namespace kestrane::py {
namespace {

// ---- construction and root -------------------------------------------------

// The parameter lists shared by several methods.
constexpr Param kNodeId[] = {{"node_id"}};
constexpr Param kAboveBelow[] = {{"above"}, {"below"}};

PyObject* set_root_body(Graph& g, Call& c) {
    g.root_id = c.node_id<arg(kNodeId, "node_id")>();
    return py_none();
}

PyObject* get_root_body(Graph& g, Call&) { return py_int(g.root_id); }

PyObject* num_nodes_body(Graph& g, Call&) { return py_int(g.nodes.size()); }

// The returned id is made before the node is added: a failure to make it
// leaves the graph as it was.
constexpr Param kAddValue[] = {{"val_id"}, {"type_id"}};
PyObject* add_value_with_payload_body(Graph& g, Call& c) {
    const uint32_t val_id = c.u32<arg(kAddValue, "val_id")>();
    const uint32_t type_id = c.u32<arg(kAddValue, "type_id")>();
    Ref id(py_int(g.nodes.size()));
    add_value_with_payload(g, val_id, type_id);
    return id.release();
}

constexpr Param kAddOp[] = {{"op_id"}};
PyObject* add_op_with_payload_body(Graph& g, Call& c) {
    const uint32_t op_id = c.u32<arg(kAddOp, "op_id")>();
    Ref id(py_int(g.nodes.size()));
    add_op_with_payload(g, op_id);
    return id.release();
}

constexpr Param kValueToOp[] = {{"val"}, {"op"}};
PyObject* connect_value_to_op_body(Graph& g, Call& c) {
    const NodeId val = c.node_id<arg(kValueToOp, "val")>();
    const NodeId op = c.node_id<arg(kValueToOp, "op")>();
    connect_value_to_op(g, val, op);
    return py_none();
}

constexpr Param kOpToValue[] = {{"op"}, {"val"}};
PyObject* connect_op_to_value_body(Graph& g, Call& c) {
    const NodeId op = c.node_id<arg(kOpToValue, "op")>();
    const NodeId val = c.node_id<arg(kOpToValue, "val")>();
    connect_op_to_value(g, op, val);
    return py_none();
}

// ---- node queries --------------------------------------------------------------

PyObject* get_children_body(Graph& g, Call& c) {
    const IdList& l = g.at(c.node_id<arg(kNodeId, "node_id")>()).children;
    return node_list(l.begin(), l.end());
}

PyObject* get_parents_body(Graph& g, Call& c) {
    const IdList& l = g.at(c.node_id<arg(kNodeId, "node_id")>()).parents;
    return node_list(l.begin(), l.end());
}

PyObject* get_options_body(Graph& g, Call& c) {
    const IdList& l = g.at(c.node_id<arg(kNodeId, "node_id")>()).options;
    return node_list(l.begin(), l.end());
}

PyObject* get_parent_body(Graph& g, Call& c) {
    const Node& n = g.at(c.node_id<arg(kNodeId, "node_id")>());
    return n.has_parent() ? py_int(n.parent()) : py_none();
}

PyObject* is_value_node_body(Graph& g, Call& c) {
    return py_bool(g.at(c.node_id<arg(kNodeId, "node_id")>()).is_value());
}

PyObject* get_value_payload_body(Graph& g, Call& c) {
    const Payload& p = g.at(c.node_id<arg(kNodeId, "node_id")>()).payload;
    if (!p.is_value()) return py_none();
    PyObject* t = Py_BuildValue("(kk)", static_cast<unsigned long>(p.val_id()),
                                static_cast<unsigned long>(p.type_id()));
    if (!t) throw_py();
    return t;
}

PyObject* get_op_id_body(Graph& g, Call& c) {
    const Payload& p = g.at(c.node_id<arg(kNodeId, "node_id")>()).payload;
    return p.is_op() ? py_int(p.op_id()) : py_none();
}

constexpr Param kNodes[] = {{"val_nodes"}, {"op_nodes"}};
PyObject* nodes_body(Graph& g, Call& c) {
    const bool val_nodes = c.flag<arg(kNodes, "val_nodes")>();
    const bool op_nodes = c.flag<arg(kNodes, "op_nodes")>();
    return node_list(nodes_of_kind(g, val_nodes, op_nodes));
}

constexpr Param kSameSpec[] = {{"a"}, {"b"}};
PyObject* same_spec_body(Graph& g, Call& c) {
    const NodeId a = c.node_id<arg(kSameSpec, "a")>();
    const NodeId b = c.node_id<arg(kSameSpec, "b")>();
    return py_bool(same_spec(g, a, b));
}

// ---- walks and leaves -------------------------------------------------------

PyObject* walk_from_root_body(Graph& g, Call& c) {
    const bool above = c.flag<arg(kAboveBelow, "above")>();
    const bool below = c.flag<arg(kAboveBelow, "below")>();
    return node_list(walk_from_root(g, above, below));
}

constexpr Param kWalk[] = {{"start_id"}, {"above", Default::True}, {"below", Default::True}};
PyObject* walk_body(Graph& g, Call& c) {
    const NodeId start = c.node_id<arg(kWalk, "start_id")>();
    const bool above = c.flag<arg(kWalk, "above")>();
    const bool below = c.flag<arg(kWalk, "below")>();
    return node_list(walk(g, start, above, below));
}

PyObject* leaves_body(Graph& g, Call&) { return node_list(leaves(g)); }

// ---- neighbours, connections and hashes ---------------------------------------

constexpr Param kNeighbors[] = {{"id"}};
PyObject* neighbors_body(Graph& g, Call& c) {
    return node_list(kestrane::neighbors(g, c.node_id<arg(kNeighbors, "id")>()));
}

PyObject* connections_body(Graph& g, Call&) {
    const std::vector<Connection> conns = kestrane::connections(g);
    GcPause pause;
    return list_of(conns.size(), [&](size_t i) {
        Ref a(py_int(conns[i].first));
        PyObject* b = py_int(conns[i].second);
        return steal_tuple({a.release(), b});
    });
}

PyObject* connection_hash_body(Graph& g, Call&) { return py_int(kestrane::connection_hash(g)); }

PyObject* equality_hash_body(Graph& g, Call&) { return py_int(kestrane::equality_hash(g)); }

// ---- clone, graft and merge ----------------------------------------------------

// `count` is the number of mapped entries (the clone's size). The dict is
// kept out of the collector's reach while it fills (the Python code a poll
// runs must not find it half-filled), as ListBuilder does for lists.
PyObject* corr_dict(const Corr& corr, size_t count) {
    Ref dict(new_dict_for(static_cast<Py_ssize_t>(count)));
    if (!dict) throw_py();
    const bool tracked = PyObject_GC_IsTracked(dict.get());
    if (tracked) PyObject_GC_UnTrack(dict.get());
    InterruptPoll poll;
    corr.for_each([&](NodeId src, NodeId copy) {
        poll.tick();
        Ref k(py_int(src));
        Ref v(py_int(copy));
        if (PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) throw_py();
    });
    if (tracked) PyObject_GC_Track(dict.get());
    return dict.release();
}

PyObject* clone_subgraph_body(Graph& g, Call&) {
    CloneResult r = kestrane::clone_subgraph(g);
    Ref dict(corr_dict(r.corr, r.graph.size()));
    Ref graph(wrap_graph(std::move(r.graph)));
    return steal_tuple({graph.release(), dict.release()});
}

constexpr Param kCloneAndAttach[] = {{"elem"}, {"root_leaf_id"}};
PyObject* clone_and_attach_body(Graph& g, Call& c) {
    const Graph& elem = c.graph<arg(kCloneAndAttach, "elem")>();
    const NodeId root_leaf_id = c.node_id<arg(kCloneAndAttach, "root_leaf_id")>();
    AttachResult r = kestrane::clone_and_attach(g, elem, root_leaf_id);
    Ref new_elem_leaves(node_list(r.new_elem_leaves));
    Ref old_candidates(node_list(r.old_candidates));
    Ref graph(wrap_graph(std::move(r.graph)));
    return steal_tuple({graph.release(), new_elem_leaves.release(), old_candidates.release()});
}

constexpr Param kMerge[] = {{"keep"}, {"other"}, {"upper"}, {"lower"}};
PyObject* merge_value_nodes_body(Graph& g, Call& c) {
    const NodeId keep = c.node_id<arg(kMerge, "keep")>();
    const NodeId other = c.node_id<arg(kMerge, "other")>();
    const bool upper = c.flag<arg(kMerge, "upper")>();
    const bool lower = c.flag<arg(kMerge, "lower")>();
    kestrane::merge_value_nodes(g, keep, other, upper, lower);
    return py_none();
}

// ---- traces, reachability, cross sections and gluing -------------------------

constexpr Param kTraces[] = {{"start_id"},
                             {"me_too", Default::True},
                             {"op_nodes", Default::True},
                             {"val_nodes", Default::True},
                             {"above", Default::True},
                             {"below", Default::False}};
PyObject* traces_body(Graph& g, Call& c) {
    const NodeId start = c.node_id<arg(kTraces, "start_id")>();
    TraceFlags f;
    f.me_too = c.flag<arg(kTraces, "me_too")>();
    f.op_nodes = c.flag<arg(kTraces, "op_nodes")>();
    f.val_nodes = c.flag<arg(kTraces, "val_nodes")>();
    f.above = c.flag<arg(kTraces, "above")>();
    f.below = c.flag<arg(kTraces, "below")>();
    const TraceList t = kestrane::traces(g, start, f);
    GcPause pause;
    return list_of(t.size(), [&](size_t i) { return node_list(t.begin(i), t.end(i)); });
}

constexpr Param kIsBelow[] = {
    {"start_id"}, {"nodes"}, {"include_self", Default::True}, {"skip", Default::Empty}};
PyObject* is_below_body(Graph& g, Call& c) {
    const NodeId start = c.node_id<arg(kIsBelow, "start_id")>();
    const std::vector<NodeId> nodes = c.node_ids<arg(kIsBelow, "nodes")>();
    const bool include_self = c.flag<arg(kIsBelow, "include_self")>();
    const std::vector<NodeId> skip = c.node_ids<arg(kIsBelow, "skip")>();
    return py_bool(kestrane::is_below(g, start, nodes, include_self, skip));
}

constexpr Param kCrossSections[] = {{"target_leaves"}};
PyObject* cross_sections_body(Graph& g, Call& c) {
    const std::vector<CrossSection> r =
        kestrane::cross_sections(g, c.node_ids<arg(kCrossSections, "target_leaves")>());
    GcPause pause;
    return list_of(r.size(), [&](size_t i) {
        Ref nodes(node_list(r[i].nodes));
        PyObject* score = py_int(r[i].score);
        return steal_tuple({nodes.release(), score});
    });
}

// ---- the method table ------------------------------------------------------------

// RustGraph's methods, in the order the class lists them. exact text: callers
// match it. The names, parameter lists and descriptions make the docstrings
// and text signatures, which callers read as they stand.
const MethodRow kMethods[] = {
    {"set_root", Access::Exclusive, kNodeId, set_root_body, "Set the root node of this graph."},
    {"get_root",
     Access::Shared,
     {},
     get_root_body,
     "Return the root node id.\n"
     "Note: the graph must have at least one node for this id to be valid."},
    {"walk_from_root", Access::Shared, kAboveBelow, walk_from_root_body,
     "Convenience: walk from root directly (fails if not set)"},
    {"add_value_with_payload", Access::Exclusive, kAddValue, add_value_with_payload_body, ""},
    {"add_op_with_payload", Access::Exclusive, kAddOp, add_op_with_payload_body, ""},
    {"connect_value_to_op", Access::Exclusive, kValueToOp, connect_value_to_op_body, ""},
    {"connect_op_to_value", Access::Exclusive, kOpToValue, connect_op_to_value_body, ""},
    {"get_children", Access::Shared, kNodeId, get_children_body, ""},
    {"get_parents", Access::Shared, kNodeId, get_parents_body, ""},
    {"get_options", Access::Shared, kNodeId, get_options_body, ""},
    {"neighbors", Access::Shared, kNeighbors, neighbors_body, ""},
    {"leaves", Access::Shared, {}, leaves_body, ""},
    {"get_parent", Access::Shared, kNodeId, get_parent_body, ""},
    {"is_value_node", Access::Shared, kNodeId, is_value_node_body,
     "Return true if the node at `node_id` is a value node."},
    {"get_value_payload", Access::Shared, kNodeId, get_value_payload_body, ""},
    {"get_op_id", Access::Shared, kNodeId, get_op_id_body, ""},
    {"num_nodes", Access::Shared, {}, num_nodes_body, ""},
    {"nodes", Access::Shared, kNodes, nodes_body,
     "Return the indices of nodes filtered by type.\n\n"
     "If `val_nodes` is true, include value nodes. If `op_nodes` is true,\n"
     "include operator nodes. The returned vector preserves the graph's\n"
     "internal node ordering (0..n)."},
    {"walk", Access::Shared, kWalk, walk_body, ""},
    {"clone_subgraph",
     Access::Shared,
     {},
     clone_subgraph_body,
     "Clone the entire subgraph reachable from the current graph's root.\n\n"
     "The function:\n"
     "  - Uses `self.root_id` as the starting point.\n"
     "  - Traverses all reachable nodes (both up and down connections).\n"
     "  - Rebuilds a new `Graph` with cloned nodes and adjusted edge indices.\n"
     "  - Returns the cloned graph and the mapping `old_id -> new_id`.\n\n"
     "The cloned graph will have its own `root_id` set to the mapped clone\n"
     "of the original root node."},
    {"merge_value_nodes", Access::Exclusive, kMerge, merge_value_nodes_body,
     "Merge two value nodes by redirecting all connections from `other` to `keep`.\n"
     "Equivalent to Python ValueNode.merge(upper=True, lower=True)."},
    {"connection_hash", Access::Shared, {}, connection_hash_body, ""},
    {"connections", Access::Shared, {}, connections_body, ""},
    {"equality_hash", Access::Shared, {}, equality_hash_body, ""},
    {"same_spec", Access::Shared, kSameSpec, same_spec_body,
     "Helper: check if two value nodes have the same spec (type_id)."},
    {"clone_and_attach", Access::Shared, kCloneAndAttach, clone_and_attach_body,
     "Clone the current graph and attach `elem` beneath `root_leaf_id`,\n"
     "merging the leaf value with the element's root value node.\n\n"
     "The element\xE2\x80\x99"
     "s *operator under its root* becomes a new outgoing option\n"
     "of the given leaf. The element root value itself is not duplicated.\n\n"
     "Returns:\n"
     "  (new_graph, new_elem_leaves, old_candidates)"},
    {"traces", Access::Shared, kTraces, traces_body,
     "Compute traces starting from a node, like the Python ValueNode.traces()."},
    {"is_below", Access::Shared, kIsBelow, is_below_body, ""},
    {"cross_sections", Access::Shared, kCrossSections, cross_sections_body, ""},
};
constexpr size_t kNumMethods = std::size(kMethods);

// ---- the RustGraph type -----------------------------------------------------------

// Filled at import and kept for the process: the type, never released, points
// into them (each method's name, doc and entry).
Signature method_sigs[kNumMethods];
PyMethodDef method_defs[kNumMethods + 1];

// One entry point per row: the host calls a plain function that carries no
// pointer to its row, so the row's index is a template argument.
template <size_t I>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method(kMethods[I], method_sigs[I], self, args, nargs, kwnames);
}

template <size_t I>
PyObject* method_entry_noargs(PyObject* self, PyObject*) {
    return call_method_noargs(kMethods[I], method_sigs[I], self);
}

template <size_t... I>
void fill_methods(std::index_sequence<I...>) {
    ((method_sigs[I] = make_signature(kMethods[I], "RustGraph"),
      method_defs[I] =
          method_sigs[I].nparams == 0
              ? PyMethodDef{kMethods[I].name, reinterpret_cast<PyCFunction>(method_entry_noargs<I>),
                            METH_NOARGS, method_sigs[I].doc.c_str()}
              : PyMethodDef{kMethods[I].name,
                            reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method_entry<I>)),
                            METH_FASTCALL | METH_KEYWORDS, method_sigs[I].doc.c_str()}),
     ...);
}

// RustGraph()'s signature for the matcher (no parameters); made at import
// like the method tables.
Signature new_sig;

PyObject* graph_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Call c(new_sig);
        c.match_tuple(args, kwargs);
        return new_graph_object(type, Graph());
    });
}

void graph_dealloc(PyObject* o) { destroy_graph_object(o); }

void freeze_type(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030E0000
    if (PyType_Freeze(type) < 0) throw_py();
#else
    type->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
    PyType_Modified(type);
#endif
}

}  // namespace

PyObject* make_graph_type() {
    fill_methods(std::make_index_sequence<kNumMethods>());
    new_sig = make_signature("__new__", ParamSpan(), "", "RustGraph");
    // A placeholder entry for __module__, so that the host does not warn about a
    // type without one; it is replaced by the string "kestrane" below.
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
        "RustGraph", static_cast<int>(sizeof(GraphObject)), 0, Py_TPFLAGS_DEFAULT, slots,
    };
    Ref type(PyType_FromSpec(&spec));
    if (!type) throw_py();
    // The type's name carries no module prefix, so __module__ is set by hand
    // before the type is made immutable.
    Ref modname(PyUnicode_FromString("kestrane"));
    if (!modname || PyObject_SetAttrString(type.get(), "__module__", modname.get()) < 0) throw_py();
    freeze_type(reinterpret_cast<PyTypeObject*>(type.get()));
    return type.release();
}

}  // namespace kestrane::py
