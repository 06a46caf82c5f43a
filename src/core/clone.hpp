// Compact clones of the part of a graph connected to its root, grafting one
// graph under a leaf of another, and the in-place merge of two value nodes.
// Pure C++: nothing here knows about Python.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "graph.hpp"

namespace kestrane {

// The correspondence map of a clone: source node id -> id of its copy. Dense
// over the source's ids; a source node that was not copied maps to kNoLink.
class Corr {
public:
    Corr() = default;
    // `map[src]` is the copy of src, or kNoLink.
    explicit Corr(std::vector<Link> map) : map_(std::move(map)) {}

    // The copy of `src`, or kNoLink when `src` was not copied (or names no node).
    Link find(NodeId src) const { return src < map_.size() ? map_[src] : kNoLink; }
    bool contains(NodeId src) const { return find(src) != kNoLink; }
    // Number of source ids covered, mapped or not.
    size_t source_size() const { return map_.size(); }
    // Calls f(src, copy) for every entry, ascending by source id.
    template <class F>
    void for_each(F&& f) const {
        for (size_t s = 0; s < map_.size(); ++s)
            if (map_[s] != kNoLink) f(NodeId(s), NodeId(map_[s]));
    }

private:
    std::vector<Link> map_;
};

struct CloneResult {
    Graph graph;
    Corr corr;
};

// Copies every node connected to root_id through any link, numbered in the
// order a depth-first walk first reaches them (at each node: parents, parent,
// options, children, each in stored order), with links translated. The clone's
// root_id is 0. Panics "Cannot clone_subgraph: Graph has no valid root_id set"
// without a valid root.
CloneResult clone_subgraph(const Graph& g);

struct AttachResult {
    Graph graph;
    std::vector<NodeId> new_elem_leaves;
    std::vector<NodeId> old_candidates;
};

// Clones `host`, appends the clone of `elem` without its root, and makes the
// operators under elem's root further options of root_leaf_id's copy. `elem`
// may be `host`. Neither input changes.
AttachResult clone_and_attach(const Graph& host, const Graph& elem, NodeId root_leaf_id);

// Re-points the operators above (`upper`) and/or below (`lower`) value node
// `other` to `keep`, in place. A failing call changes nothing.
void merge_value_nodes(Graph& g, NodeId keep, NodeId other, bool upper, bool lower);

}  // namespace kestrane
