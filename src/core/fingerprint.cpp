#include "fingerprint.hpp"

#include "depth_first.hpp"
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

// The root walk (both directions, empty skip set: the order of walk_with_skip)
// and each walked node's position in it, which doubles as the visited mark.
// Positions fit a Link because a graph never holds more than kMaxNodes nodes;
// kNoLink marks a node that the walk did not reach.
//
// The walk follows exactly the links that the node's kind gives it, so every
// neighbour entry in those lists is walked and is a connection. Only entries
// in the other two lists (a value node's parent and children, an operator's
// options and parents, which only wrong-kind connects fill) may point outside
// the walk; the nodes holding such entries are noted and checked at the end.
// This gives the number of connections without a second pass over them.
struct RootWalk {
    std::vector<NodeId> order;
    std::vector<Link> pos;
    uint64_t count = 0;
    std::vector<uint32_t> payload_ids;  // val_id or op_id in walk order, when asked for

    explicit RootWalk(const Graph& g, bool with_payload_ids = false) {
        const size_t n = g.nodes.size();
        pos.assign(n, kNoLink);
        std::vector<Link> odd;  // walked nodes with wrong-kind entries
        std::vector<NodeId> stack{g.root_id};
        auto enter = [&](NodeId x) {
            if (x >= n) index_panic(n, x);
            if (pos[x] != kNoLink) return false;
            pos[x] = static_cast<Link>(order.size());
            order.push_back(x);
            const Node& node = g.nodes[x];
            if (with_payload_ids)
                payload_ids.push_back(node.payload.is_value() ? node.payload.val_id() : node.payload.op_id());
            return true;
        };
        auto unseen = [&](NodeId x) { return x >= n || pos[x] == kNoLink; };
        // Links are pushed in reverse so that they pop in walk order.
        depth_first(g, stack, enter, [&](const Node& node, std::vector<NodeId>& s) {
            const NodeId x = order.back();  // the node just entered
            if (node.is_op()) {
                if (node.has_parent() && unseen(node.parent())) s.push_back(node.parent());
                node.children.push_reversed_onto(s, unseen);
                count += node.has_parent() + node.children.size();
                if (!node.options.empty() || !node.parents.empty()) odd.push_back(static_cast<Link>(x));
            } else {
                node.options.push_reversed_onto(s, unseen);
                node.parents.push_reversed_onto(s, unseen);
                count += node.options.size() + node.parents.size();
                if (node.has_parent() || !node.children.empty()) odd.push_back(static_cast<Link>(x));
            }
        });
        for (Link x : odd) {
            const Node& node = g.nodes[x];
            auto walked = [&](NodeId m) { count += position(m) != kNoLink; };
            if (node.is_op()) {
                for (Link m : node.options) walked(m);
                for (Link m : node.parents) walked(m);
            } else {
                if (node.has_parent()) walked(node.parent());
                for (Link m : node.children) walked(m);
            }
        }
    }

    // The position of `n`, or kNoLink when it was not walked (or names no node).
    Link position(NodeId n) const { return n < pos.size() ? pos[n] : kNoLink; }

    // Calls f(i, j) for every connection, in connection-list order.
    template <class F>
    void for_each_connection(const Graph& g, F&& f) const {
        InterruptPoll poll;
        for (size_t i = 0; i < order.size(); ++i) {
            poll.tick();
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
    out.reserve(node.options.size() + node.parents.size() + node.has_parent() + node.children.size());
    for_each_neighbor(node, [&](NodeId n) { out.push_back(n); });
    return out;
}

std::vector<Connection> connections(const Graph& g) {
    const RootWalk w(g);
    std::vector<Connection> out;
    w.for_each_connection(g, [&](NodeId i, NodeId j) { out.emplace_back(i, j); });
    return out;
}

// The count leads the stream; the walk knows it, so the connections are fed
// in one pass and never kept in memory.
uint64_t connection_hash(const Graph& g) {
    const RootWalk w(g);
    SipHasher13 h;
    h.write_u64(w.count);
    w.for_each_connection(g, [&](NodeId i, NodeId j) {
        h.write_u64(i);
        h.write_u64(j);
    });
    return h.finish();
}

// The connection list repeats the same root walk, so one walk serves both the
// payload ids and the connections.
uint64_t equality_hash(const Graph& g) {
    const RootWalk w(g, true);
    SipHasher13 h;
    for (uint32_t id : w.payload_ids) h.write_u32(id);
    w.for_each_connection(g, [&](NodeId i, NodeId j) {
        h.write_u64(i);
        h.write_u64(j);
    });
    return h.finish();
}

}  // namespace kestrane
