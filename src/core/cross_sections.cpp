#include "cross_sections.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <unordered_map>

#include "budget.hpp"
#include "flat_set.hpp"
#include "keyed_hash.hpp"
#include "siphash.hpp"
#include "traces.hpp"
#include "walks.hpp"

namespace kestrane {

namespace {

// leaves_with_skip, with its working arrays kept from one combination to the
// next: membership in the visited and skip sets is an epoch stamp, so a new
// walk costs nothing for the nodes it does not reach. Same order and the same
// failures as leaves_with_skip.
class LeafWalker {
public:
    explicit LeafWalker(const Graph& g) : g_(g), visited_(g.size(), 0), skipped_(g.size(), 0) {}

    // Appends the leaves below the root not covered by `skip` (node ids of g).
    // `skip` is read before anything is appended, so it may be `out` itself.
    // Returns the number of ids popped.
    size_t leaves(const std::vector<NodeId>& skip, std::vector<NodeId>& out) {
        size_t pops = 0;
        if (!g_.has_valid_root()) return 0;
        next_epoch();
        for (NodeId s : skip) skipped_[s] = epoch_;
        const size_t n = g_.size();
        stack_.clear();
        stack_.push_back(static_cast<Link>(g_.root_id));
        while (!stack_.empty()) {
            const NodeId x = stack_.back();
            stack_.pop_back();
            ++pops;
            if (x >= n) index_panic(n, x);
            if (skipped_[x] == epoch_ || visited_[x] == epoch_) continue;
            visited_[x] = epoch_;
            const Node& node = g_.nodes[x];
            // Downward only: operators push children, value nodes options, in
            // reverse so that they pop in stored order.
            const IdList& down = node.is_op() ? node.children : node.options;
            if (node.is_value() && down.empty()) out.push_back(x);
            for (size_t i = down.size(); i-- > 0;) stack_.push_back(static_cast<Link>(down[i]));
        }
        return pops;
    }

private:
    void next_epoch() {
        if (epoch_ == std::numeric_limits<uint32_t>::max()) {
            std::fill(visited_.begin(), visited_.end(), 0);
            std::fill(skipped_.begin(), skipped_.end(), 0);
            epoch_ = 0;
        }
        ++epoch_;
    }

    const Graph& g_;
    std::vector<uint32_t> visited_;
    std::vector<uint32_t> skipped_;
    std::vector<Link> stack_;
    uint32_t epoch_ = 0;
};

// The leaves a kept set leaves open, answered from one full downward walk
// instead of a walk per kept set.
//
// Number the nodes reached from the root in walk order (the depth-first
// pre-order). The nodes a node s reaches first, its subtree, then hold the
// positions [pre(s), end(s)). Call s closed when no link from outside its
// subtree leads into it below s. Skipping a closed s takes out exactly its
// subtree and changes nothing else: up to the first time the walk meets s it
// goes as before; skipped, s hides its subtree, which nothing outside reaches;
// and from inside, the full walk only ever met nodes it had listed already.
// Taking out a subtree leaves the others as they were, so for a kept set of
// closed nodes the open leaves are the full walk's leaves outside the kept
// nodes' intervals, in the same order: a few sorted intervals and copies of
// leaf runs, however far down the graph they lie. Kept nodes the walk does
// not reach change nothing. A kept set with a node that is not closed (below
// it lies a node shared with another part of the graph) is walked as before.
//
// The numbering costs a few full walks and a fixed setup, so kept sets are
// walked until their walks have popped kNumberAfterWalks times as many ids as
// the graph has nodes, and kNumberAfterPops more: a call whose walks stay
// short (kept sets near the root, few of them, or a small graph) never pays
// for it, and one that would walk a lot pays at most that much more.
constexpr size_t kNumberAfterWalks = 4;
constexpr size_t kNumberAfterPops = 256;

class OpenLeaves {
public:
    explicit OpenLeaves(const Graph& g) : g_(g) {}

