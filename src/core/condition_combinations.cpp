#include "condition_combinations.hpp"

#include <algorithm>

namespace kestrane {

void check_result_fits(const MemoryBudget& budget, uint64_t count, uint64_t elems) {
    const uint64_t per_condition = sizeof(Condition) + result_object_costs.list;
    const uint64_t per_elem = sizeof(uint64_t) + result_object_costs.element;
    budget.check(budget.sum(budget.bytes(count, per_condition), budget.bytes(elems, per_elem)));
}

Condition iota_condition(const MemoryBudget& budget, uint64_t len) {
    check_result_fits(budget, 1, len);
    Condition c(len);
    for (uint64_t i = 0; i < len; ++i) c[i] = i;
    return c;
}

namespace {

// The number of combinations and of the positions they hold together, checked
// against the budget along with what `out` holds already; `out` is then
// reserved for them and `out_elems` counts them.
void reserve_combinations(const std::vector<const ConditionList*>& factors, size_t joined, ConditionList& out,
                          uint64_t& out_elems, const MemoryBudget& budget) {
    uint64_t count = 1;
    for (const ConditionList* f : factors) count = budget.bytes(count, f->size());
    uint64_t elems = 0;
    for (size_t i = 0; i < joined; ++i) {
        uint64_t sum = 0;
        for (const Condition& c : *factors[i]) sum = budget.sum(sum, c.size());
        elems = budget.sum(elems, budget.bytes(sum, count / factors[i]->size()));
    }
    const uint64_t total_count = budget.sum(out.size(), count);
    const uint64_t total_elems = budget.sum(out_elems, elems);
    check_result_fits(budget, total_count, total_elems);
    out.reserve(total_count);
    out_elems = total_elems;
}

}  // namespace

void combine_into(const std::vector<const ConditionList*>& factors, const std::vector<uint64_t>& offsets,
                  ConditionList& out, uint64_t& out_elems, const MemoryBudget& budget, InterruptPoll& poll) {
    const size_t m = factors.size();
    if (m == 0) {
        check_result_fits(budget, out.size() + 1, out_elems);
        out.emplace_back();
        return;
    }
    for (const ConditionList* f : factors)
        if (f->empty()) return;

    // Factors at or beyond `joined` take part in the product but contribute
    // no positions to the joined condition.
    const size_t joined = offsets.size() <= 1 ? m : std::min(m, offsets.size());
    auto shift = [&](size_t i) -> uint64_t {
        if (offsets.empty()) return 0;
        return offsets.size() == 1 ? offsets[0] : offsets[i];
    };
    reserve_combinations(factors, joined, out, out_elems, budget);

    // Odometer over the choices, the last factor varying fastest.
    std::vector<size_t> idx(m, 0);
    for (;;) {
        poll.tick();
        size_t len = 0;
        for (size_t i = 0; i < joined; ++i) len += (*factors[i])[idx[i]].size();
        Condition joined_cond;
        joined_cond.reserve(len);
        for (size_t i = 0; i < joined; ++i) {
            const Condition& part = (*factors[i])[idx[i]];
            const size_t at = joined_cond.size();
            joined_cond.insert(joined_cond.end(), part.begin(), part.end());
            const uint64_t d = shift(i);
            if (d != 0)
                for (size_t e = at; e < joined_cond.size(); ++e) joined_cond[e] += d;
        }
        out.push_back(std::move(joined_cond));
        size_t j = m;
        for (;;) {
            if (j == 0) return;
            --j;
            if (++idx[j] < factors[j]->size()) break;
            idx[j] = 0;
        }
    }
}

ConditionList condition_combinations(const std::vector<ConditionList>& factors,
                                     const std::vector<uint64_t>& offsets) {
    InterruptPoll poll;
    std::vector<const ConditionList*> ptrs;
    ptrs.reserve(factors.size());
    for (const ConditionList& f : factors) ptrs.push_back(&f);
    ConditionList out;
    uint64_t elems = 0;
    const MemoryBudget budget("condition combinations result");
    combine_into(ptrs, offsets, out, elems, budget, poll);
    return out;
}

}  // namespace kestrane
