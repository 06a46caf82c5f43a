// The working graphs of the gluing enumeration: compact graphs in flat
// arrays, with the clone, merge and connection hash the enumeration runs on
// them. Pure C++: nothing here knows about Python.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "graph.hpp"

namespace kestrane {

// A node of a flat graph. Its three link lists lie side by side in the
// graph's one link array (parents at `at`, then options, then children), so
// copying a graph is two block copies and no allocation per list. `origin`
// is the input node it stands for, whose payload it has: gluing rewires
// links but never changes a payload.
struct FlatNode {
    Link origin = kNoLink;
    Link parent = kNoLink;
    uint32_t np = 0, no = 0, nc = 0;
    Kind kind = Kind::Value;
    size_t at = 0;

    bool is_op() const { return kind == Kind::Op; }
    size_t end() const { return at + np + no + nc; }
};

// A graph numbered as a compact clone is (clone_subgraph's walk order,
// root 0), in flat form.
struct FlatGraph {
    std::vector<FlatNode> nodes;
    std::vector<Link> links;

    size_t size() const { return nodes.size(); }
    const Link* parents(const FlatNode& n) const { return links.data() + n.at; }
    const Link* options(const FlatNode& n) const { return links.data() + n.at + n.np; }
    const Link* children(const FlatNode& n) const { return links.data() + n.at + n.np + n.no; }
    Link* children(const FlatNode& n) { return links.data() + n.at + n.np + n.no; }
    uint64_t bytes() const {
        return uint64_t(nodes.capacity()) * sizeof(FlatNode) + uint64_t(links.capacity()) * sizeof(Link);
    }
};

// Working arrays reused from one call to the next, so that the many small
// clones of an enumeration allocate nothing once they have grown.
struct FlatScratch {
    std::vector<Link> pos;    // by node: clone position, or kNoLink
    std::vector<Link> order;  // by clone position: node
    std::vector<Link> stack;
    std::vector<Link> moved;
    std::vector<uint64_t> pairs;
    FlatGraph merged;

    uint64_t bytes() const {
        return uint64_t(pos.capacity() + order.capacity() + stack.capacity() + moved.capacity()) *
                   sizeof(Link) +
               uint64_t(pairs.capacity()) * sizeof(uint64_t) + merged.bytes();
    }
};

// The compact clone of `g` (clone_subgraph's numbering, panics and all) in
// flat form; `corr` receives the clone position of every node of g, kNoLink
// for the nodes not copied.
void flat_clone(const Graph& g, FlatGraph& out, std::vector<Link>& corr);

// `out` = the compact clone of `g` merged: the clone of g after
// merge_value_nodes(g, keep, other, true, true) (keep and other are nodes of
// g). scratch.pos then maps each node of g to its clone position, or kNoLink
// when the merge left it unconnected to the root.
void flat_merged_clone(const FlatGraph& g, Link keep, Link other, FlatGraph& out, FlatScratch& scratch);

// connection_hash of the graph.
uint64_t flat_connection_hash(const FlatGraph& g, FlatScratch& scratch);

// The graph as a Graph record (root 0), payloads read from `input`.
Graph to_graph(const FlatGraph& g, const Graph& input);

}  // namespace kestrane
