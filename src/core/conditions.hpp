// Operator conditions carried down to leaf positions, combined across
// children, adopted from callables, and reduced to a node's canonical list:
// the types, the op cache and the public entry points. Pure C++: the op cache
// is filled by the Python layer from the caller's snapshot; everything here
// only reads it and the graph.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "graph.hpp"

namespace kestrane {

// A list of positions (argument positions of an operator, or leaf positions).
using Condition = std::vector<uint64_t>;
using ConditionList = std::vector<Condition>;

struct OpInfo {
    ConditionList conditions;
    bool has_callable = false;
    bool cumulative = false;
};

// Operator id -> record. Only ever looked up, never iterated, so its hashing
// shows in no result.
using OpCache = std::unordered_map<uint32_t, OpInfo>;

inline const OpInfo* lookup_op(const OpCache& ops, uint32_t op_id) {
    auto it = ops.find(op_id);
    return it == ops.end() ? nullptr : &it->second;
}

// ---- condition_combinations.cpp ---------------------------------------------

// Every way of choosing one condition per factor (last factor fastest), each
// choice shifted by its child's offset and concatenated. A single offset
// shifts every factor; no offsets shift none; otherwise factors beyond the
// last offset are left out of the joined condition. Additions wrap.
ConditionList condition_combinations(const std::vector<ConditionList>& factors,
                                     const std::vector<uint64_t>& offsets);

// ---- conditions.cpp -----------------------------------------------------------

// The conditions of operator node `n`, or those of the callable named by the
// val_id of its first child when the operator has a callable and is not
// cumulative.
ConditionList _update_callable_conditions(const Graph& g, NodeId n, const OpCache& ops);

// ---- tree_conditions.cpp ------------------------------------------------------

// The operator conditions of `n` carried down to leaf positions below it.
// ValueError when the graph below `n` has a cycle.
ConditionList _tree_conditions(const Graph& g, NodeId n, const OpCache& ops, bool adopt);

// ---- node_conditions.cpp ------------------------------------------------------

// The canonical condition list of value node `v` in distinct-leaf indices.
ConditionList get_conditions(const Graph& g, NodeId v, const OpCache& ops, bool adopt);

}  // namespace kestrane
