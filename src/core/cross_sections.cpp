#include "cross_sections.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <unordered_set>

#include "budget.hpp"
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
// The numbering costs about one full walk, so kept sets are walked until
// their walks have popped as many ids as the graph has nodes: a call whose
// walks stay short (kept sets near the root, or few of them) never pays for
// it, and one that would walk a lot pays at most that much more.
class OpenLeaves {
public:
    explicit OpenLeaves(const Graph& g) : g_(g) {}

    // Appends to `nodes` the leaves below the root that the kept set now in
    // `nodes` leaves open, in walk order.
    void append(std::vector<NodeId>& nodes) {
        if (!g_.has_valid_root()) return;
        if (state_ == State::Unbuilt && walked_ >= g_.size()) state_ = number() ? State::Built : State::Walk;
        if (state_ == State::Built && cut(nodes)) return;
        if (!walker_) walker_ = std::make_unique<LeafWalker>(g_);
        const size_t pops = walker_->leaves(nodes, nodes);
        if (state_ == State::Unbuilt) walked_ += pops;
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
    std::unique_ptr<LeafWalker> walker_;
};

// The odometer over the choice lists, with the state of the current
// combination kept up to date as one choice moves:
//   cnt[x]    how many choices are node x (x a local id: trace nodes only);
//   cover[v]  how many choices of other traces lie in the tail of trace v's
//             choice; choice v is kept exactly when it is 0;
//   the kept set's digest (two XORs of keyed per-node hashes; see below)
//   and the score of the kept choices.
// Moving one choice touches only the traces that hold its old or new node
// (a trace never holds a node twice), so a step costs far less than testing
// every tail again.
class Odometer {
public:
    Odometer(const Graph& g, const TraceList& tl, MemoryBudget& budget) : tl_(tl), k_(tl.size()) {
        // Occurrences name their trace in 32 bits, and the per-node counts
        // count traces in 32 bits.
        if (k_ > UINT32_MAX) throw TooLarge("cross sections: 2**32 or more traces");
        // The arrays below: per trace entry its local id, its occurrence and
        // at most one local node's hashes, count and occurrence start; per
        // trace its choice, cover and kept flag; per graph node a local id.
        budget.add(tl.flat.size(),
                   2 * sizeof(uint32_t) + sizeof(Occ) + 2 * sizeof(uint64_t) + sizeof(size_t));
        budget.add(k_, 2 * sizeof(size_t) + 1);
        budget.add(g.size(), sizeof(Link));
        std::vector<Link> local(g.size(), kNoLink);
        loc_.resize(tl.flat.size());
        for (size_t i = 0; i < tl.flat.size(); ++i) {
            const Link x = tl.flat[i];
            if (local[x] == kNoLink) {
                local[x] = static_cast<Link>(node_.size());
                node_.push_back(x);
            }
            loc_[i] = local[x];
        }
        const size_t m = node_.size();
        h1_.resize(m);
        h2_.resize(m);
        for (size_t j = 0; j < m; ++j) {
            h1_[j] = KeyedHasher::hash_u64(node_[j], 0);
            h2_[j] = KeyedHasher::hash_u64(node_[j], 1);
        }
        // occurrences of each local node: (trace, position), grouped by node
        occ_start_.assign(m + 1, 0);
        for (uint32_t j : loc_) ++occ_start_[j + 1];
        for (size_t j = 0; j < m; ++j) occ_start_[j + 1] += occ_start_[j];
        occ_.resize(loc_.size());
        std::vector<size_t> fill(occ_start_.begin(), occ_start_.end() - 1);
        for (size_t v = 0; v < k_; ++v)
            for (size_t p = 0; p < tl.length(v); ++p)
                occ_[fill[loc_[tl.start(v) + p]]++] = Occ{static_cast<uint32_t>(v), static_cast<uint32_t>(p)};

        cnt_.assign(m, 0);
        w_.assign(k_, 0);
        cover_.assign(k_, 0);
        kept_.assign(k_, false);
        for (size_t v = 0; v < k_; ++v) ++cnt_[loc_[tl.start(v)]];
        for (size_t v = 0; v < k_; ++v) {
            cover_[v] = tail_count(v) - 1;
            if (cover_[v] == 0) keep(v);
        }
    }

    uint64_t digest_a() const { return da_; }
    uint64_t digest_b() const { return db_; }
    uint64_t score() const { return score_; }

    // The kept choices in trace order.
    void kept_nodes(std::vector<NodeId>& out) const {
        for (size_t v = 0; v < k_; ++v)
            if (kept_[v]) out.push_back(node_[loc_[tl_.start(v) + w_[v]]]);
    }

    // Steps to the next combination; false after the last one.
    bool advance() {
        for (size_t v = k_; v-- > 0;) {
            const size_t next = w_[v] + 1 == tl_.length(v) ? 0 : w_[v] + 1;
            move(v, next);
            if (next != 0) return true;
        }
        return false;
    }

private:
    // A trace never holds a node twice, so a position is below the node count.
    struct Occ {
        uint32_t v, p;
    };