    // Appends to `nodes` the leaves below the root that the kept set now in
    // `nodes` leaves open, in walk order.
    void append(std::vector<NodeId>& nodes) {
        if (!g_.has_valid_root()) return;
        if (state_ == State::Unbuilt && walked_ >= kNumberAfterWalks * g_.size() + kNumberAfterPops)
            state_ = number() ? State::Built : State::Walk;
        if (state_ == State::Built && cut(nodes)) return;
        if (!walker_) walker_ = std::make_unique<LeafWalker>(g_);
        const size_t pops = walker_->leaves(nodes, nodes);
        if (state_ == State::Unbuilt) walked_ += pops;
    }

    // SipHash of node x (a node of g), as the fingerprint adds it: each leaf is
    // hashed once, however many cross sections it ends.
    uint64_t fingerprint(NodeId x) {
        if (prints_.empty()) prints_.assign(g_.size(), 0);
        uint64_t& h = prints_[x];
        if (h == 0) h = SipHasher13::hash_u64(x);  // a zero is computed again, to the same value
        return h;
    }

private:
    enum class State { Unbuilt, Built, Walk };

    // The open leaves from the numbering; false (nothing appended) when a
    // reached kept node is not closed.
    bool cut(std::vector<NodeId>& nodes) {
        pos_.clear();
        for (NodeId s : nodes) {
            const Link p = pre_[s];
            if (p == kNoLink) continue;
            if (end_[p] == 0) return false;
            pos_.push_back(p);
        }
        std::sort(pos_.begin(), pos_.end());
        Link from = 0;
        for (Link p : pos_) {
            if (p < from) continue;  // inside an interval already cut
            copy_leaves(from, p, nodes);
            from = end_[p];
        }
        copy_leaves(from, static_cast<Link>(end_.size()), nodes);
        return true;
    }

    void copy_leaves(Link from, Link to, std::vector<NodeId>& out) const {
        out.insert(out.end(), leaves_.begin() + leaf_rank_[from], leaves_.begin() + leaf_rank_[to]);
    }

    // Numbers the nodes the root reaches and finds the closed ones; false
    // when a link out of range is met (the walk reports it when it gets
    // there, if it does) or there are too many nodes for 32-bit positions.
    bool number() {
        const size_t n = g_.size();
        if (n >= kNoLink) return false;
        pre_.assign(n, kNoLink);
        // By position: the position of the node that reached it first, and
        // the lowest and highest positions that link to it.
        std::vector<Link> up, lo, hi;
        std::vector<Link> order;
        for (auto* v : {&up, &lo, &hi, &order}) v->reserve(n);
        // (node, position of the node that pushed it)
        std::vector<std::pair<Link, Link>> stack{{static_cast<Link>(g_.root_id), kNoLink}};
        InterruptPoll poll;
        while (!stack.empty()) {
            poll.tick();
            const auto [x, from] = stack.back();
            stack.pop_back();
            if (x >= n) return false;
            Link p = pre_[x];
            if (p == kNoLink) {
                p = pre_[x] = static_cast<Link>(order.size());
                order.push_back(x);
                up.push_back(from);
                lo.push_back(from);
                hi.push_back(from == kNoLink ? 0 : from);
                const Node& node = g_.nodes[x];
                const IdList& down = node.is_op() ? node.children : node.options;
                for (size_t i = down.size(); i-- > 0;) stack.emplace_back(static_cast<Link>(down[i]), p);
            } else {
                lo[p] = std::min(lo[p], from);
                hi[p] = std::max(hi[p], from);
            }
        }
        // Fold subtree sizes and the lowest and highest linking positions
        // below each node into its first parent, the deepest nodes first.
        const size_t m = order.size();
        std::vector<Link> size(m, 1), below_lo(m, kNoLink), below_hi(m, 0);
        end_.assign(m, 0);
        for (size_t p = m; p-- > 0;) {
            const Link end = static_cast<Link>(p + size[p]);
            if (below_lo[p] >= p && below_hi[p] < end) end_[p] = end;
            if (p == 0) break;
            const Link q = up[p];
            size[q] += size[p];
            below_lo[q] = std::min({below_lo[q], lo[p], below_lo[p]});
            below_hi[q] = std::max({below_hi[q], hi[p], below_hi[p]});
        }
        leaf_rank_.assign(m + 1, 0);
        for (size_t p = 0; p < m; ++p) {
            const Node& node = g_.nodes[order[p]];
            const bool leaf = node.is_value() && node.options.empty();
            if (leaf) leaves_.push_back(order[p]);
            leaf_rank_[p + 1] = leaf_rank_[p] + leaf;
        }
        return true;
    }

