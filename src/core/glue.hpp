// Gluing open leaves onto value nodes of the same type. Pure C++: nothing here
// knows about Python.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "graph.hpp"

namespace kestrane {

// Every graph reached by gluing the first gluable leaf onto each same-type
// later leaf or candidate, then the remaining leaves inside each branch, each
// shape (connection hash) once, as compact clones in pre-order. With
// `trees_only` only the graph itself. A call whose leaf list is longer than
// `max_leaves` emits nothing itself but still glues. `g` is only read.
std::vector<Graph> glue_leaves(const Graph& g, const std::vector<NodeId>& leaves,
                               const std::vector<NodeId>& candidates, bool trees_only,
                               std::optional<uint64_t> max_leaves);

}  // namespace kestrane
