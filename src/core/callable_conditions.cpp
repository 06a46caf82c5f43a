#include "callable_conditions.hpp"

#include <string>

#include "errors.hpp"

namespace kestrane {

ConditionList _update_callable_conditions(const Graph& g, NodeId n, const OpCache& ops) {
    const Node& node = g.at(n);
    if (node.payload.is_value()) return {};
    const OpInfo* info = lookup_op(ops, node.payload.op_id());
    if (!info) return {};
    if (!info->has_callable || info->cumulative) return info->conditions;
    if (node.children.empty()) return info->conditions;
    const Node& first = g.at(node.children[0]);
    if (first.payload.is_op()) return info->conditions;
    const OpInfo* callable = lookup_op(ops, first.payload.val_id());
    if (!callable) return {};
    // Position 0 is the callable itself; its own argument positions move one
    // to the right.
    ConditionList out;
    out.reserve(callable->conditions.size());
    for (const Condition& c : callable->conditions) {
        Condition shifted;
        shifted.reserve(c.size() + 1);
        shifted.push_back(0);
        for (uint64_t e : c) {
            if (e == ~uint64_t(0))
                throw TooLarge("callable condition position " + std::to_string(e) +
                               " + 1 does not fit in 64 bits");
            shifted.push_back(e + 1);
        }
        out.push_back(std::move(shifted));
    }
    return out;
}

}  // namespace kestrane