    const Graph& g_;
    State state_ = State::Unbuilt;
    size_t walked_ = 0;            // ids popped by the walks before the numbering
    std::vector<Link> pre_;        // by node: its walk position, or kNoLink when not reached
    std::vector<Link> end_;        // by position: the end of a closed node's subtree, 0 if not closed
    std::vector<Link> leaf_rank_;  // by position: the leaves before it
    std::vector<Link> leaves_;     // the leaves in walk order
    std::vector<Link> pos_;
    std::vector<uint64_t> prints_;  // by node: its fingerprint, 0 until needed
    std::unique_ptr<LeafWalker> walker_;
};

// The trace list starts with room for this many traces and entries, and the
// result for this many cross sections: most calls are small, and their first
// growths would be a good part of their cost.
constexpr size_t kShortTraceList = 64;

void mix(Digest128& d, const Digest128& e) {
    d.a ^= e.a;
    d.b ^= e.b;
}

// Keyed 128-bit values for the set digests below, one domain per kind of
// element: a kept node; a (trace, highest position) pair of part (a); a
// tail's number.
enum Domain : uint64_t { kKeptNode = 1, kTail = 2, kHighest = 3 };
template <Domain D>
Digest128 keyed(uint64_t x) {
    KeyedHasher h = KeyedHasher::in_domain<D>();
    h.write_u64(x);
    return h.finish128();
}

// The combinations in odometer order, walked depth first: depth d chooses a
// position on trace d, every choice of trace 0 first with all that follows
// it, and so on; the combinations are the paths to depth k.
//
// Prefixes that cannot add a kept set are skipped whole. After traces
// 0 .. d-1 are chosen, what the prefix decides about any completion is
//   (a) for each later trace j, the highest position on j of any node the
//       prefix chose: a later choice on j is left out by the prefix exactly
//       when it lies at or below that position;
//   (b) the prefix choices no other prefix choice leaves out, each with its
//       tail: such a choice is kept exactly when no later choice lies in its
//       tail (the others are left out whatever follows).
// So two prefixes of the same length with equal (a) and (b) give the same
// kept set for every completion. A prefix whose state an earlier prefix
// already had is not walked: every combination under it has a kept set that
// the same completion of the earlier prefix produced first, in odometer
// order. The first combination of each kept set is therefore never skipped,
// and the results, their node lists and their scores are those of the plain
// enumeration.
//
// The walk keeps, as choices are made and unmade:
//   hp[j]    for each trace: one more than the highest position on it of a
//            chosen node, 0 for none (part (a) for the later traces);
//   kept[v]  whether choice v is left out by no other choice made so far;
//            at depth k these are the kept choices;
//   three set digests (XORs of keyed per-element values): (a) over the
//   later traces, (b) by tail, and the kept choices by node; and the score
//   of the kept choices.
// A choice touches only the traces that hold its node (a trace never holds a
// node twice), so making or unmaking one costs far less than testing every
// tail again.
class Combinations {
public:
    Combinations(const Graph& g, const TraceList& tl, MemoryBudget& budget, InterruptPoll& poll)
        : k_(tl.size()), poll_(poll) {
        // Occurrences name their trace and position in 32 bits (a trace never
        // holds a node twice, so a position is below the node count), and
        // tails are numbered in 32 bits.
        if (k_ > UINT32_MAX) throw TooLarge("cross sections: 2**32 or more traces");
        if (tl.flat.size() >= UINT32_MAX) throw TooLarge("cross sections: 2**32 or more trace entries");
        // Per trace entry its record, its occurrence, a log entry, at most
        // one local node and one tail's value; per trace its record and a
        // log entry; per graph node a local id.
        budget.add(tl.flat.size(),
                   sizeof(Entry) + 2 * sizeof(Occ) + sizeof(Local) + sizeof(Digest128) + sizeof(size_t));
        budget.add(k_, sizeof(Trace) + sizeof(uint32_t));
        budget.add(g.size(), sizeof(Link));
        std::vector<Link> local(g.size(), kNoLink);
        entry_.resize(tl.flat.size());
        local_.reserve(tl.flat.size());
        for (size_t i = 0; i < tl.flat.size(); ++i) {
            const Link x = tl.flat[i];
            if (local[x] == kNoLink) {
                local[x] = static_cast<Link>(local_.size());
                local_.push_back(Local{x});
            }
            entry_[i].loc = local[x];
        }
        // occurrences of each local node: (trace, position), by trace
        const size_t m = local_.size();
        for (const Entry& e : entry_) ++local_[e.loc].occ_end;
        for (size_t x = 1; x < m; ++x) local_[x].occ_end += local_[x - 1].occ_end;
        occ_.resize(entry_.size());
        for (size_t v = k_; v-- > 0;)
            for (size_t p = tl.length(v); p-- > 0;)
                occ_[--local_[entry_[tl.start(v) + p].loc].occ_end] = Occ{uint32_t(v), uint32_t(p)};
        for (size_t x = 0; x < m; ++x) local_[x].occ_end = x + 1 < m ? local_[x + 1].occ_end : occ_.size();
        trace_.resize(k_);
        // Along one path of the walk hp only grows (at most once per
        // position) and a choice is left out at most once.
        hp_log_.reserve(tl.flat.size());
        kept_log_.reserve(k_);
        for (size_t v = 0; v < k_; ++v) {
            trace_[v].start = tl.start(v);
            trace_[v].len = tl.length(v);
        }
        number_tails(budget);
    }

