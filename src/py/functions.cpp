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

constexpr Param kGlueLeaves[] = {
    {"graph"}, {"leaves"}, {"candidates"}, {"trees_only"}, {"max_leaves", Default::None}};
PyObject* glue_leaves_body(Call& c) {
    const Graph& g = c.graph<arg(kGlueLeaves, "graph")>();
    const std::vector<NodeId> leaves = c.node_ids<arg(kGlueLeaves, "leaves")>();
    const std::vector<NodeId> candidates = c.node_ids<arg(kGlueLeaves, "candidates")>();
    const bool trees_only = c.flag<arg(kGlueLeaves, "trees_only")>();
    const std::optional<uint64_t> max_leaves = c.optional_node_id<arg(kGlueLeaves, "max_leaves")>();
    std::vector<Graph> r = kestrane::glue_leaves(g, leaves, candidates, trees_only, max_leaves);
    return list_of(r.size(), [&](size_t i) { return wrap_graph(std::move(r[i])); });
}

// ---- conditions -------------------------------------------------------------------

constexpr Param kConditionCombinations[] = {{"conditions_by_child"}, {"offset_list"}};
PyObject* condition_combinations_body(Call& c) {
    const std::vector<ConditionList> by_child =
        c.get<arg(kConditionCombinations, "conditions_by_child")>(to_condition_lists);
    const std::vector<NodeId> offsets = c.node_ids<arg(kConditionCombinations, "offset_list")>();
    return condition_list_result(condition_combinations(by_child, offsets));
}

// tree_conditions, get_conditions and update_callable_conditions take their
// graph's access only after their arguments and the op snapshot are converted
// (that conversion runs Python code); a refusal then is an internal failure,
// not the RuntimeError.
template <class Compute>
PyObject* with_late_access(GraphObject* obj, Compute compute) {
    AccessGuard guard;
    if (!guard.try_take(obj, Access::Shared)) panic("Already mutably borrowed: PyBorrowError");
    const ConditionList result = compute(obj->graph);
    guard.release();
    return condition_list_result(result);
}

// tree_conditions and get_conditions.
constexpr Param kAdoptingConditions[] = {{"graph"}, {"node_id"}, {"op_snapshot"}, {"adopt_for_callable"}};
template <ConditionList (*Compute)(const Graph&, NodeId, const OpCache&, bool)>
PyObject* adopting_conditions_body(Call& c) {
    GraphObject* obj = c.graph_object<arg(kAdoptingConditions, "graph")>();
    const NodeId node_id = c.node_id<arg(kAdoptingConditions, "node_id")>();
    PyObject* snapshot = c.get<arg(kAdoptingConditions, "op_snapshot")>(to_snapshot_dict);
    const bool adopt = c.flag<arg(kAdoptingConditions, "adopt_for_callable")>();
    const OpCache ops = build_op_cache(snapshot);
    return with_late_access(obj, [&](const Graph& g) { return Compute(g, node_id, ops, adopt); });
}

constexpr Param kUpdateCallable[] = {{"graph"}, {"node_id"}, {"op_snapshot"}};
PyObject* update_callable_conditions_body(Call& c) {
    GraphObject* obj = c.graph_object<arg(kUpdateCallable, "graph")>();
    const NodeId node_id = c.node_id<arg(kUpdateCallable, "node_id")>();
    PyObject* snapshot = c.get<arg(kUpdateCallable, "op_snapshot")>(to_snapshot_dict);
    const OpCache ops = build_op_cache(snapshot);
    return with_late_access(obj,
                            [&](const Graph& g) { return _update_callable_conditions(g, node_id, ops); });
}

// ---- the function table -------------------------------------------------------------

// The module's functions, in registration order. They take access on their
// graph arguments themselves, so a row's access kind is None. exact text:
// callers match it (the names and parameter lists make the text signatures).
const FunctionRow kFunctions[] = {
    {"condition_combinations", Access::None, kConditionCombinations, condition_combinations_body, ""},
    {"tree_conditions", Access::None, kAdoptingConditions, adopting_conditions_body<_tree_conditions>, ""},
    {"get_conditions", Access::None, kAdoptingConditions, adopting_conditions_body<get_conditions>, ""},
    {"update_callable_conditions", Access::None, kUpdateCallable, update_callable_conditions_body, ""},
    {"glue_leaves", Access::None, kGlueLeaves, glue_leaves_body, ""},
};
constexpr size_t kNumFunctions = std::size(kFunctions);

// Filled at import and kept for the process, as graph_type.cpp's tables are;
// one entry point per row, for the same reason.
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

void add_functions(PyObject* module, void (*add)(PyObject* module, const char* name, PyObject* value)) {
    fill_functions(std::make_index_sequence<kNumFunctions>());
    Ref modname(PyUnicode_FromString("kestrane"));
    if (!modname) throw_py();
    for (PyMethodDef& def : function_defs) {
        Ref fn(PyCFunction_NewEx(&def, nullptr, modname.get()));
        if (!fn) throw_py();
        add(module, def.ml_name, fn.get());
    }
}

}  // namespace kestrane::py
