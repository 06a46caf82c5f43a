#include "region.hpp"

namespace kestrane {

namespace {

constexpr uint64_t kUnknown = ~uint64_t(0);

uint64_t saturating_add(uint64_t a, uint64_t b) {
    return b > Region::kTooMany - a ? Region::kTooMany : a + b;
}

}  // namespace

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
            // The next child not yet met is explored first; children met
            // before add their counts now.
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
                if (!done_[cl]) throw ValueError{"graph has a cycle through node " + std::to_string(c)};
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

void add_tree_roots(const Graph& g, NodeId n, std::vector<NodeId>& roots) {
    const Node& node = g.at(n);
    if (node.is_value() && node.options.empty()) return;
    roots.insert(roots.end(), node.children.begin(), node.children.end());
}

}  // namespace kestrane
