// Cross sections: the value-node cuts between the root and target leaves.
// Pure C++: nothing here knows about Python.
#pragma once

#include <cstdint>
#include <vector>

#include "graph.hpp"

namespace kestrane {

struct CrossSection {
    std::vector<NodeId> nodes;  // kept choices in trace order, then the leaves they leave open
    uint64_t score;             // how far below the top of its trace each kept choice lies
};

// Every distinct cross section formed by choosing one value node on each
// upward value trace of each target, in the order the combinations first
// produce them.
std::vector<CrossSection> cross_sections(const Graph& g, const std::vector<NodeId>& targets);

}  // namespace kestrane
