// Depth-first walks and leaves. Pure C++.
#pragma once

#include <cstdint>
#include <vector>

#include "graph.hpp"
#include "id_set.hpp"

namespace kestrane {

// Depth-first walk from `start`, neither listing nor passing through the
// nodes of `skip`; see walk_with_skip in walks.cpp for the order.
std::vector<NodeId> walk_with_skip(const Graph& g, NodeId start, bool above, bool below, const IdSet& skip);
std::vector<NodeId> walk(const Graph& g, NodeId start, bool above, bool below);
// Both directions from root_id; ValueError "Graph has no valid root_id set"
// when the root is not valid.
std::vector<NodeId> walk_from_root(const Graph& g, bool above, bool below);
// Leaves reached downward from root_id, in walk order; empty without a valid root.
std::vector<NodeId> leaves_with_skip(const Graph& g, const IdSet& skip);
std::vector<NodeId> leaves(const Graph& g);

}  // namespace kestrane
