#include "traces.hpp"

#include <algorithm>

namespace kestrane {

namespace {

// Membership in one link list, asked once per neighbour entry. Short lists are
// scanned; a long one is sorted once into a scratch copy so that a node with
// many links does not cost the product of its list lengths.
class Members {
public:
    void reset(const IdList& list) {
        list_ = &list;
        sorted_ready_ = false;
    }
    bool contains(NodeId id) {
        if (list_->size() <= kScanLimit) return list_->contains(id);
        if (!sorted_ready_) {
            sorted_.assign(list_->begin(), list_->end());
            std::sort(sorted_.begin(), sorted_.end());
            sorted_ready_ = true;
        }
        return std::binary_search(sorted_.begin(), sorted_.end(), id);
    }

private:
    static constexpr size_t kScanLimit = 16;
    const IdList* list_ = nullptr;
    std::vector<Link> sorted_;
    bool sorted_ready_ = false;
};

// Appends the eligible next nodes of `x`: the entries of its neighbour list
// (options, parents, parent if set, children; stored order, duplicates kept)
// that pass the direction test. An entry is judged by membership in the
// links of the permitted directions, not by the list it came from, so on a
// graph with wrong-kind links an entry of another list can pass too.
void append_eligible(const Node& x, const TraceFlags& f, std::vector<Link>& out, Members& a,
                     Members& b) {
    if (!f.above && !f.below) return;
    if (x.is_op()) {
        const bool up = f.above && x.has_parent();
        const NodeId p = x.parent();
        a.reset(x.children);
        auto passes = [&](NodeId m) { return (up && m == p) || (f.below && a.contains(m)); };
        for (Link m : x.options)
            if (passes(m)) out.push_back(m);
        for (Link m : x.parents)
            if (passes(m)) out.push_back(m);
        if (x.has_parent() && passes(p)) out.push_back(static_cast<Link>(p));
        for (Link m : x.children)
            if (f.below || (up && m == p)) out.push_back(m);
    } else {
        a.reset(x.parents);
        b.reset(x.options);
        auto in_parents = [&](NodeId m) { return f.above && a.contains(m); };
        auto in_options = [&](NodeId m) { return f.below && b.contains(m); };
        for (Link m : x.options)
            if (f.below || in_parents(m)) out.push_back(m);
        for (Link m : x.parents)
            if (f.above || in_options(m)) out.push_back(m);
        if (x.has_parent()) {
            const NodeId p = x.parent();
            if (in_options(p) || in_parents(p)) out.push_back(static_cast<Link>(p));
        }
        for (Link m : x.children)
            if (in_options(m) || in_parents(m)) out.push_back(m);
    }
}

}  // namespace

TraceList traces(const Graph& g, NodeId start, const TraceFlags& flags) {
    TraceList out;
    traces_rec(g, start, flags, out);
    return out;
}

// The recursive enumeration "enter x: record it, mark it on the path, then
// enter each eligible next node in order, or end a trace if there is none;
// leave x" run on an explicit stack. Each frame owns the range of `pending`
// from its `begin` to the next frame's `begin` (to the end for the top frame),
// holding its eligible next nodes, and `next` is the one to enter next; so the
// nodes are entered, and the traces end, exactly in the recursive order.
void traces_rec(const Graph& g, NodeId start, const TraceFlags& flags, TraceList& out) {
    struct Frame {
        Link x;
        bool recorded;
        size_t begin;
        size_t next;
    };
    const size_t n = g.size();
    std::vector<bool> on_path(n, false);
    std::vector<Link> path;
    std::vector<Link> pending;
    std::vector<Frame> frames;
    Members in_a, in_b;
    InterruptPoll poll;

    auto enter = [&](NodeId x) {
        // A node on the current path ends this branch without a trace. An id
        // out of range is never on the path; g.at reports it.
        if (x < n && on_path[x]) return;
        const Node& node = g.at(x);
        const bool recorded = flags.me_too && (node.is_op() ? flags.op_nodes : flags.val_nodes);
        if (recorded) path.push_back(static_cast<Link>(x));
        on_path[x] = true;
        const size_t begin = pending.size();
        append_eligible(node, flags, pending, in_a, in_b);
        if (pending.size() == begin) {
            out.flat.insert(out.flat.end(), path.begin(), path.end());
            out.ends.push_back(out.flat.size());
        }
        frames.push_back(Frame{static_cast<Link>(x), recorded, begin, begin});
    };

    enter(start);
    while (!frames.empty()) {
        poll.tick();
        Frame& top = frames.back();
        if (top.next < pending.size()) {
            const NodeId y = pending[top.next++];
            enter(y);  // may push a frame: `top` is not used afterwards
            continue;
        }
        on_path[top.x] = false;
        if (top.recorded && !path.empty()) path.pop_back();
        pending.resize(top.begin);
        frames.pop_back();
    }
}

namespace {

enum : uint8_t { kTarget = 1, kSkip = 2, kOnPath = 4, kOnClimb = 8 };

// The outcome of climbing from one node to the next value node to explore.
enum class Climb { True, False, Enter };

}  // namespace

// The recursive test "is_below_rec(x)" run on an explicit stack of value
// nodes, which is the value path itself: each frame holds a value node and the
// index of its next entry of `parents` to try, in stored order.
//
// The climb from an operator through `parent` links is a loop. Wrong-kind
// links can close those links into a cycle of operators; an operator met
// twice on one climb ends that branch with false, as a value node met twice
// on the value path does, instead of looping for ever.
static bool is_below_rec(const Graph& g, NodeId start, std::vector<uint8_t>& mark,
                         bool include_self, const std::vector<NodeId>& skip) {
    const size_t n = g.size();
    const bool has_skip = !skip.empty();
    std::vector<Link> climb;  // operators met on the current climb
    std::vector<std::pair<Link, size_t>> frames;
    InterruptPoll poll;

    // Climbs from x to the value node to explore next, or to an answer.
    auto step = [&](NodeId x, Link& entered) -> Climb {
        for (Link o : climb) mark[o] &= ~kOnClimb;
        climb.clear();
        for (;;) {
            poll.tick();
            if (has_skip) {
                // Only the start can be out of range (links are checked when
                // made); the skip test comes before the bounds check.
                const bool skipped = x < n ? (mark[x] & kSkip) != 0
                                           : std::find(skip.begin(), skip.end(), x) != skip.end();
                if (skipped) return Climb::False;
            }
            const Node& node = g.at(x);
            if (node.is_op()) {
                if (mark[x] & kOnClimb) return Climb::False;
                if (mark[x] & kTarget) return Climb::True;
                if (!node.has_parent()) return Climb::False;
                mark[x] |= kOnClimb;
                climb.push_back(static_cast<Link>(x));
                x = node.parent();
                continue;
            }
            if (mark[x] & kOnPath) return Climb::False;
            if (include_self && (mark[x] & kTarget)) return Climb::True;
            entered = static_cast<Link>(x);
            return Climb::Enter;
        }
    };

    Link v = 0;
    switch (step(start, v)) {
        case Climb::True: return true;
        case Climb::False: return false;
        case Climb::Enter: break;
    }
    mark[v] |= kOnPath;
    frames.emplace_back(v, 0);
    while (!frames.empty()) {
        auto& [x, i] = frames.back();
        const IdList& parents = g.nodes[x].parents;
        if (i < parents.size()) {
            const NodeId p = parents[i++];
            switch (step(p, v)) {
                case Climb::True: return true;
                case Climb::False: break;
                case Climb::Enter:
                    mark[v] |= kOnPath;
                    frames.emplace_back(v, 0);
                    break;
            }
            continue;
        }
        mark[x] &= ~kOnPath;
        frames.pop_back();
    }
    return false;
}

bool is_below(const Graph& g, NodeId start, const std::vector<NodeId>& nodes, bool include_self,
              const std::vector<NodeId>& skip) {
    // Ids that name no node never match, so they are left out of the marks.
    const size_t n = g.size();
    std::vector<uint8_t> mark(n, 0);
    for (NodeId t : nodes)
        if (t < n) mark[t] |= kTarget;
    for (NodeId s : skip)
        if (s < n) mark[s] |= kSkip;
    return is_below_rec(g, start, mark, include_self, skip);
}

}  // namespace kestrane
