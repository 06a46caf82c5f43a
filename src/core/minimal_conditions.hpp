// The minimality step of get_conditions. Pure C++.
#pragma once

#include <cstdint>

#include "condition_types.hpp"
#include "interrupt.hpp"

namespace kestrane {

// Drops every candidate implied by a candidate before it in length order (a
// non-empty one it contains, or an empty one when it is at least as long as
// the graph's leaf count), then orders the rest by length and
// lexicographically. Every candidate is strictly increasing.
ConditionList minimal_conditions(ConditionList cands, uint64_t leaf_count, InterruptPoll& poll);

}  // namespace kestrane
