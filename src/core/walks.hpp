// Depth-first walks and leaves. Pure C++.
#pragma once

#include <cstdint>
#include <vector>

#include "graph.hpp"

namespace kestrane {

// A set of node ids that a walk neither lists nor passes through. Only
// membership is asked, so a sorted vector serves.
class SkipSet {
public:
    SkipSet() = default;
    explicit SkipSet(std::vector<NodeId> ids);
    bool empty() const { return ids_.empty(); }
    bool contains(NodeId id) const;

private:
    std::vector<NodeId> ids_;
};

// Depth-first walk from `start`; see walk_with_skip in walks.cpp for the order.
std::vector<NodeId> walk_with_skip(const Graph& g, NodeId start, bool above, bool below,
                                   const SkipSet& skip);
std::vector<NodeId> walk(const Graph& g, NodeId start, bool above, bool below);
// Both directions from root_id; ValueError "Graph has no valid root_id set"
// when the root is not valid.
std::vector<NodeId> walk_from_root(const Graph& g, bool above, bool below);
// Leaves reached downward from root_id, in walk order; empty without a valid root.
std::vector<NodeId> leaves_with_skip(const Graph& g, const SkipSet& skip);
std::vector<NodeId> leaves(const Graph& g);

}  // namespace kestrane
