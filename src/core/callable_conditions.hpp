// Conditions adopted from callables. Pure C++.
#pragma once

#include "condition_types.hpp"
#include "graph.hpp"

namespace kestrane {

// The conditions of operator node `n`, or, when the operator has a callable
// and is not cumulative and its first child is a value node, those of the
// callable named by that child's val_id, shifted (see the .cpp). Empty for a
// value node and for an id missing from `ops`.
ConditionList _update_callable_conditions(const Graph& g, NodeId n, const OpCache& ops);

}  // namespace kestrane
