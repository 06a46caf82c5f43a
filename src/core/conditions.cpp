#include "conditions.hpp"

#include <algorithm>
#include <optional>
#include <string>

#include "budget.hpp"
#include "walks.hpp"

namespace kestrane {

namespace {

constexpr uint64_t kUnknown = ~uint64_t(0);

// ---- memory budget --------------------------------------------------------

// A condition list of `count` conditions holding `elems` positions in all is
// held twice at the end of a call: here, and as the Python lists it becomes.
// A result that cannot fit in the memory budget is refused up front.
void check_result_fits(const MemoryBudget& budget, uint64_t count, uint64_t elems) {
    constexpr uint64_t per_condition = sizeof(Condition) + kPyListBytes;
    constexpr uint64_t per_elem = sizeof(uint64_t) + kPyIntBytes;
    budget.check(budget.sum(budget.bytes(count, per_condition), budget.bytes(elems, per_elem)));
}

// A repeated leaf count beyond 64 bits; the counts saturate there.
constexpr uint64_t kTooMany = ~uint64_t(0);

uint64_t saturating_add(uint64_t a, uint64_t b) { return b > kTooMany - a ? kTooMany : a + b; }

Condition iota_condition(const MemoryBudget& budget, uint64_t len) {
    check_result_fits(budget, 1, len);
    Condition c(len);
    for (uint64_t i = 0; i < len; ++i) c[i] = i;
    return c;
}

// A zero-filled array over all node ids. calloc hands out untouched zero pages
// for large sizes, so a call that explores a small part of a large graph pays
// only for the pages it touches.
template <class T>
class ZeroedArray {
public:
    explicit ZeroedArray(size_t n) : p_(static_cast<T*>(std::calloc(n ? n : 1, sizeof(T)))) {
        if (!p_) throw std::bad_alloc();
    }
    ZeroedArray(const ZeroedArray&) = delete;
    ZeroedArray& operator=(const ZeroedArray&) = delete;
    ~ZeroedArray() { std::free(p_); }
    T& operator[](size_t i) { return p_[i]; }
    T operator[](size_t i) const { return p_[i]; }

private:
    T* p_;
};

// ---- combinations -----------------------------------------------------------

// Appends the shifted, joined combinations of `factors` to `out`; `out_elems`
// tracks the number of positions held in `out` for the memory budget.
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

