#include "cross_sections.hpp"

#include <limits>
#include <unordered_set>

#include "siphash.hpp"
#include "traces.hpp"

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
    void leaves(const std::vector<NodeId>& skip, std::vector<NodeId>& out) {
        if (!g_.has_valid_root()) return;
        next_epoch();
        for (NodeId s : skip) skipped_[s] = epoch_;
        const size_t n = g_.size();
        stack_.clear();
        stack_.push_back(static_cast<Link>(g_.root_id));
        while (!stack_.empty()) {
            const NodeId x = stack_.back();
            stack_.pop_back();
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

}  // namespace

// Combinations are enumerated in odometer order (the last trace's choice
// moves fastest), one at a time. `chosen[x]` counts the choices of the
// current combination that are node x, so the test "does another choice
// occur in the tail of choice v" costs one look-up per tail position: a
// trace never holds a node twice, so at the chosen position itself another
// choice of that node exists exactly when the count exceeds one.
std::vector<CrossSection> cross_sections_internal(const Graph& g,
                                                  const std::vector<NodeId>& targets) {
    TraceFlags up;
    up.me_too = true;
    up.op_nodes = false;
    up.val_nodes = true;
    up.above = true;
    up.below = false;
    TraceList tl;
    for (NodeId t : targets) traces_rec(g, t, up, tl);

    std::vector<CrossSection> result;
    const size_t k = tl.size();
    for (size_t v = 0; v < k; ++v)
        if (tl.length(v) == 0) return result;

    // Node hashes of every trace entry, computed once.
    std::vector<uint64_t> hflat(tl.flat.size());
    for (size_t i = 0; i < tl.flat.size(); ++i) hflat[i] = SipHasher13::hash_u64(tl.flat[i]);

    std::vector<size_t> w(k, 0);  // chosen position on each trace
    std::vector<uint32_t> chosen(g.size(), 0);
    for (size_t v = 0; v < k; ++v) ++chosen[tl.flat[tl.start(v)]];

    std::unordered_set<uint64_t> seen;
    LeafWalker walker(g);
    std::vector<NodeId> nodes;
    InterruptPoll poll;

    for (;;) {
        poll.tick();
        nodes.clear();
        uint64_t fp = 0;
        uint64_t score = 0;
        for (size_t v = 0; v < k; ++v) {
            const size_t s = tl.start(v);
            const size_t len = tl.length(v);
            const size_t pos = s + w[v];
            bool covered = chosen[tl.flat[pos]] > 1;
            for (size_t p = pos + 1; !covered && p < s + len; ++p) covered = chosen[tl.flat[p]] > 0;
            if (covered) continue;
            nodes.push_back(tl.flat[pos]);
            fp ^= hflat[pos];
            score += len - 1 - w[v];
        }
        const size_t kept = nodes.size();
        walker.leaves(nodes, nodes);
        for (size_t i = kept; i < nodes.size(); ++i) fp ^= SipHasher13::hash_u64(nodes[i]);
        if (seen.insert(fp).second) result.push_back(CrossSection{nodes, score});

        // Advance the odometer; done when the first trace's choice wraps.
        size_t v = k;
        for (;;) {
            if (v == 0) return result;
            --v;
            const size_t s = tl.start(v);
            --chosen[tl.flat[s + w[v]]];
            if (++w[v] == tl.length(v)) w[v] = 0;
            ++chosen[tl.flat[s + w[v]]];
            if (w[v] != 0) break;
        }
    }
}

}  // namespace kestrane
