// The graph record and the operations that build and query it. Pure C++:
// nothing under src/core knows about Python.
#pragma once

#include <cstdint>
#include <vector>

#include "errors.hpp"
#include "id_list.hpp"
#include "interrupt.hpp"
#include "node.hpp"

namespace kestrane {

struct Graph {
    NodeList nodes;
    NodeId root_id = 0;

    size_t size() const { return nodes.size(); }
    bool has_valid_root() const { return !nodes.empty() && root_id < nodes.size(); }
    // Bounds-checked access: panics with the index message.
    const Node& at(NodeId id) const {
        if (id >= nodes.size()) index_panic(nodes.size(), id);
        return nodes[id];
    }
    Node& at(NodeId id) {
        if (id >= nodes.size()) index_panic(nodes.size(), id);
        return nodes[id];
    }
};

// ---- construction -------------------------------------------------------

NodeId add_value_with_payload(Graph& g, uint32_t val_id, uint32_t type_id);
NodeId add_op_with_payload(Graph& g, uint32_t op_id);
void connect_value_to_op(Graph& g, NodeId val, NodeId op);
void connect_op_to_value(Graph& g, NodeId op, NodeId val);

// ---- node queries -------------------------------------------------------

std::vector<NodeId> nodes_of_kind(const Graph& g, bool val_nodes, bool op_nodes);
bool same_spec(const Graph& g, NodeId a, NodeId b);

}  // namespace kestrane
