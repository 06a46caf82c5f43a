#include "traces.hpp"

#include <algorithm>

#include "id_set.hpp"

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

// Membership in the set of nodes on the current path (or climb), which is
// also kept as a stack by the caller. Short paths are scanned, as most are;
// once the path is long, a dense flag array takes over, so that a path of a
// million nodes costs linear time while a query on a large graph that stays
// shallow never pays for an array as large as the graph.
class PathSet {
public:
    explicit PathSet(size_t num_nodes) : n_(num_nodes) {}

    bool contains(NodeId x, const std::vector<Link>& path) const {
        if (dense_.empty()) return std::find(path.begin(), path.end(), x) != path.end();
        return x < n_ && dense_[x];
    }
    // Call after pushing x onto `path`.
    void pushed(NodeId x, const std::vector<Link>& path) {
        if (!dense_.empty()) {
            dense_[x] = true;
        } else if (path.size() > kScanLimit) {
            dense_.assign(n_, false);
            for (Link y : path) dense_[y] = true;
        }
    }
    // Call after popping x from `path`.
    void popped(NodeId x) {
        if (!dense_.empty()) dense_[x] = false;
    }

private:
    static constexpr size_t kScanLimit = 32;
    size_t n_;
    std::vector<bool> dense_;
};

// The working arrays start with room for a path this long.
constexpr size_t kShortPath = 16;

// Appends the eligible next nodes of `x`: the entries of its neighbour list
// (options, parents, parent if set, children; stored order, duplicates kept)
// that pass the direction test. An entry is judged by membership in the
// links of the permitted directions, not by the list it came from, so on a
// graph with wrong-kind links an entry of another list can pass too.
void append_eligible(const Node& x, const TraceFlags& f, std::vector<Link>& out, Members& a, Members& b) {
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
    // Held here, then as a Python list of lists.
    const TraceCost cost{kTraceListCost.per_trace + result_object_costs.list,
                         kTraceListCost.per_node + result_object_costs.element};
    MemoryBudget budget("traces result");
    TraceList out;
    traces_rec(g, &start, 1, flags, out, budget, cost);
    return out;
}

// The recursive enumeration "enter x: record it, mark it on the path, then
// enter each eligible next node in order, or end a trace if there is none;
// leave x" run on an explicit stack. Each frame owns the range of `pending`
// from its `begin` to the next frame's `begin` (to the end for the top frame),
// holding its eligible next nodes, and `next` is the one to enter next; so the
// nodes are entered, and the traces end, exactly in the recursive order.
//
// Several starts share the working arrays, which every enumeration leaves
// empty: most paths are short, so their first growth is the whole cost.
void traces_rec(const Graph& g, const NodeId* starts, size_t nstarts, const TraceFlags& flags, TraceList& out,
                MemoryBudget& budget, TraceCost cost) {
    struct Frame {
        Link x;
        bool recorded;
        size_t begin;
        size_t next;
    };
    std::vector<Link> path;     // the recorded nodes of the current path
    std::vector<Link> entered;  // every node of the current path, recorded or not
    PathSet on_path(g.size());
    std::vector<Link> pending;
    std::vector<Frame> frames;
    Members in_a, in_b;
    InterruptPoll poll;
    for (auto* v : {&path, &entered, &pending}) v->reserve(kShortPath);
    frames.reserve(kShortPath);

    auto enter = [&](NodeId x) {
        // A node on the current path ends this branch without a trace. An id
        // out of range is never on the path; g.at reports it.
        if (on_path.contains(x, entered)) return;
        const Node& node = g.at(x);
        const bool recorded = flags.me_too && (node.is_op() ? flags.op_nodes : flags.val_nodes);
        if (recorded) path.push_back(static_cast<Link>(x));
        entered.push_back(static_cast<Link>(x));
        on_path.pushed(x, entered);
        const size_t begin = pending.size();
        append_eligible(node, flags, pending, in_a, in_b);
        if (pending.size() == begin) {
            // A path never repeats a node, so its length is below 2^32.
            budget.add(cost.per_trace + path.size() * cost.per_node);
            out.flat.insert(out.flat.end(), path.begin(), path.end());
            out.ends.push_back(out.flat.size());
        }
        frames.push_back(Frame{static_cast<Link>(x), recorded, begin, begin});
    };

    for (size_t i = 0; i < nstarts; ++i) {
        enter(starts[i]);
        while (!frames.empty()) {
            poll.tick();
            Frame& top = frames.back();
            if (top.next < pending.size()) {
                const NodeId y = pending[top.next++];
                enter(y);  // may push a frame: `top` is not used afterwards
                continue;
            }
            entered.pop_back();
            on_path.popped(top.x);
            if (top.recorded && !path.empty()) path.pop_back();
            pending.resize(top.begin);
            frames.pop_back();
        }
    }
}

namespace {

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
static bool is_below_rec(const Graph& g, NodeId start, const IdSet& targets, bool include_self,
                         const IdSet& skip) {
    std::vector<Link> value_path;
    std::vector<size_t> next_parent;  // per value path entry
    PathSet on_path(g.size());
    std::vector<Link> climb;  // operators met on the current climb
    PathSet on_climb(g.size());
    InterruptPoll poll;

    // Climbs from x to the value node to explore next, or to an answer.
    auto step = [&](NodeId x, Link& entered) -> Climb {
        while (!climb.empty()) {
            on_climb.popped(climb.back());
            climb.pop_back();
        }
        for (;;) {
            poll.tick();
            // The skip test comes before the bounds check: a skipped start
            // gives false even when it names no node.
            if (!skip.empty() && skip.contains(x)) return Climb::False;
            const Node& node = g.at(x);
            if (node.is_op()) {
                if (on_climb.contains(x, climb)) return Climb::False;
                if (targets.contains(x)) return Climb::True;
                if (!node.has_parent()) return Climb::False;
                climb.push_back(static_cast<Link>(x));
                on_climb.pushed(x, climb);
                x = node.parent();
                continue;
            }
            if (on_path.contains(x, value_path)) return Climb::False;
            if (include_self && targets.contains(x)) return Climb::True;
            entered = static_cast<Link>(x);
            return Climb::Enter;
        }
    };
    auto push = [&](Link v) {
        value_path.push_back(v);
        next_parent.push_back(0);
        on_path.pushed(v, value_path);
    };

    Link v = 0;
    switch (step(start, v)) {
        case Climb::True:
            return true;
        case Climb::False:
            return false;
        case Climb::Enter:
            push(v);
            break;
    }
    while (!value_path.empty()) {
        const IdList& parents = g.nodes[value_path.back()].parents;
        size_t& i = next_parent.back();
        if (i < parents.size()) {
            const NodeId p = parents[i++];
            switch (step(p, v)) {
                case Climb::True:
                    return true;
                case Climb::False:
                    break;
                case Climb::Enter:
                    push(v);
                    break;
            }
            continue;
        }
        on_path.popped(value_path.back());
        value_path.pop_back();
        next_parent.pop_back();
    }
    return false;
}

// Ids in `nodes` and `skip` that name no node simply never match.
bool is_below(const Graph& g, NodeId start, const std::vector<NodeId>& nodes, bool include_self,
              const std::vector<NodeId>& skip) {
    return is_below_rec(g, start, IdSet(nodes), include_self, IdSet(skip));
}

}  // namespace kestrane
