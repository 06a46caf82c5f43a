#include "minimal_conditions.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kestrane {

namespace {

constexpr size_t kNone = ~size_t(0);

// By length, then lexicographically. Conditions of a wide tree share long
// prefixes: equal runs are skipped a block at a time.
bool shorter_or_before(const Condition& a, const Condition& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    constexpr size_t kBlock = 16;
    const size_t n = a.size();
    size_t i = 0;
    while (i + kBlock <= n && std::memcmp(a.data() + i, b.data() + i, kBlock * sizeof(uint64_t)) == 0)
        i += kBlock;
    for (; i < n; ++i)
        if (a[i] != b[i]) return a[i] < b[i];
    return false;
}

// The kept candidates, each filed under its first element: a candidate can
// only contain those filed under one of its own elements. Each file lists its
// candidates in the order they were kept, so by nondecreasing length.
class SubsetIndex {
public:
    explicit SubsetIndex(uint64_t universe)
        : head_(universe, kNone), tail_(universe, kNone), marks_(universe, 0) {}

    void add(const ConditionList& cands, size_t k) {
        const uint64_t first = cands[k][0];
        next_.resize(std::max(next_.size(), k + 1), kNone);
        if (head_[first] == kNone)
            head_[first] = k;
        else
            next_[tail_[first]] = k;
        tail_[first] = k;
    }

    // Whether a filed candidate shorter than c is a subset of it. One of the
    // same length would be equal to it, and equal candidates never meet here.
    bool contains_subset_of(const ConditionList& cands, const Condition& c, InterruptPoll& poll) {
        for (uint64_t e : c) marks_[e] = 1;
        bool found = false;
        for (size_t p = 0; p < c.size() && !found; ++p) {
            for (size_t k = head_[c[p]]; k != kNone && cands[k].size() < c.size(); k = next_[k]) {
                poll.tick();
                const Condition& q = cands[k];
                if (std::all_of(q.begin() + 1, q.end(), [&](uint64_t x) { return marks_[x]; })) {
                    found = true;
                    break;
                }
            }
        }
        for (uint64_t e : c) marks_[e] = 0;
        return found;
    }

private:
    std::vector<size_t> head_, tail_;  // element -> first / last candidate filed under it
    std::vector<size_t> next_;         // candidate -> next candidate in its file
    std::vector<uint8_t> marks_;       // the elements of the candidate being tested
};

}  // namespace

// A candidate implied by one before it in length order is either equal to an
// earlier one (same length) or contains a shorter one. Sorting in output order
// first brings equal candidates together, and containment only needs testing
// against shorter candidates that were kept: one dropped for containing a
// shorter candidate passes that on, and one dropped for reaching the leaf
// count beside an empty candidate drops every longer candidate the same way.
ConditionList minimal_conditions(ConditionList cands, uint64_t leaf_count, InterruptPoll& poll) {
    // Tree conditions often come in this order already.
    if (!std::is_sorted(cands.begin(), cands.end(), shorter_or_before))
        std::sort(cands.begin(), cands.end(), shorter_or_before);
    const size_t n = cands.size();
    size_t empties = 0;
    while (empties < n && cands[empties].empty()) ++empties;
    // The first empty candidate is always kept, the others only when the
    // graph has leaves.
    const size_t kept_empties = empties == 0 ? 0 : leaf_count == 0 ? 1 : empties;

    uint64_t universe = 0;  // candidates are strictly increasing: the last element is the largest
    for (size_t j = empties; j < n; ++j) universe = std::max(universe, cands[j].back() + 1);
    const bool mixed_lengths = n > empties && cands[empties].size() != cands[n - 1].size();
    SubsetIndex index(mixed_lengths ? universe : 0);

    std::vector<uint8_t> keep(n, 0);
    std::fill(keep.begin(), keep.begin() + kept_empties, 1);
    for (size_t j = empties; j < n; ++j) {
        poll.tick();
        const Condition& c = cands[j];
        if (empties > 0 && c.size() >= leaf_count) break;  // so is every later one
        if (j > empties && c == cands[j - 1]) continue;
        if (mixed_lengths && index.contains_subset_of(cands, c, poll)) continue;
        keep[j] = 1;
        if (mixed_lengths) index.add(cands, j);
    }
    ConditionList out;
    for (size_t j = 0; j < n; ++j)
        if (keep[j]) out.push_back(std::move(cands[j]));
    return out;
}

}  // namespace kestrane
