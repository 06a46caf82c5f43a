// A value node's canonical condition list. Pure C++.
#pragma once

#include "condition_types.hpp"
#include "graph.hpp"

namespace kestrane {

// The canonical condition list of value node `v` in distinct-leaf indices:
// the tree conditions of its first option (adopting callables' conditions when
// `adopt`), translated from leaf positions to distinct leaves, then reduced to
// the minimal ones. A node without options has the one empty condition; when
// no tree condition survives the translation, 0, 1, ..., (the graph's leaf
// count) - 1 stands in for them.
ConditionList get_conditions(const Graph& g, NodeId v, const OpCache& ops, bool adopt);

}  // namespace kestrane
