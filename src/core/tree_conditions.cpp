#include "tree_conditions.hpp"

#include <string>

#include "callable_conditions.hpp"
#include "condition_combinations.hpp"

namespace kestrane {

namespace {

const ConditionList kNoConditions;

// The base conditions of `n` are borrowed from the op cache, or, when
// adopting a callable's conditions, built for the call (then nullptr is
// returned and `owned` holds them).
const ConditionList* borrowed_base(const Graph& g, NodeId n, const OpCache& ops, bool adopt,
                                   ConditionList& owned) {
    if (adopt) {
        owned = _update_callable_conditions(g, n, ops);
        return nullptr;
    }
    const Node& node = g.nodes[n];
    if (!node.payload.is_op()) return &kNoConditions;
    const OpInfo* info = lookup_op(ops, node.payload.op_id());
    return info ? &info->conditions : &kNoConditions;
}

}  // namespace

// ---- a new level ----------------------------------------------------------

void TreeConditions::push_frame(NodeId n, uint32_t slot, bool memoize) {
    stack_.emplace_back();
    Frame& fr = stack_.back();
    fr.n = n;
    fr.slot = slot;
    fr.memoize = memoize;
    fr.borrowed = borrowed_base(g_, n, ops_, adopt_, fr.owned_base);
    const ConditionList& base = fr.base();
    const IdList& k = g_.nodes[n].children;
    const uint32_t m = static_cast<uint32_t>(k.size());
    fr.m = m;
    fr.nbase = base.size();
    fr.words = words_.size();
    fr.offs = offsets_.size();
    fr.lists = lists_.size();
    // A level without base conditions has no slices at all.
    if (base.empty()) return;
    // Base conditions are numbered in 32-bit words, kNoLink standing for none.
    if (base.size() >= kNoLink)
        throw TooLarge("conditions of operator node " + std::to_string(n) + " number 2**32 - 1 or more");

    words_.resize(words_.size() + 3 * size_t(m) + base.size(), 0);
    group_children(level(fr), k);
    if (!mark_live(fr, level(fr))) return;

    // Child offsets come from the distinct leaf counts; the last child's count
    // is never needed. The sum cannot wrap: fewer than 2^32 children, each
    // with fewer than 2^32 distinct leaves.
    offsets_.resize(offsets_.size() + m);
    Level lv = level(fr);
    uint64_t acc = 0;
    for (uint32_t i = 0; i < m; ++i) {
        lv.offset(i) = acc;
        if (i + 1 < m) acc += region_.unique(k[i], poll_);
    }
    lists_.resize(lists_.size() + 2 * size_t(m));
}

// Positions holding the same node share a group, named by the first of them.
void TreeConditions::group_children(Level lv, const IdList& k) {
    const uint32_t m = static_cast<uint32_t>(k.size());
    for (uint32_t i = 0; i < m; ++i) {
        uint32_t& fp = first_pos_[region_.local(k[i])];
        if (fp == kNoLink) fp = i;
        lv.group(i) = fp;
        lv.last_use(i) = kNoLink;
    }
    for (Link x : k) first_pos_[region_.local(x)] = kNoLink;
}

// A base condition is abandoned when one node stands at two unselected
// positions; deciding that before any child is expanded spares the work. The
// kHaveChild bit marks a group already met during this check. False when
// every condition is abandoned.
bool TreeConditions::mark_live(const Frame& fr, Level lv) {
    const ConditionList& base = fr.base();
    const uint32_t m = fr.m;
    bool any_live = false;
    for (size_t b = 0; b < base.size(); ++b) {
        mark_selected(lv, m, base[b]);
        bool ok = true;
        for (uint32_t i = 0; i < m && ok; ++i) {
            if (lv.flags(i) & kSel) continue;
            if (lv.flags(lv.group(i)) & kHaveChild) ok = false;
            lv.flags(lv.group(i)) |= kHaveChild;
        }
        for (uint32_t i = 0; i < m; ++i) lv.flags(i) &= ~kHaveChild;
        if (!ok) continue;
        lv.live(b) = 1;
        any_live = true;
        for (uint32_t i = 0; i < m; ++i)
            if (!(lv.flags(i) & kSel)) lv.last_use(lv.group(i)) = static_cast<uint32_t>(b);
    }
    return any_live;
}

void TreeConditions::mark_selected(Level lv, uint32_t m, const Condition& c) {
    for (uint32_t i = 0; i < m; ++i) lv.flags(i) &= ~kSel;
    for (uint64_t e : c)
        if (e < m) lv.flags(e) |= kSel;
}

// ---- the steps of a level -------------------------------------------------

void TreeConditions::skip_abandoned(Frame& fr) {
    if (fr.bi == fr.nbase) return;
    Level lv = level(fr);
    while (fr.bi < fr.nbase && !lv.live(fr.bi)) ++fr.bi;
}

// Finds the next unselected group whose factor is missing. A leaf's factor,
// or one memoized earlier, is set at once; otherwise the child's first option
// becomes a new level and true is returned (`fr` is then invalid).
bool TreeConditions::descend(Frame& fr) {
    const IdList& k = g_.nodes[fr.n].children;
    Level lv = level(fr);
    for (; fr.scan < fr.m; ++fr.scan) {
        const size_t i = fr.scan;
        const uint32_t gp = lv.group(i);
        if ((lv.flags(i) & kSel) || (lv.flags(gp) & kHaveChild)) continue;
        const Node& kn = g_.nodes[k[i]];
        const Node* fnode = kn.options.empty() ? nullptr : &g_.at(kn.options[0]);
        if (!fnode || (fnode->is_value() && fnode->options.empty())) {
            lv.unselected(gp) = ConditionList{Condition{}};
            lv.flags(gp) |= kHaveChild;
            continue;
        }
        const bool shared = region_.shared_first_option(k[i]);
        if (shared) {
            auto hit = memo_.find(kn.options[0]);
            if (hit != memo_.end()) {
                lv.unselected(gp) = hit->second;
                lv.flags(gp) |= kHaveChild;
                continue;
            }
        }
        push_frame(kn.options[0], gp, shared);
        return true;
    }
    return false;
}

// Joins the factors of the current base condition into the level's result,
// then drops the unselected factors no later live condition needs.
void TreeConditions::combine_level(Frame& fr) {
    const IdList& k = g_.nodes[fr.n].children;
    const uint32_t m = fr.m;
    Level lv = level(fr);
    factors_.resize(m);
    frame_offsets_.resize(m);
    for (uint32_t i = 0; i < m; ++i) {
        const uint32_t gp = lv.group(i);
        if (lv.flags(i) & kSel) {
            if (!(lv.flags(gp) & kHaveSel)) {
                lv.selected(gp) = ConditionList{iota_condition(budget_, region_.repeated(k[i]))};
                lv.flags(gp) |= kHaveSel;
            }
            factors_[i] = &lv.selected(gp);
        } else {
            factors_[i] = &lv.unselected(gp);
        }
        frame_offsets_[i] = lv.offset(i);
    }
    combine_into(factors_, frame_offsets_, fr.result, fr.result_elems, budget_, poll_);
    for (uint32_t i = 0; i < m; ++i) {
        if (lv.group(i) == i && lv.last_use(i) == fr.bi) {
            lv.unselected(i) = ConditionList();
            lv.flags(i) &= ~kHaveChild;
        }
    }
    ++fr.bi;
    fr.sel_ready = false;
}

// Ends the top level. Its result goes to the slot of the level below, or is
// returned when no level is left.
ConditionList TreeConditions::finish_level() {
    Frame& fr = stack_.back();
    ConditionList done = std::move(fr.result);
    const uint32_t slot = fr.slot;
    if (fr.memoize) memo_.emplace(fr.n, done);
    pop_frame();
    if (stack_.empty()) return done;
    Level parent = level(stack_.back());
    parent.unselected(slot) = std::move(done);
    parent.flags(slot) |= kHaveChild;
    return {};
}

void TreeConditions::pop_frame() {
    const Frame& fr = stack_.back();
    words_.resize(fr.words);
    offsets_.resize(fr.offs);
    lists_.resize(fr.lists);
    stack_.pop_back();
}

ConditionList TreeConditions::run(NodeId n) {
    const Node& top = g_.at(n);
    if (top.is_value() && top.options.empty()) return ConditionList{Condition{}};
    push_frame(n, 0);
    for (;;) {
        Frame& fr = stack_.back();
        skip_abandoned(fr);
        if (fr.bi == fr.nbase) {
            ConditionList done = finish_level();
            if (stack_.empty()) return done;
            continue;
        }
        if (!fr.sel_ready) {
            mark_selected(level(fr), fr.m, fr.base()[fr.bi]);
            fr.sel_ready = true;
            fr.scan = 0;
        }
        if (!descend(fr)) combine_level(fr);
    }
}

ConditionList _tree_conditions(const Graph& g, NodeId n, const OpCache& ops, bool adopt) {
    InterruptPoll poll;
    std::vector<NodeId> roots;
    add_tree_roots(g, n, roots);
    Region region(g);
    region.explore(roots, poll);
    const MemoryBudget budget("tree conditions result");
    return TreeConditions(g, ops, adopt, region, budget, poll).run(n);
}

}  // namespace kestrane