    size_t tail_count(size_t v) const {
        size_t c = 0;
        for (size_t i = tl_.start(v) + w_[v]; i < tl_.ends[v]; ++i) c += cnt_[loc_[i]];
        return c;
    }
    uint32_t chosen(size_t v) const { return loc_[tl_.start(v) + w_[v]]; }
    void toggle(size_t v) {
        const uint32_t x = chosen(v);
        da_ ^= h1_[x];
        db_ ^= h2_[x];
    }
    void keep(size_t v) {
        kept_[v] = true;
        toggle(v);
        score_ += tl_.length(v) - 1 - w_[v];
    }
    void drop(size_t v) {
        kept_[v] = false;
        toggle(v);
        score_ -= tl_.length(v) - 1 - w_[v];
    }

    // Trace u's choice moves to `next`: one step up, or back to position 0.
    void move(size_t u, size_t next) {
        if (kept_[u]) drop(u);
        const uint32_t a = chosen(u);
        // One step up, the tail loses a (which the trace holds only there)
        // and gains u's new choice; the other traces' choices in it stay. Back
        // at the start, count again: once per round of u's choices.
        const size_t up_cover = cover_[u] + 1 - cnt_[a];
        --cnt_[a];
        for (size_t i = occ_start_[a]; i < occ_start_[a + 1]; ++i) {
            const Occ o = occ_[i];
            if (o.v != u && o.p >= w_[o.v] && --cover_[o.v] == 0) keep(o.v);
        }
        w_[u] = next;
        const uint32_t b = chosen(u);
        ++cnt_[b];
        for (size_t i = occ_start_[b]; i < occ_start_[b + 1]; ++i) {
            const Occ o = occ_[i];
            if (o.v != u && o.p >= w_[o.v] && cover_[o.v]++ == 0) drop(o.v);
        }
        cover_[u] = next == 0 ? tail_count(u) - 1 : up_cover;
        if (cover_[u] == 0) keep(u);
    }

    const TraceList& tl_;
    const size_t k_;
    std::vector<uint32_t> loc_;  // local node id of each trace entry
    std::vector<NodeId> node_;   // node id of each local id
    std::vector<uint64_t> h1_, h2_;
    std::vector<size_t> occ_start_;
    std::vector<Occ> occ_;
    std::vector<uint32_t> cnt_;
    std::vector<size_t> w_;  // chosen position on each trace
    std::vector<size_t> cover_;
    std::vector<bool> kept_;
    uint64_t da_ = 0, db_ = 0, score_ = 0;
};

}  // namespace

// The full node set of a combination is its kept set plus the leaves that
// set leaves open, so a kept set met before gives a node set whose
// fingerprint is already in the seen set: only the first combination with
// each kept set needs the leaf walk and the fingerprint. That combination is
// also the first to produce its node set, so the order, the node lists and
// the scores are those of the plain enumeration.
//
// Kept sets are told apart by a 128-bit digest. Its per-node hashes are keyed
// with a per-process random key: an XOR of unkeyed hashes is linear, and a
// graph of a few hundred nodes could be built with two kept sets of equal
// digest, dropping a result. Keyed, a mix-up is left to chance (probability
// about n^2 / 2^129 for n sets). Storing the kept sets to compare them on a
// hit would cost memory for every distinct kept set, and there can be far
// more of those than results.
//
// The memory budget holds the trace list, the odometer, both seen sets and
// the result (with the Python objects it becomes).
std::vector<CrossSection> cross_sections(const Graph& g, const std::vector<NodeId>& targets) {
    TraceFlags up;
    up.me_too = true;
    up.op_nodes = false;
    up.val_nodes = true;
    up.above = true;
    up.below = false;
    MemoryBudget budget("cross sections result");
    TraceList tl;
    for (NodeId t : targets) traces_rec(g, t, up, tl, budget, kTraceListCost);

    std::vector<CrossSection> result;
    for (size_t v = 0; v < tl.size(); ++v)
        if (tl.length(v) == 0) return result;

    // Per result: the record, a tuple, a list and the score; per node a
    // pointer and an int.
    constexpr uint64_t per_section = sizeof(CrossSection) + 56 + kPyListBytes + 32;
    constexpr uint64_t per_node = sizeof(NodeId) + kPyIntBytes;
    Odometer odo(g, tl, budget);
    std::unordered_set<uint64_t> seen;
    std::unordered_set<Digest128, Digest128Hash> kept_seen;
    OpenLeaves open(g);
    std::vector<NodeId> nodes;
    InterruptPoll poll;
    bool first = true;
    Digest128 last{};
    do {
        poll.tick();
        const Digest128 d{odo.digest_a(), odo.digest_b()};
        // Consecutive combinations often keep the same set: skip the look-up.
        if (!first && d == last) continue;
        first = false;
        last = d;
        budget.check(kSetEntryBytes);
        if (!kept_seen.insert(d).second) continue;
        budget.add(kSetEntryBytes);
        nodes.clear();
        odo.kept_nodes(nodes);
        open.append(nodes);
        uint64_t fp = 0;
        for (NodeId x : nodes) fp ^= SipHasher13::hash_u64(x);
        budget.check(budget.sum(kSetEntryBytes + per_section, budget.bytes(nodes.size(), per_node)));
        if (seen.insert(fp).second) {
            budget.add(kSetEntryBytes + per_section + nodes.size() * per_node);
            result.push_back(CrossSection{nodes, odo.score()});
        }
    } while (odo.advance());
    return result;
}

}  // namespace kestrane
