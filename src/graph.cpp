#include "graph.hpp"

#include <algorithm>

namespace kestrane {

InterruptHook interrupt_hook = nullptr;

void panic(std::string message) { throw Panic{std::move(message)}; }

void index_panic(uint64_t len, uint64_t index) {
    panic("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
          std::to_string(index));
}

// ---- construction -------------------------------------------------------

static NodeId append_node(Graph& g, Kind kind, Payload payload) {
    if (g.nodes.size() >= kMaxNodes) throw std::bad_alloc();
    Node n;
    n.kind = kind;
    n.payload = payload;
    g.nodes.push_back(std::move(n));
    return g.nodes.size() - 1;
}

NodeId add_value_with_payload(Graph& g, uint32_t val_id, uint32_t type_id) {
    return append_node(g, Kind::Value, Payload::value(val_id, type_id));
}

NodeId add_op_with_payload(Graph& g, uint32_t op_id) {
    return append_node(g, Kind::Op, Payload::op(op_id));
}

// Both ids are checked, and room is made in every list the link grows,
// before either node changes: a failing call (an id out of range, or no
// memory) leaves no half of a link behind.
void connect_value_to_op(Graph& g, NodeId val, NodeId op) {
    Node& v = g.at(val);
    Node& o = g.at(op);
    v.options.push_back(op);
    o.set_parent(val);
}

void connect_op_to_value(Graph& g, NodeId op, NodeId val) {
    Node& o = g.at(op);
    Node& v = g.at(val);
    o.children.reserve_one();
    v.parents.reserve_one();
    o.children.push_back(val);
    v.parents.push_back(op);
}

// ---- node queries -------------------------------------------------------

std::vector<NodeId> nodes_of_kind(const Graph& g, bool val_nodes, bool op_nodes) {
    std::vector<NodeId> out;
    if (!val_nodes && !op_nodes) return out;
    if (val_nodes && op_nodes) {
        out.resize(g.nodes.size());
        for (size_t i = 0; i < out.size(); ++i) out[i] = i;
        return out;
    }
    const Kind want = val_nodes ? Kind::Value : Kind::Op;
    for (size_t i = 0; i < g.nodes.size(); ++i)
        if (g.nodes[i].kind == want) out.push_back(i);
    return out;
}

bool same_spec(const Graph& g, NodeId a, NodeId b) {
    const Node& na = g.at(a);
    const Node& nb = g.at(b);
    if (!na.payload.is_value() || !nb.payload.is_value()) return false;
    return na.payload.type_id() == nb.payload.type_id();
}

// ---- walks and leaves ---------------------------------------------------

SkipSet::SkipSet(std::vector<NodeId> ids) : ids_(std::move(ids)) {
    std::sort(ids_.begin(), ids_.end());
}

bool SkipSet::contains(NodeId id) const {
    return std::binary_search(ids_.begin(), ids_.end(), id);
}

// Pops x; a skipped or already listed x is passed over, otherwise it is listed
// and its links are pushed in reverse so that they pop in this order:
//   value node:    parents (if above), then options (if below)
//   operator node: children (if below), then parent (if above)
// which is the depth-first pre-order of the recursive walk. The visited test at
// pop time lists every node at its first visit in that order.
std::vector<NodeId> walk_with_skip(const Graph& g, NodeId start, bool above, bool below,
                                   const SkipSet& skip) {
    std::vector<NodeId> out;
    const size_t n = g.nodes.size();
    // Room for every node up front: pages that a short walk never touches cost
    // nothing, and a long one never copies its result.
    out.reserve(n);
    std::vector<uint8_t> visited(n, 0);
    std::vector<NodeId> stack{start};
    InterruptPoll poll;
    while (!stack.empty()) {
        poll.tick();
        const NodeId x = stack.back();
        stack.pop_back();
        if (!skip.empty() && skip.contains(x)) continue;
        // An out-of-range id cannot have been listed before: report it here.
        if (x >= n) index_panic(n, x);
        if (visited[x]) continue;
        visited[x] = 1;
        out.push_back(x);
        const Node& node = g.nodes[x];
        const size_t pushed_from = stack.size();
        if (node.is_op()) {
            if (above && node.has_parent()) stack.push_back(node.parent());
            if (below) node.children.push_reversed_onto(stack);
        } else {
            if (below) node.options.push_reversed_onto(stack);
            if (above) node.parents.push_reversed_onto(stack);
        }
        prefetch_nodes(g, stack, pushed_from);
    }
    return out;
}

std::vector<NodeId> walk(const Graph& g, NodeId start, bool above, bool below) {
    return walk_with_skip(g, start, above, below, SkipSet());
}

std::vector<NodeId> walk_from_root(const Graph& g, bool above, bool below) {
    if (!g.has_valid_root()) throw ValueError{"Graph has no valid root_id set"};
    return walk(g, g.root_id, above, below);
}

std::vector<NodeId> leaves_with_skip(const Graph& g, const SkipSet& skip) {
    std::vector<NodeId> out;
    if (!g.has_valid_root()) return out;
    for (NodeId x : walk_with_skip(g, g.root_id, false, true, skip)) {
        const Node& node = g.nodes[x];
        if (node.is_value() && node.options.empty()) out.push_back(x);
    }
    return out;
}

std::vector<NodeId> leaves(const Graph& g) { return leaves_with_skip(g, SkipSet()); }

}  // namespace kestrane
