// The module's functions: gluing and the condition functions, with their
// table. Each body converts its arguments, calls the core and builds the result.
#include "functions.hpp"

#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "../core/conditions.hpp"
#include "../core/glue.hpp"
#include "call.hpp"
#include "condition_lists.hpp"
#include "op_snapshot.hpp"
#include "ref.hpp"
#include "results.hpp"

namespace kestrane::py {
namespace {

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

// ---- the function table -------------------------------------------------------------

// The module's functions, in registration order. They take access on their
// graph arguments themselves, so a row's access kind is None.
const FunctionRow kFunctions[] = {
    {"condition_combinations",
     Access::None,
     {{"conditions_by_child"}, {"offset_list"}},
     condition_combinations_body,
     ""},
    {"tree_conditions",
     Access::None,
     {{"graph"}, {"node_id"}, {"op_snapshot"}, {"adopt_for_callable"}},
     adopting_conditions_body<_tree_conditions>,
     ""},
    {"get_conditions",
     Access::None,
     {{"graph"}, {"node_id"}, {"op_snapshot"}, {"adopt_for_callable"}},
     adopting_conditions_body<get_conditions>,
     ""},
    {"update_callable_conditions",
     Access::None,
     {{"graph"}, {"node_id"}, {"op_snapshot"}},
     update_callable_conditions_body,
     ""},
    {"glue_leaves",
     Access::None,
     {{"graph"}, {"leaves"}, {"candidates"}, {"trees_only"}, {"max_leaves", "None"}},
     glue_leaves_body,
     ""},
};
constexpr size_t kNumFunctions = std::size(kFunctions);

Signature function_sigs[kNumFunctions];
PyMethodDef function_defs[kNumFunctions];

template <size_t I>
PyObject* function_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_function(kFunctions[I], function_sigs[I], args, nargs, kwnames);
}

template <size_t... I>
void fill_functions(std::index_sequence<I...>) {
    ((function_sigs[I] = make_signature(kFunctions[I], nullptr),
      function_defs[I] =
          PyMethodDef{kFunctions[I].name,
                      reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function_entry<I>)),
                      METH_FASTCALL | METH_KEYWORDS, function_sigs[I].doc.c_str()}),
     ...);
}

}  // namespace

bool add_functions(PyObject* module, bool (*add)(PyObject* module, const char* name, PyObject* value)) {
    fill_functions(std::make_index_sequence<kNumFunctions>());
    Ref modname(PyUnicode_FromString("kestrane"));
    if (!modname) return false;
    for (PyMethodDef& def : function_defs) {
        Ref fn(PyCFunction_NewEx(&def, nullptr, modname.get()));
        if (!fn || !add(module, def.ml_name, fn.get())) return false;
    }
    return true;
}

}  // namespace kestrane::py
