// Joining condition lists across an operator's children, and the budget check
// every condition result passes before it is built. Pure C++.
#pragma once

#include <cstdint>
#include <vector>

#include "budget.hpp"
#include "condition_types.hpp"
#include "interrupt.hpp"

namespace kestrane {

// Every way of choosing one condition per factor (last factor fastest), each
// choice shifted by its child's offset and concatenated. A single offset
// shifts every factor; no offsets shift none; otherwise factors beyond the
// last offset are left out of the joined condition. Additions wrap.
ConditionList condition_combinations(const std::vector<ConditionList>& factors,
                                     const std::vector<uint64_t>& offsets);

// A condition list of `count` conditions holding `elems` positions in all is
// held twice at the end of a call: here, and as the Python lists it becomes.
// A result that cannot fit in the memory budget is refused up front.
void check_result_fits(const MemoryBudget& budget, uint64_t count, uint64_t elems);

// The condition 0, 1, ..., len - 1.
Condition iota_condition(const MemoryBudget& budget, uint64_t len);

// Appends the shifted, joined combinations of `factors` to `out` (see
// condition_combinations for the rule); `out_elems` tracks the number of
// positions held in `out` for the memory budget.
void combine_into(const std::vector<const ConditionList*>& factors, const std::vector<uint64_t>& offsets,
                  ConditionList& out, uint64_t& out_elems, const MemoryBudget& budget, InterruptPoll& poll);

}  // namespace kestrane
