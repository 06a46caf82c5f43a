// Conditions adopted from callables. Pure C++.
#pragma once

#include "condition_types.hpp"
#include "graph.hpp"

namespace kestrane {

// The conditions of operator node `n`, or those of the callable named by the
// val_id of its first child when the operator has a callable and is not
// cumulative.
ConditionList _update_callable_conditions(const Graph& g, NodeId n, const OpCache& ops);

}  // namespace kestrane
