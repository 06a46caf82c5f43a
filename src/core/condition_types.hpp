// The types of the condition functions: conditions, condition lists and the
// op cache. Pure C++: the op cache is filled by the Python layer from the
// caller's snapshot; the condition functions only read it.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace kestrane {

// A list of positions (argument positions of an operator, or leaf positions).
using Condition = std::vector<uint64_t>;
using ConditionList = std::vector<Condition>;

struct OpInfo {
    ConditionList conditions;
    bool has_callable = false;
    bool cumulative = false;
};

// Operator id -> record. Only ever looked up, never iterated, so its hashing
// shows in no result.
using OpCache = std::unordered_map<uint32_t, OpInfo>;

inline const OpInfo* lookup_op(const OpCache& ops, uint32_t op_id) {
    auto it = ops.find(op_id);
    return it == ops.end() ? nullptr : &it->second;
}

}  // namespace kestrane
