#include "walks.hpp"

#include <algorithm>

#include "depth_first.hpp"

namespace kestrane {

// ---- walks and leaves ---------------------------------------------------

// Pops x; a skipped or already listed x is passed over, otherwise it is listed
// and its links are pushed in reverse so that they pop in this order:
//   value node:    parents (if above), then options (if below)
//   operator node: children (if below), then parent (if above)
// which is the depth-first pre-order of the recursive walk. The visited test at
// pop time lists every node at its first visit in that order.
std::vector<NodeId> walk_with_skip(const Graph& g, NodeId start, bool above, bool below, const IdSet& skip) {
    std::vector<NodeId> out;
    const size_t n = g.nodes.size();
    // Room for every node up front: pages that a short walk never touches cost
    // nothing, and a long one never copies its result.
    out.reserve(n);
    std::vector<uint8_t> visited(n, 0);
    std::vector<NodeId> stack{start};
    auto enter = [&](NodeId x) {
        if (!skip.empty() && skip.contains(x)) return false;
        // An out-of-range id cannot have been listed before: report it here.
        if (x >= n) index_panic(n, x);
        if (visited[x]) return false;
        visited[x] = 1;
        out.push_back(x);
        return true;
    };
    auto unseen = [&](NodeId x) { return x >= n || !visited[x]; };
    depth_first(g, stack, enter, [&](const Node& node, std::vector<NodeId>& s) {
        if (node.is_op()) {
            if (above && node.has_parent() && unseen(node.parent())) s.push_back(node.parent());
            if (below) node.children.push_reversed_onto(s, unseen);
        } else {
            if (below) node.options.push_reversed_onto(s, unseen);
            if (above) node.parents.push_reversed_onto(s, unseen);
        }
    });
    return out;
}

std::vector<NodeId> walk(const Graph& g, NodeId start, bool above, bool below) {
    return walk_with_skip(g, start, above, below, IdSet());
}

std::vector<NodeId> walk_from_root(const Graph& g, bool above, bool below) {
    if (!g.has_valid_root()) throw ValueError{"Graph has no valid root_id set"};
    return walk(g, g.root_id, above, below);
}

std::vector<NodeId> leaves_with_skip(const Graph& g, const IdSet& skip) {
    std::vector<NodeId> out;
    if (!g.has_valid_root()) return out;
    for (NodeId x : walk_with_skip(g, g.root_id, false, true, skip)) {
        const Node& node = g.nodes[x];
        if (node.is_value() && node.options.empty()) out.push_back(x);
    }
    return out;
}

std::vector<NodeId> leaves(const Graph& g) { return leaves_with_skip(g, IdSet()); }

}  // namespace kestrane
