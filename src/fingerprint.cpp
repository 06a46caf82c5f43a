#include "fingerprint.hpp"

#include "siphash.hpp"

namespace kestrane {

namespace {

// Calls f(x, n) for every entry n of node x's neighbour list, in neighbour order.
template <class F>
void for_each_neighbor(const Node& node, F&& f) {
    for (Link n : node.options) f(n);
    for (Link n : node.parents) f(n);
    if (node.has_parent()) f(node.parent());
    for (Link n : node.children) f(n);
}

// The root walk and each walked node's position in it. Positions fit a Link
// because a graph never holds more than kMaxNodes nodes; kNoLink marks a node
// that the walk did not reach.
struct RootWalk {
    std::vector<NodeId> order;
    std::vector<Link> pos;

    explicit RootWalk(const Graph& g) : order(walk(g, g.root_id, true, true)) {
        pos.assign(g.nodes.size(), kNoLink);
        for (size_t i = 0; i < order.size(); ++i) pos[order[i]] = static_cast<Link>(i);
    }

    // The position of `n`, or kNoLink when it was not walked (or names no node).
    Link position(NodeId n) const { return n < pos.size() ? pos[n] : kNoLink; }

    // Calls f(i, j) for every connection, in connection-list order.
    template <class F>
    void for_each_connection(const Graph& g, F&& f) const {
        for (size_t i = 0; i < order.size(); ++i) {
            for_each_neighbor(g.nodes[order[i]], [&](NodeId n) {
                const Link j = position(n);
                if (j != kNoLink) f(NodeId(i), NodeId(j));
            });
        }
    }
};

}  // namespace

std::vector<NodeId> neighbors(const Graph& g, NodeId id) {
    const Node& node = g.at(id);
    std::vector<NodeId> out;
    out.reserve(node.options.size() + node.parents.size() + node.has_parent() +
                node.children.size());
    for_each_neighbor(node, [&](NodeId n) { out.push_back(n); });
    return out;
}

std::vector<Connection> connections(const Graph& g) {
    const RootWalk w(g);
    std::vector<Connection> out;
    w.for_each_connection(g, [&](NodeId i, NodeId j) { out.emplace_back(i, j); });
    return out;
}

// The count leads the stream, so the connections are walked twice (once to
// count, once to feed) rather than kept in memory.
uint64_t connection_hash(const Graph& g) {
    const RootWalk w(g);
    uint64_t count = 0;
    w.for_each_connection(g, [&](NodeId, NodeId) { ++count; });
    SipHasher13 h;
    h.write_u64(count);
    w.for_each_connection(g, [&](NodeId i, NodeId j) {
        h.write_u64(i);
        h.write_u64(j);
    });
    return h.finish();
}

// The connection list repeats the same root walk, so one walk serves both the
// payload ids and the connections.
uint64_t equality_hash(const Graph& g) {
    const RootWalk w(g);
    SipHasher13 h;
    for (NodeId x : w.order) {
        const Payload& p = g.nodes[x].payload;
        h.write_u32(p.is_value() ? p.val_id() : p.op_id());
    }
    w.for_each_connection(g, [&](NodeId i, NodeId j) {
        h.write_u64(i);
        h.write_u64(j);
    });
    return h.finish();
}

}  // namespace kestrane
