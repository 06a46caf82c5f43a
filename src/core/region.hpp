// The part of the graph below the start nodes of a condition call, and its
// leaf counts. Pure C++.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "graph.hpp"

namespace kestrane {

// A zero-filled array over all node ids. calloc hands out untouched zero pages
// for large sizes, so a call that explores a small part of a large graph pays
// only for the pages it touches.
template <class T>
class ZeroedArray {
public:
    explicit ZeroedArray(size_t n) : p_(static_cast<T*>(std::calloc(n ? n : 1, sizeof(T)))) {
        if (!p_) throw std::bad_alloc();
    }
    ZeroedArray(const ZeroedArray&) = delete;
    ZeroedArray& operator=(const ZeroedArray&) = delete;
    ~ZeroedArray() { std::free(p_); }
    T& operator[](size_t i) { return p_[i]; }
    T operator[](size_t i) const { return p_[i]; }

private:
    T* p_;
};

// The leaf counts follow a relation on nodes: a node with options leads to
// every child of every one of its options (with repetition); a node without
// options is a leaf. Region explores that relation once from the start nodes
// of a call, numbering the nodes it meets locally, and answers both leaf
// counts from memos: every level of the condition recursion asks again for
// the nodes below it, and a shared subgraph would otherwise be counted once
// per path.
class Region {
public:
    // A repeated leaf count beyond 64 bits; the counts saturate there.
    static constexpr uint64_t kTooMany = ~uint64_t(0);

    explicit Region(const Graph& g) : g_(g), local_(g.size()), first_option_of_(g.size()) {}

    // Explores from each root in order. ValueError when a node is reached
    // again from itself, since the counts below it would be unbounded.
    void explore(const std::vector<NodeId>& roots, InterruptPoll& poll);

    // Local indices fit: a graph holds fewer than 2^32 - 1 nodes.
    uint32_t local(NodeId id) const { return local_[id] - 1; }
    size_t size() const { return ids_.size(); }

    // The number of leaves below `id` counted once per path. It grows with
    // the number of paths, so it can pass 64 bits on a small graph: then it
    // is an error, never a wrapped count.
    uint64_t repeated(NodeId id) const {
        const uint64_t r = rep_[local(id)];
        if (r == kTooMany)
            throw TooLarge("repeated leaf count of node " + std::to_string(id) + " does not fit in 64 bits");
        return r;
    }
    // The number of distinct leaves below `id`.
    uint64_t unique(NodeId id, InterruptPoll& poll);

    // Whether the tree conditions of `k`'s first option may be asked for more
    // than once: `k` is reached by several edges, or that option is the first
    // option of several region nodes.
    bool shared_first_option(NodeId k) const {
        return indeg_[local(k)] > 1 || first_option_of_[g_.nodes[k].options[0]] > 1;
    }

private:
    uint32_t discover(NodeId id);
    void mark_trees();

    const Graph& g_;
    ZeroedArray<uint32_t> local_;           // node id -> local index + 1; 0 outside the region
    ZeroedArray<uint8_t> first_option_of_;  // option id -> region nodes it is first of (max 2)
    std::vector<NodeId> ids_;
    std::vector<uint64_t> rep_;   // repeated counts, kTooMany beyond 64 bits
    std::vector<uint8_t> indeg_;  // edges into the node from region nodes (max 2)
    std::vector<uint8_t> done_;   // 0 while on the exploration path
    std::vector<uint8_t> tree_;   // every node below is reached by one path only
    std::vector<uint64_t> uniq_;
    std::vector<uint32_t> post_;  // local indices, every node after all below it
    std::vector<uint32_t> stamp_;
    uint32_t cur_stamp_ = 0;
};

// The nodes whose counts the tree conditions of `n` ask for: the children of
// `n`, unless `n` is a leaf and answers at once.
void add_tree_roots(const Graph& g, NodeId n, std::vector<NodeId>& roots);

}  // namespace kestrane
