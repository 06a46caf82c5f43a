#include "graph.hpp"

#include <algorithm>

namespace kestrane {

// ---- construction -------------------------------------------------------

static NodeId append_node(Graph& g, Payload payload) {
    if (g.nodes.size() >= kMaxNodes) throw TooLarge(kTooManyNodes);
    g.nodes.emplace_back().payload = payload;
    return g.nodes.size() - 1;
}

NodeId add_value_with_payload(Graph& g, uint32_t val_id, uint32_t type_id) {
    return append_node(g, Payload::value(val_id, type_id));
}

NodeId add_op_with_payload(Graph& g, uint32_t op_id) { return append_node(g, Payload::op(op_id)); }

// Both connects check both ids, and make room in every list the link grows,
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
        if (g.nodes[i].kind() == want) out.push_back(i);
    return out;
}

bool same_spec(const Graph& g, NodeId a, NodeId b) {
    const Node& na = g.at(a);
    const Node& nb = g.at(b);
    if (!na.payload.is_value() || !nb.payload.is_value()) return false;
    return na.payload.type_id() == nb.payload.type_id();
}

}  // namespace kestrane
