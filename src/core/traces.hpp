// Path-shaped queries: the traces from a start node and the upward
// reachability test. Pure C++: nothing here knows about Python.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "budget.hpp"
#include "graph.hpp"

namespace kestrane {

// Which nodes a trace enumeration records and which links it follows.
struct TraceFlags {
    bool me_too = true;
    bool op_nodes = true;
    bool val_nodes = true;
    bool above = true;
    bool below = false;
};

// A list of traces stored end to end: trace i is flat[start(i) .. ends[i]).
// Enumerations can produce a great many traces, so they share one buffer
// instead of one allocation each.
struct TraceList {
    std::vector<Link> flat;
    std::vector<size_t> ends;

    size_t size() const { return ends.size(); }
    size_t start(size_t i) const { return i ? ends[i - 1] : 0; }
    size_t length(size_t i) const { return ends[i] - start(i); }
    const Link* begin(size_t i) const { return flat.data() + start(i); }
    const Link* end(size_t i) const { return flat.data() + ends[i]; }
};

// Every path from `start` through the eligible links, each as the list of its
// recorded nodes; see traces_rec for the order. MemoryError (TooLarge) when
// the traces and the Python lists they become would not fit in the memory
// budget.
TraceList traces(const Graph& g, NodeId start, const TraceFlags& flags);

// The bytes a trace list holds per trace and per recorded node, for the
// memory budget.
struct TraceCost {
    uint64_t per_trace;
    uint64_t per_node;
};
constexpr TraceCost kTraceListCost{sizeof(size_t), sizeof(Link)};

// Appends the traces from each of the `nstarts` starts in turn to `out`
// (cross sections concatenate the traces of several starts), holding each
// one in `budget` at `cost`.
void traces_rec(const Graph& g, const NodeId* starts, size_t nstarts, const TraceFlags& flags, TraceList& out,
                MemoryBudget& budget, TraceCost cost);

// Whether some node of `nodes` lies above `start`, climbing from value nodes
// to their `parents` and from operators to their `parent`; nodes of `skip`
// block the climb.
bool is_below(const Graph& g, NodeId start, const std::vector<NodeId>& nodes, bool include_self,
              const std::vector<NodeId>& skip);

}  // namespace kestrane
