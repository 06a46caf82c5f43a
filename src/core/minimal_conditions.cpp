#include "minimal_conditions.hpp"

#include <algorithm>
#include <utility>
#include <vector>

namespace kestrane {

namespace {

// Whether q is a subset of c; both strictly increasing.
bool is_subset(const Condition& q, const Condition& c) {
    size_t j = 0;
    for (uint64_t x : q) {
        while (j < c.size() && c[j] < x) ++j;
        if (j == c.size() || c[j] != x) return false;
        ++j;
    }
    return true;
}

}  // namespace

// Containment is a merge; the earlier candidates that can be contained in c
// are found through their first element.
ConditionList minimal_conditions(ConditionList cands, uint64_t leaf_count, InterruptPoll& poll) {
    std::stable_sort(cands.begin(), cands.end(),
                     [](const Condition& a, const Condition& b) { return a.size() < b.size(); });
    const size_t n = cands.size();
    size_t empties = 0;
    while (empties < n && cands[empties].empty()) ++empties;
    std::vector<std::pair<uint64_t, size_t>> by_first;  // (first element, index)
    by_first.reserve(n - empties);
    for (size_t q = empties; q < n; ++q) by_first.emplace_back(cands[q][0], q);
    std::sort(by_first.begin(), by_first.end());

    std::vector<uint8_t> keep(n, 1);
    for (size_t j = n; j-- > 1;) {
        const Condition& c = cands[j];
        if (empties > 0 && c.size() >= leaf_count) {
            keep[j] = 0;
            continue;
        }
        bool drop = false;
        for (size_t p = 0; p < c.size() && !drop; ++p) {
            auto it = std::lower_bound(by_first.begin(), by_first.end(), std::make_pair(c[p], size_t(0)));
            for (; it != by_first.end() && it->first == c[p] && it->second < j; ++it) {
                poll.tick();
                if (is_subset(cands[it->second], c)) {
                    drop = true;
                    break;
                }
            }
        }
        if (drop) keep[j] = 0;
    }
    ConditionList out;
    for (size_t j = 0; j < n; ++j)
        if (keep[j]) out.push_back(std::move(cands[j]));
    std::sort(out.begin(), out.end(), [](const Condition& a, const Condition& b) {
        if (a.size() != b.size()) return a.size() < b.size();
        return a < b;
    });
    return out;
}

}  // namespace kestrane