    // Calls visit() for every combination not skipped, in odometer order.
    // (With no traces there is one combination, the empty one.)
    template <class Visit>
    void walk(FlatSet<Digest128>& prefixes, Visit&& visit) {
        if (k_ == 0) return visit();
        size_t d = 0;
        for (;;) {
            choose(d);
            if (d + 1 == k_) {
                visit();
            } else if (prefixes.insert(prefix_state(d + 1))) {
                trace_[++d].w = 0;
                continue;
            }
            unchoose(d);
            while (++trace_[d].w == trace_[d].len) {
                if (d == 0) return;
                unchoose(--d);
            }
        }
    }

    // At depth k: the digest of the kept set, its score, and the kept
    // choices in trace order with the XOR of their fingerprints.
    const Digest128& kept_digest() const { return kept_set_; }
    uint64_t score() const { return score_; }
    void kept_nodes(std::vector<NodeId>& out, uint64_t& fp) {
        for (size_t v = 0; v < k_; ++v) {
            if (!trace_[v].kept) continue;
            Local& x = local_[entry_[trace_[v].start + trace_[v].w].loc];
            if (x.fingerprint == 0) x.fingerprint = SipHasher13::hash_u64(x.node);
            out.push_back(x.node);
            fp ^= x.fingerprint;
        }
    }

private:
    struct Occ {
        uint32_t v, p;
    };
    // Keyed values and fingerprints are computed when first needed; zero
    // means not yet (a value that is zero is computed again each time, to
    // the same result).
    struct Entry {
        uint32_t loc;         // its local node
        uint32_t tail;        // its tail's number
        Digest128 highest{};  // the value of (its trace, its position) in part (a)
    };
    struct Local {
        Link node;
        size_t occ_end = 0;  // its occurrences end here (and start where the previous node's end)
        Digest128 kept{};    // its value in the kept set's digest
        uint64_t fingerprint = 0;
        // the number of the first tail met that starts at it, and of that tail's rest
        uint32_t tail = kNoLink, above = kNoLink;
    };
    // What choose(d) changed besides hp and kept (which the logs restore).
    struct Mark {
        size_t hp_log, kept_log;
        bool kept;
        Digest128 later, tails, kept_set;
        uint64_t score;
    };
    struct Trace {
        size_t start = 0, len = 0;  // its entries
        size_t w = 0;               // its chosen position
        uint32_t hp = 0;            // one more than the highest position on it of a chosen node; 0 for none
        bool kept = false;
        Mark mark;
    };

