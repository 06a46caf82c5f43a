#include "node_conditions.hpp"

#include <algorithm>
#include <vector>

#include "budget.hpp"
#include "condition_combinations.hpp"
#include "minimal_conditions.hpp"
#include "region.hpp"
#include "tree_conditions.hpp"
#include "walks.hpp"

namespace kestrane {

namespace {

// The leaves below a node, every leaf once per path, depth first, left to
// right. Only each position's distinct-leaf index is kept, plus the number of
// positions of every distinct leaf.
struct LeafSequence {
    std::vector<uint32_t> leaf;    // position -> distinct-leaf index
    std::vector<uint64_t> occurs;  // distinct-leaf index -> positions: may pass 2^32
};

LeafSequence leaf_sequence(const Graph& g, NodeId s, const Region& region, InterruptPoll& poll) {
    const uint64_t qlen = region.repeated(s);
    const MemoryBudget sequence_budget("conditions leaf sequence");
    sequence_budget.check(sequence_budget.bytes(qlen, sizeof(uint32_t)));
    LeafSequence seq;
    seq.leaf.reserve(qlen);
    std::vector<uint32_t> leaf_index(region.size(), kNoLink);
    std::vector<NodeId> stack{s};
    while (!stack.empty()) {
        poll.tick();
        const NodeId x = stack.back();
        stack.pop_back();
        const Node& node = g.nodes[x];
        if (!node.options.empty()) {
            // Pushed last to first so that they pop in stored order.
            for (size_t oi = node.options.size(); oi-- > 0;) {
                const IdList& kids = g.nodes[node.options[oi]].children;
                for (size_t ci = kids.size(); ci-- > 0;) stack.push_back(kids[ci]);
            }
            continue;
        }
        uint32_t& li = leaf_index[region.local(x)];
        if (li == kNoLink) {
            li = static_cast<uint32_t>(seq.occurs.size());
            seq.occurs.push_back(0);
        }
        ++seq.occurs[li];
        seq.leaf.push_back(li);
    }
    return seq;
}

bool strictly_increasing(const Condition& c) {
    for (size_t i = 1; i < c.size(); ++i)
        if (!(c[i - 1] < c[i])) return false;
    return true;
}

// Keeps the positions of `c` below `len`, increasing and without repeats.
// Conditions built from whole subtrees come strictly increasing already.
void positions_below(Condition& c, uint64_t len) {
    if (strictly_increasing(c)) {
        c.erase(std::lower_bound(c.begin(), c.end(), len), c.end());
        return;
    }
    c.erase(std::remove_if(c.begin(), c.end(), [&](uint64_t e) { return e >= len; }), c.end());
    std::sort(c.begin(), c.end());
    c.erase(std::unique(c.begin(), c.end()), c.end());
}

// The tree conditions in distinct-leaf indices. A condition survives when no
// distinct leaf has both selected and unselected positions; it then selects
// the distinct leaves it touches, in increasing order. Positions beyond the
// sequence select nothing.
ConditionList consistent_conditions(ConditionList tree, const LeafSequence& seq, InterruptPoll& poll) {
    // Leaves are numbered in order of first position. When each has one
    // position, a leaf's index is its position and every condition survives.
    const bool each_once = seq.occurs.size() == seq.leaf.size();
    ConditionList survivors;
    std::vector<uint64_t> hits(each_once ? 0 : seq.occurs.size(), 0);
    std::vector<uint32_t> touched;
    for (Condition& c : tree) {
        poll.tick();
        positions_below(c, seq.leaf.size());
        if (each_once) {
            survivors.push_back(std::move(c));
            continue;
        }
        touched.clear();
        for (uint64_t i : c) {
            const uint32_t li = seq.leaf[i];
            if (hits[li]++ == 0) touched.push_back(li);
        }
        bool consistent = true;
        for (uint32_t li : touched) {
            if (hits[li] != seq.occurs[li]) consistent = false;
            hits[li] = 0;
        }
        if (!consistent) continue;
        // A consistent condition picks the first position of every leaf it
        // touches: the leaves come out in increasing order.
        survivors.emplace_back(touched.begin(), touched.end());
    }
    return survivors;
}

}  // namespace

ConditionList get_conditions(const Graph& g, NodeId v, const OpCache& ops, bool adopt) {
    InterruptPoll poll;
    const uint64_t leaf_count = leaves(g).size();
    const Node& vn = g.at(v);
    if (vn.options.empty()) return ConditionList{Condition{}};
    const NodeId f = vn.options[0];
    const Node& fn = g.at(f);
    // The leaf sequence starts where the first option hangs, normally `v`.
    const NodeId s = fn.has_parent() ? fn.parent() : f;

    // The tree conditions count below the option's children, the leaf
    // sequence expands below `s`; a cycle below either never ends.
    std::vector<NodeId> roots;
    add_tree_roots(g, f, roots);
    roots.push_back(s);
    Region region(g);
    region.explore(roots, poll);
    const MemoryBudget budget("conditions result");
    ConditionList tree = TreeConditions(g, ops, adopt, region, budget, poll).run(f);
    const LeafSequence seq = leaf_sequence(g, s, region, poll);

    ConditionList survivors = consistent_conditions(std::move(tree), seq, poll);
    if (survivors.empty()) survivors.push_back(iota_condition(budget, leaf_count));
    return minimal_conditions(std::move(survivors), leaf_count, poll);
}

}  // namespace kestrane
