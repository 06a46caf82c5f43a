// Neighbour lists, the connection list between root-walk positions, and the
// two graph fingerprints built from it. Pure C++: nothing here knows about Python.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "graph.hpp"

namespace kestrane {

// options, then parents, then parent if set, then children; stored order,
// duplicates kept. Panics with the index message when `id` is out of range.
std::vector<NodeId> neighbors(const Graph& g, NodeId id);

using Connection = std::pair<NodeId, NodeId>;

// One (position of x, position of n) pair per neighbour entry n of every node
// x of the root walk (both directions), x in walk order. A graph without a
// valid root fails inside the walk with the index message.
std::vector<Connection> connections(const Graph& g);

// SipHash-1-3 of: the number of connections (u64), then each connection's two
// positions (u64 each).
uint64_t connection_hash(const Graph& g);

// SipHash-1-3 of: each walked node's val_id or op_id (u32) in walk order, then
// each connection's two positions (u64 each); no counts.
uint64_t equality_hash(const Graph& g);

}  // namespace kestrane