    // Odometer over the choices, the last factor varying fastest.
    std::vector<size_t> idx(m, 0);
    for (;;) {
        poll.tick();
        size_t len = 0;
        for (size_t i = 0; i < joined; ++i) len += (*factors[i])[idx[i]].size();
        Condition joined_cond;
        joined_cond.reserve(len);
        for (size_t i = 0; i < joined; ++i) {
            const uint64_t d = shift(i);
            for (uint64_t e : (*factors[i])[idx[i]]) joined_cond.push_back(e + d);
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

// ---- the part of the graph below the start nodes ---------------------------

// The leaf counts follow a relation on nodes: a node with options leads to
// every child of every one of its options (with repetition); a node without
// options is a leaf. Region explores that relation once from the start nodes
// of a call, numbering the nodes it meets locally, and answers both leaf
// counts from memos: every level of the condition recursion asks again for
// the nodes below it, and a shared subgraph would otherwise be counted once
// per path.
class Region {
public:
    explicit Region(const Graph& g) : g_(g), local_(g.size()), first_option_of_(g.size()) {}

    // Explores from each root in order. ValueError when a node is reached
    // again from itself, since the counts below it would be unbounded.
    void explore(const std::vector<NodeId>& roots, InterruptPoll& poll);

    // Local indices fit: a graph holds fewer than 2^32 - 1 nodes.
    uint32_t local(NodeId id) const { return local_[id] - 1; }
    size_t size() const { return ids_.size(); }

    // The number of leaves below `id` counted once per path. It grows with
    // the number of paths, so it can pass 64 bits on a small graph: then it
    // is an error, never a wrapped count.
    uint64_t repeated(NodeId id) const {
        const uint64_t r = rep_[local(id)];
        if (r == kTooMany)
            throw TooLarge("repeated leaf count of node " + std::to_string(id) + " does not fit in 64 bits");
        return r;
    }
    // The number of distinct leaves below `id`.
    uint64_t unique(NodeId id, InterruptPoll& poll);

    // Whether the tree conditions of `k`'s first option may be asked for more
    // than once: `k` is reached by several edges, or that option is the first
    // option of several region nodes.
    bool shared_first_option(NodeId k) const {
        return indeg_[local(k)] > 1 || first_option_of_[g_.nodes[k].options[0]] > 1;
    }

private:
    uint32_t discover(NodeId id);
    void mark_trees();

    const Graph& g_;
    ZeroedArray<uint32_t> local_;  // node id -> local index + 1; 0 outside the region
    ZeroedArray<uint8_t> first_option_of_;  // option id -> region nodes it is first of (max 2)
    std::vector<NodeId> ids_;
    std::vector<uint64_t> rep_;    // repeated counts, kTooMany beyond 64 bits
    std::vector<uint8_t> indeg_;   // edges into the node from region nodes (max 2)
    std::vector<uint8_t> done_;    // 0 while on the exploration path
    std::vector<uint8_t> tree_;    // every node below is reached by one path only
    std::vector<uint64_t> uniq_;
    std::vector<uint32_t> post_;   // local indices, every node after all below it
    std::vector<uint32_t> stamp_;
    uint32_t cur_stamp_ = 0;
};

uint32_t Region::discover(NodeId id) {
    const uint32_t li = static_cast<uint32_t>(ids_.size());
    ids_.push_back(id);
    rep_.push_back(0);
    indeg_.push_back(0);
    done_.push_back(0);
    local_[id] = li + 1;
    return li;
}

void Region::explore(const std::vector<NodeId>& roots, InterruptPoll& poll) {
    struct Visit {
        uint32_t li;
        uint32_t oi;  // next option
        uint32_t ci;  // next child of that option
        uint64_t acc;
    };
    std::vector<Visit> stack;
    for (NodeId r : roots) {
        g_.at(r);
        if (local_[r] != 0) continue;
        stack.push_back({discover(r), 0, 0, 0});
        while (!stack.empty()) {
            poll.tick();
            Visit& t = stack.back();
            const Node& x = g_.nodes[ids_[t.li]];
            if (x.options.empty()) {
                t.acc = 1;
            } else if (t.oi == 0 && t.ci == 0) {
                const NodeId first = x.options[0];
                g_.at(first);
                uint8_t& n = first_option_of_[first];
                if (n < 2) ++n;
            }
            bool descended = false;
            while (t.oi < x.options.size()) {
                const Node& o = g_.at(x.options[t.oi]);
                if (t.ci == o.children.size()) {
                    ++t.oi;
                    t.ci = 0;
                    continue;
                }
                const NodeId c = o.children[t.ci++];
                g_.at(c);
                if (local_[c] == 0) {
                    const uint32_t cl = discover(c);
                    indeg_[cl] = 1;
                    stack.push_back({cl, 0, 0, 0});
                    descended = true;
                    break;
                }
                const uint32_t cl = local(c);
                if (indeg_[cl] < 2) ++indeg_[cl];
                if (!done_[cl])
                    throw ValueError{"graph has a cycle through node " + std::to_string(c)};
                t.acc = saturating_add(t.acc, rep_[cl]);
            }
            if (descended) continue;
            const uint32_t li = t.li;
            const uint64_t r = t.acc;
            rep_[li] = r;
            done_[li] = 1;
            post_.push_back(li);
            stack.pop_back();
            if (!stack.empty()) stack.back().acc = saturating_add(stack.back().acc, r);
        }
    }
    mark_trees();
}

// In-degrees are final only once exploration is over. A node is a tree when
// each of its edges leads to a tree whose only in-edge it is; then every node
// below it has a single in-edge in the region, so each is reached by exactly
// one path and its distinct leaves number its repeated count.
void Region::mark_trees() {
    tree_.assign(ids_.size(), 0);
    uniq_.assign(ids_.size(), kUnknown);
    for (uint32_t li : post_) {
        const Node& x = g_.nodes[ids_[li]];
        bool tree = true;
        for (Link o : x.options) {
            for (Link c : g_.nodes[o].children) {
                const uint32_t cl = local(c);
                if (indeg_[cl] != 1 || !tree_[cl]) {
                    tree = false;
                    break;
                }
            }
            if (!tree) break;
        }
        tree_[li] = tree;
    }
}

uint64_t Region::unique(NodeId id, InterruptPoll& poll) {
    const uint32_t start = local(id);
    if (tree_[start]) return rep_[start];
    if (uniq_[start] != kUnknown) return uniq_[start];
    if (stamp_.empty()) stamp_.assign(ids_.size(), 0);
    // One stamp per region node at most (the counts are memoized), so the
    // stamps never run out.
    const uint32_t s = ++cur_stamp_;
    uint64_t count = 0;
    std::vector<uint32_t> stack{start};
    stamp_[start] = s;
    while (!stack.empty()) {
        poll.tick();
        const uint32_t li = stack.back();
        stack.pop_back();
        // Nothing below a tree node is reachable except through it, and it is
        // met once here, so its leaves are all new.
        if (tree_[li]) {
            count += rep_[li];  // distinct leaves: no more than the region holds
            continue;
        }
        for (Link o : g_.nodes[ids_[li]].options) {
            for (Link c : g_.nodes[o].children) {
                const uint32_t cl = local(c);
                if (stamp_[cl] == s) continue;
                stamp_[cl] = s;
                stack.push_back(cl);
            }
        }
    }
    uniq_[start] = count;
    return count;
}

// The nodes whose counts _tree_conditions(n) asks for: the children of `n`,
// unless `n` is a leaf and answers at once.
void add_tree_roots(const Graph& g, NodeId n, std::vector<NodeId>& roots) {
    const Node& node = g.at(n);
    if (node.is_value() && node.options.empty()) return;
    roots.insert(roots.end(), node.children.begin(), node.children.end());
}

// ---- tree conditions ----------------------------------------------------------

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

// One level of _tree_conditions, kept on an explicit stack. The factor of an
// unselected child is that child's own tree conditions; it does not depend on
// the base condition, so it is computed once per level, when the first
// condition that needs it is reached, and dropped after the last one.
//
// A chain of a million operators keeps a million levels, so a level's arrays
// are slices of a few stacks shared by all levels (they are freed in reverse
// order of creation) instead of vectors of its own.
struct Frame {
    NodeId n;
    uint32_t slot;   // the parent's child position that awaits this result
    uint32_t m;      // number of children
    size_t nbase;    // number of base conditions
    size_t words;    // start of this level's slice of TreeConditions::words_
    size_t offs;     // ... of offsets_
    size_t lists;    // ... of lists_
    size_t bi = 0;   // current base condition
    size_t scan = 0; // next position to check for a missing child factor
    bool sel_ready = false;
    bool memoize = false;  // keep a copy of the result for later requests
    ConditionList owned_base;                 // built when adopting a callable's conditions
    const ConditionList* borrowed = nullptr;  // or borrowed from the op cache; never into a Frame
    ConditionList result;
    uint64_t result_elems = 0;

    const ConditionList& base() const { return borrowed ? *borrowed : owned_base; }
};

class TreeConditions {
public:
    TreeConditions(const Graph& g, const OpCache& ops, bool adopt, Region& region, const MemoryBudget& budget,
                   InterruptPoll& poll)
        : g_(g), ops_(ops), adopt_(adopt), region_(region), budget_(budget), poll_(poll),
          first_pos_(region.size(), kNoLink) {}

    ConditionList run(NodeId n);

private:
    // Layout of a level's slice of words_ (m = number of children):
    //   [0, m)        group: first position holding the same node
    //   [m, 2m)       last_use: last live base condition leaving the group unselected
    //   [2m, 3m)      flags: kSel for a selected position (current base condition),
    //                 kHaveChild / kHaveSel for a group whose factor is held
    //   [3m, 3m+nb)   live: base condition not abandoned
    // and of lists_: [0, m) unselected factor per group, [m, 2m) selected factor.
    static constexpr uint32_t kSel = 1, kHaveChild = 2, kHaveSel = 4;

    uint32_t* words(const Frame& fr) { return words_.data() + fr.words; }
    void mark_selected(const Frame& fr, const Condition& c);
    void push_frame(NodeId n, uint32_t slot, bool memoize = false);
    void pop_frame();

    const Graph& g_;
    const OpCache& ops_;
    bool adopt_;
    Region& region_;
    const MemoryBudget& budget_;
    InterruptPoll& poll_;
    std::vector<uint32_t> first_pos_;  // scratch over local indices, kNoLink between uses
    std::vector<Frame> stack_;
    std::vector<uint32_t> words_;
    std::vector<uint64_t> offsets_;
    std::vector<ConditionList> lists_;
    std::vector<const ConditionList*> factors_;
    std::vector<uint64_t> frame_offsets_;
    // Results for operators below shared nodes: without them a subgraph
    // reached along many paths would be expanded once per path.
    std::unordered_map<NodeId, ConditionList> memo_;
};

void TreeConditions::mark_selected(const Frame& fr, const Condition& c) {
    uint32_t* flags = words(fr) + 2 * size_t(fr.m);
    for (uint32_t i = 0; i < fr.m; ++i) flags[i] &= ~kSel;
    for (uint64_t e : c)
        if (e < fr.m) flags[e] |= kSel;
}

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
    if (base.empty()) return;
    // Base conditions are numbered in 32-bit words, kNoLink standing for none.
    if (base.size() >= kNoLink)
        throw TooLarge("conditions of operator node " + std::to_string(n) + " number 2**32 - 1 or more");

    words_.resize(words_.size() + 3 * size_t(m) + base.size(), 0);
    uint32_t* w = words(fr);
    uint32_t* group = w;
    uint32_t* last_use = w + m;
    uint32_t* flags = w + 2 * size_t(m);
    uint32_t* live = w + 3 * size_t(m);
    for (uint32_t i = 0; i < m; ++i) {
        uint32_t& fp = first_pos_[region_.local(k[i])];
        if (fp == kNoLink) fp = i;
        group[i] = fp;
        last_use[i] = kNoLink;
    }
    for (Link x : k) first_pos_[region_.local(x)] = kNoLink;

    // A base condition is abandoned when one node stands at two unselected
    // positions; deciding that before any child is expanded spares the work.
    // The kHaveChild bit marks a group already met during this check.
    bool any_live = false;
    for (size_t b = 0; b < base.size(); ++b) {
        mark_selected(fr, base[b]);
        bool ok = true;
        for (uint32_t i = 0; i < m && ok; ++i) {
            if (flags[i] & kSel) continue;
            if (flags[group[i]] & kHaveChild) ok = false;
            flags[group[i]] |= kHaveChild;
        }
        for (uint32_t i = 0; i < m; ++i) flags[i] &= ~kHaveChild;
        if (!ok) continue;
        live[b] = 1;
        any_live = true;
        for (uint32_t i = 0; i < m; ++i)
            if (!(flags[i] & kSel)) last_use[group[i]] = static_cast<uint32_t>(b);
    }
    if (!any_live) return;

    // Child offsets come from the distinct leaf counts; the last child's count
    // is never needed. The sum cannot wrap: fewer than 2^32 children, each
    // with fewer than 2^32 distinct leaves.
    offsets_.resize(offsets_.size() + m);
    uint64_t acc = 0;
    for (uint32_t i = 0; i < m; ++i) {
        offsets_[fr.offs + i] = acc;
        if (i + 1 < m) acc += region_.unique(k[i], poll_);
    }
    lists_.resize(lists_.size() + 2 * size_t(m));
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
        // A level without base conditions has no slices at all.
        if (fr.bi < fr.nbase) {
            const uint32_t* live = words(fr) + 3 * size_t(fr.m);
            while (fr.bi < fr.nbase && !live[fr.bi]) ++fr.bi;
        }
        if (fr.bi == fr.nbase) {
            ConditionList done = std::move(fr.result);
            const uint32_t slot = fr.slot;
            if (fr.memoize) memo_.emplace(fr.n, done);
            pop_frame();
            if (stack_.empty()) return done;
            const Frame& parent = stack_.back();
            lists_[parent.lists + slot] = std::move(done);
            words(parent)[2 * size_t(parent.m) + slot] |= kHaveChild;
            continue;
        }
        const IdList& k = g_.nodes[fr.n].children;
        const uint32_t m = fr.m;
        if (!fr.sel_ready) {
            mark_selected(fr, fr.base()[fr.bi]);
            fr.sel_ready = true;
            fr.scan = 0;
        }
        const uint32_t* group = words(fr);
        uint32_t* flags = words(fr) + 2 * size_t(m);
        bool pushed = false;
        for (; fr.scan < m; ++fr.scan) {
            const size_t i = fr.scan;
            const uint32_t gp = group[i];
            if ((flags[i] & kSel) || (flags[gp] & kHaveChild)) continue;
            const Node& kn = g_.nodes[k[i]];
            const Node* fnode = kn.options.empty() ? nullptr : &g_.at(kn.options[0]);
            if (!fnode || (fnode->is_value() && fnode->options.empty())) {
                lists_[fr.lists + gp] = ConditionList{Condition{}};
                flags[gp] |= kHaveChild;
                continue;
            }
            const bool shared = region_.shared_first_option(k[i]);
            if (shared) {
                auto hit = memo_.find(kn.options[0]);
                if (hit != memo_.end()) {
                    lists_[fr.lists + gp] = hit->second;
                    flags[gp] |= kHaveChild;
                    continue;
                }
            }
            push_frame(kn.options[0], gp, shared);  // invalidates `fr` and the slices
            pushed = true;
            break;
        }
        if (pushed) continue;

        factors_.resize(m);
        for (uint32_t i = 0; i < m; ++i) {
            const uint32_t gp = group[i];
            if (flags[i] & kSel) {
                if (!(flags[gp] & kHaveSel)) {
                    lists_[fr.lists + m + gp] = ConditionList{iota_condition(budget_, region_.repeated(k[i]))};
                    flags[gp] |= kHaveSel;
                }
                factors_[i] = &lists_[fr.lists + m + gp];
            } else {
                factors_[i] = &lists_[fr.lists + gp];
            }
        }
        frame_offsets_.assign(offsets_.begin() + fr.offs, offsets_.begin() + fr.offs + m);
        combine_into(factors_, frame_offsets_, fr.result, fr.result_elems, budget_, poll_);
        const uint32_t* last_use = words(fr) + m;
        for (uint32_t i = 0; i < m; ++i) {
            if (group[i] == i && last_use[i] == fr.bi) {
                lists_[fr.lists + i] = ConditionList();
                flags[i] &= ~kHaveChild;
            }
        }
        ++fr.bi;
        fr.sel_ready = false;
    }
}

// ---- node conditions ------------------------------------------------------

bool is_subset(const Condition& q, const Condition& c) {
    // Both strictly increasing.
    size_t j = 0;
    for (uint64_t x : q) {
        while (j < c.size() && c[j] < x) ++j;
        if (j == c.size() || c[j] != x) return false;
        ++j;
    }
    return true;
}

// Drops every candidate implied by a candidate before it (a non-empty one it
// contains, or an empty one when it is at least as long as the graph's leaf
// count), then orders the rest by length and lexicographically. Candidates are
// strictly increasing, so containment is a merge; the earlier candidates that
// can be contained in c are found through their first element.
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
            auto it = std::lower_bound(by_first.begin(), by_first.end(),
                                       std::make_pair(c[p], size_t(0)));
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

}  // namespace

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
                throw TooLarge("callable condition position " + std::to_string(e) + " + 1 does not fit in 64 bits");
            shifted.push_back(e + 1);
        }
        out.push_back(std::move(shifted));
    }
    return out;
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
    const ConditionList tree = TreeConditions(g, ops, adopt, region, budget, poll).run(f);

    // The leaf sequence: every leaf once per path from `s`, depth first, left
    // to right. Only each position's distinct-leaf index is kept, plus the
    // number of positions of every distinct leaf.
    const uint64_t qlen = region.repeated(s);
    const MemoryBudget sequence_budget("conditions leaf sequence");
    sequence_budget.check(sequence_budget.bytes(qlen, sizeof(uint32_t)));
    std::vector<uint32_t> q;
    q.reserve(qlen);
    std::vector<uint64_t> occ;  // positions of each distinct leaf: may pass 2^32
    {
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
                li = static_cast<uint32_t>(occ.size());
                occ.push_back(0);
            }
            ++occ[li];
            q.push_back(li);
        }
    }

    // A condition survives when no distinct leaf has both selected and
    // unselected positions; it then selects the distinct leaves it touches.
    ConditionList survivors;
    std::vector<uint64_t> hits(occ.size(), 0);
    std::vector<uint64_t> picked;
    std::vector<uint32_t> touched;
    for (const Condition& c : tree) {
        poll.tick();
        picked.clear();
        for (uint64_t e : c)
            if (e < q.size()) picked.push_back(e);
        std::sort(picked.begin(), picked.end());
        picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
        touched.clear();
        for (uint64_t i : picked) {
            const uint32_t li = q[i];
            if (hits[li]++ == 0) touched.push_back(li);
        }
        bool consistent = true;
        for (uint32_t li : touched) {
            if (hits[li] != occ[li]) consistent = false;
            hits[li] = 0;
        }
        if (!consistent) continue;
        std::sort(touched.begin(), touched.end());
        survivors.emplace_back(touched.begin(), touched.end());
    }
    if (survivors.empty()) survivors.push_back(iota_condition(budget, leaf_count));
    return minimal_conditions(std::move(survivors), leaf_count, poll);
}

}  // namespace kestrane