    static bool unset(const Digest128& d) { return d.a == 0 && d.b == 0; }
    Digest128 prefix_state(size_t depth) const {
        return Digest128{later_.a ^ tails_.a ^ depth, later_.b ^ tails_.b};
    }
    uint64_t height(const Trace& t) const { return t.len - 1 - t.w; }
    size_t occ_begin(uint32_t x) const { return x ? local_[x - 1].occ_end : 0; }

    const Digest128& highest(size_t j) {
        Entry& e = entry_[trace_[j].start + trace_[j].hp - 1];
        if (unset(e.highest)) e.highest = keyed<kHighest>(uint64_t(j) << 32 | trace_[j].hp);
        return e.highest;
    }
    const Digest128& kept_value(uint32_t x) {
        Local& l = local_[x];
        if (unset(l.kept)) l.kept = keyed<kKeptNode>(l.node);
        return l.kept;
    }
    // The value of the tail of trace entry i: the keyed value of its number.
    const Digest128& tail(size_t i) {
        Digest128& t = tail_value_[entry_[i].tail];
        if (unset(t)) t = keyed<kTail>(entry_[i].tail);
        return t;
    }

    // Numbers the tails: equal tails (equal node sequences) get equal
    // numbers, as a tail is its node and the rest of the tail above it. Most
    // nodes start one tail only (on a tree, every node), which their record
    // holds; the others are looked up (and held in the budget while they
    // are).
    void number_tails(MemoryBudget& budget) {
        std::unordered_map<uint64_t, uint32_t> more;
        uint32_t next = 1;  // 0: the empty tail above the top of a trace
        for (const Trace& t : trace_) {
            uint32_t above = 0;
            for (size_t i = t.start + t.len; i-- > t.start;) {
                poll_.tick();
                Local& x = local_[entry_[i].loc];
                if (x.tail == kNoLink) {
                    x.tail = next++;
                    x.above = above;
                } else if (x.above != above) {
                    const uint64_t key = uint64_t(entry_[i].loc) << 32 | above;
                    auto [it, added] = more.emplace(key, next);
                    if (added) {
                        budget.add(kSetEntryBytes);
                        ++next;
                    }
                    above = entry_[i].tail = it->second;
                    continue;
                }
                above = entry_[i].tail = x.tail;
            }
        }
        budget.release(more.size() * kSetEntryBytes);
        tail_value_.resize(next);
    }

    void choose(size_t d) {
        Trace& t = trace_[d];
        const size_t i = t.start + t.w;
        const uint32_t x = entry_[i].loc;
        poll_.tick(static_cast<int64_t>(1 + local_[x].occ_end - occ_begin(x)));
        t.mark = Mark{hp_log_.size(), kept_log_.size(), false, later_, tails_, kept_set_, score_};
        if (t.hp) mix(later_, highest(d));  // trace d is no longer a later one
        for (size_t o = occ_begin(x); o < local_[x].occ_end; ++o) {
            const auto [j, p] = occ_[o];
            Trace& u = trace_[j];
            if (j > d && p >= u.hp) {
                if (u.hp) mix(later_, highest(j));
                hp_log_.push_back(Occ{j, u.hp});
                u.hp = p + 1;
                mix(later_, highest(j));
            } else if (j < d && u.kept && p >= u.w) {
                u.kept = false;
                kept_log_.push_back(j);
                const size_t uj = u.start + u.w;
                mix(tails_, tail(uj));
                mix(kept_set_, kept_value(entry_[uj].loc));
                score_ -= height(u);
            }
        }
        if (t.hp <= t.w) {
            t.kept = t.mark.kept = true;
            mix(tails_, tail(i));
            mix(kept_set_, kept_value(x));
            score_ += height(t);
        }
    }
    void unchoose(size_t d) {
        Trace& t = trace_[d];
        const Mark& m = t.mark;
        for (; hp_log_.size() > m.hp_log; hp_log_.pop_back()) trace_[hp_log_.back().v].hp = hp_log_.back().p;
        for (; kept_log_.size() > m.kept_log; kept_log_.pop_back()) trace_[kept_log_.back()].kept = true;
        if (m.kept) t.kept = false;
        later_ = m.later;
        tails_ = m.tails;
        kept_set_ = m.kept_set;
        score_ = m.score;
    }

    const size_t k_;
    InterruptPoll& poll_;
    std::vector<Entry> entry_;           // by trace entry
    std::vector<Local> local_;           // by local id: the nodes on the traces
    std::vector<Digest128> tail_value_;  // by tail number: its value in part (b)
    std::vector<Occ> occ_;               // grouped by local node
    std::vector<Trace> trace_;
    std::vector<Occ> hp_log_;  // (trace, its hp before)
    std::vector<uint32_t> kept_log_;
    Digest128 later_{}, tails_{}, kept_set_{};
    uint64_t score_ = 0;
};

}  // namespace

// The full node set of a combination is its kept set plus the leaves that
// set leaves open, so a kept set met before gives a node set whose
// fingerprint is already in the seen set: only the first combination with
// each kept set needs the leaf walk and the fingerprint. That combination is
// also the first to produce its node set, so the order, the node lists and
// the scores are those of the plain enumeration.
//
// Kept sets and prefix states are told apart by 128-bit digests. Their
// per-element values are keyed with a per-process random key: an XOR of
// unkeyed hashes is linear, and a graph of a few hundred nodes could be built
// with two kept sets of equal digest, dropping a result. Keyed, a mix-up is
// left to chance (probability about n^2 / 2^129 for n sets). Storing the sets
// to compare them on a hit would cost memory for every distinct one, and
// there can be far more of those than results.
//
// The memory budget holds the trace list, the walk's arrays, the leaf walks'
// arrays, the sets and the result (with the Python objects it becomes).
std::vector<CrossSection> cross_sections(const Graph& g, const std::vector<NodeId>& targets) {
    TraceFlags up;
    up.me_too = true;
    up.op_nodes = false;
    up.val_nodes = true;
    up.above = true;
    up.below = false;
    MemoryBudget budget("cross sections result");
    TraceList tl;
    tl.flat.reserve(kShortTraceList);
    tl.ends.reserve(kShortTraceList);
    traces_rec(g, targets.data(), targets.size(), up, tl, budget, kTraceListCost);

    std::vector<CrossSection> result;
    result.reserve(kShortTraceList);
    for (size_t v = 0; v < tl.size(); ++v)
        if (tl.length(v) == 0) return result;

    const ResultObjectCosts& host = result_object_costs;
    const uint64_t per_section = sizeof(CrossSection) + host.pair + host.list + host.score;
    const uint64_t per_node = sizeof(NodeId) + host.element;
    InterruptPoll poll;
    Combinations combos(g, tl, budget, poll);
    FlatSet<uint64_t> seen(budget);
    // Kept sets and prefix states share one set: their digests are made of
    // keyed values of different domains, so they are told apart as any two
    // different sets are.
    FlatSet<Digest128> digests(budget);
    // the leaf walks' marks and the leaves' fingerprints
    budget.add(g.size(), 2 * sizeof(uint32_t) + sizeof(uint64_t));
    OpenLeaves open(g);
    std::vector<NodeId> nodes;
    bool first = true;
    Digest128 last{};
    combos.walk(digests, [&] {
        const Digest128& d = combos.kept_digest();
        // Consecutive combinations often keep the same set: skip the look-up.
        if (!first && d == last) return;
        first = false;
        last = d;
        if (!digests.insert(d)) return;
        nodes.clear();
        uint64_t fp = 0;
        combos.kept_nodes(nodes, fp);
        const size_t kept = nodes.size();
        open.append(nodes);
        for (size_t i = kept; i < nodes.size(); ++i) fp ^= open.fingerprint(nodes[i]);
        budget.check(budget.sum(per_section, budget.bytes(nodes.size(), per_node)));
        if (seen.insert(fp)) {
            budget.add(per_section + nodes.size() * per_node);
            result.push_back(CrossSection{nodes, combos.score()});
        }
    });
    return result;
}

}  // namespace kestrane
