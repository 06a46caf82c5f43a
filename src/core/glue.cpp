#include "glue.hpp"

#include <unordered_set>
#include <utility>

#include "budget.hpp"
#include "clone.hpp"
#include "fingerprint.hpp"
#include "keyed_hash.hpp"

namespace kestrane {

namespace {

// One call of the recursion: the graph it works on (its own clone, or the
// caller's graph for the outermost call), its leaf and candidate lists, and
// where its gluing loop stands: the index of the current first leaf and of the
// next pool entry to try for it (the pool is the leaves after it, then the
// candidates).
struct Frame {
    Graph own;
    bool owns;
    std::vector<NodeId> leaves;
    std::vector<NodeId> candidates;
    size_t first = 0;
    size_t pool_pos = 0;
    bool matched = false;
    uint64_t held = 0;  // bytes held in the memory budget for this frame
};

// Bytes a graph holds: its nodes and the link lists too long to sit inline.
uint64_t graph_bytes(const Graph& g) {
    uint64_t bytes = sizeof(Graph) + g.nodes.size() * sizeof(Node);
    for (const Node& n : g.nodes)
        for (const IdList* l : {&n.parents, &n.options, &n.children})
            if (l->size() > 2) bytes += l->size() * sizeof(Link);
    return bytes;
}

// Bytes a result graph holds, here and as its Python object.
uint64_t result_bytes(const Graph& g) { return graph_bytes(g) + 64; }

// The memory budget holds the results, the frames on the stack and both sets.
struct GlueState {
    const Graph& input;
    std::optional<uint64_t> max_leaves;
    MemoryBudget budget;
    std::unordered_set<uint64_t> seen;                    // connection hashes already emitted
    std::unordered_set<Digest128, Digest128Hash> states;  // branches entered (see branch)
    std::vector<Graph> results;
    std::vector<Frame> frames;

    const Graph& graph_of(const Frame& f) const { return f.owns ? f.own : input; }
    bool within(size_t nleaves) const { return !max_leaves || nleaves <= *max_leaves; }

    void emit(Graph&& g) {
        budget.add(result_bytes(g));
        results.push_back(std::move(g));
    }
    // Whether `hash` is new; a new one is held in the budget.
    bool first_sight(uint64_t hash) {
        budget.check(kSetEntryBytes);
        if (!seen.insert(hash).second) return false;
        budget.add(kSetEntryBytes);
        return true;
    }
    void push(Frame&& f) {
        f.held = sizeof(Frame) + (f.owns ? graph_bytes(f.own) : 0) +
                 (f.leaves.size() + f.candidates.size()) * sizeof(NodeId);
        budget.add(f.held);
        frames.push_back(std::move(f));
    }
    void pop() {
        budget.release(frames.back().held);
        frames.pop_back();
    }
};

// The images of `ids` in a clone, or the internal failure `missing`.
std::vector<NodeId> translate(const std::vector<NodeId>& ids, size_t from, const Corr& corr,
                              const char* missing) {
    std::vector<NodeId> out;
    out.reserve(ids.size() - from);
    for (size_t i = from; i < ids.size(); ++i) {
        const Link m = corr.find(ids[i]);
        if (m == kNoLink) panic(missing);
        out.push_back(m);
    }
    return out;
}

// Entering the outermost call: the emission step (its shape, when the leaf
// list is within the limit), then a frame for the gluing loop. With
// `trees_only` it only emits.
void enter_outermost(GlueState& st, Frame&& f, bool trees_only) {
    const Graph& g = st.graph_of(f);
    if (trees_only) {
        if (st.within(f.leaves.size())) st.emit(clone_subgraph(g).graph);
        return;
    }
    if (st.within(f.leaves.size()) && st.first_sight(connection_hash(g))) st.emit(clone_subgraph(g).graph);
    st.push(std::move(f));
}

// The recursion's state on entering a branch: the compact clone of its graph
// (kinds, payload variants and type ids, every link), then its leaf and
// candidate lists as ids in that clone. An entry that is not connected to the
// root (a leaf glued away earlier) is written as its payload variant and type
// id, the only things the gluing reads of it.
//
// Nothing else decides what a branch does: the gluing compares payload
// variants and type ids only, clones and merges follow the links, the
// emission hashes the shape, and the limit reads the length of the leaf list.
// So two branches with equal states meet the same shapes in the same order.
//
// Only a 128-bit digest of the state is kept (two SipHash streams told apart
// by their first word), so the memory per branch stays constant however large
// the graph. The streams are keyed with a per-process random key, so no graph
// can be built to make two different states share a digest; by chance they
// do with probability about n^2 / 2^129 for n branches. Comparing the states
// on a hit instead would keep a whole graph per branch.
Digest128 state_digest(const CloneResult& canon, const Graph& g, const std::vector<NodeId>& leaves,
                       const std::vector<NodeId>& candidates) {
    KeyedHasher h1, h2;
    h1.write_u32(0);
    h2.write_u32(1);
    auto put = [&](uint32_t w) {
        h1.write_u32(w);
        h2.write_u32(w);
    };
    auto put_list = [&](const IdList& l) {
        put(static_cast<uint32_t>(l.size()));
        for (Link x : l) put(x);
    };
    auto put_payload = [&](const Payload& p) {
        put(static_cast<uint32_t>(p.tag));
        put(p.is_value() ? p.type_id() : 0);
    };
    auto put_ids = [&](const std::vector<NodeId>& ids) {
        // A caller's list may be longer than 32 bits can count.
        h1.write_u64(ids.size());
        h2.write_u64(ids.size());
        for (NodeId x : ids) {
            const Link m = canon.corr.find(x);
            put(m);
            if (m == kNoLink) put_payload(g.nodes[x].payload);
        }
    };
    put(static_cast<uint32_t>(canon.graph.nodes.size()));
    for (const Node& node : canon.graph.nodes) {
        put(static_cast<uint32_t>(node.kind()));
        put_payload(node.payload);
        put(node.parent_link);
        put_list(node.parents);
        put_list(node.options);
        put_list(node.children);
    }
    put_ids(leaves);
    put_ids(candidates);
    return Digest128{h1.finish(), h2.finish()};
}

// Glues leaves[f.first] onto `partner` in a new clone and enters that branch
// with the remaining leaves and the candidates translated into the clone.
//
// A branch whose state equals one entered before is not entered again. An
// equal state never lies on the current stack (every branch has fewer leaves
// than its caller), so the earlier one has run to completion, and every shape
// the new one would meet is already in the seen set: it would emit nothing
// and, since the earlier one did not fail, would not fail either. This
// changes no result and keeps gluing many same-type leaves from repeating
// the same sub-enumeration over and over.
//
// The branch's own emission uses the compact clone that the key needs: it is
// the clone that would be emitted, and it has the connection hash of the
// working graph (renumbering keeps the connection list).
void branch(GlueState& st, const Frame& f, NodeId partner) {
    const NodeId first = f.leaves[f.first];
    CloneResult cr = clone_subgraph(st.graph_of(f));
    const Link first_copy = cr.corr.find(first);
    if (first_copy == kNoLink) panic("first missing in corr map");
    const Link partner_copy = cr.corr.find(partner);
    if (partner_copy == kNoLink) panic("candidate missing in corr map");
    merge_value_nodes(cr.graph, partner_copy, first_copy, true, true);
    Frame child;
    child.leaves = translate(f.leaves, f.first + 1, cr.corr, "rest id missing in corr");
    child.candidates = translate(f.candidates, 0, cr.corr, "candidate id missing in corr");
    child.own = std::move(cr.graph);
    child.owns = true;

    CloneResult canon = clone_subgraph(child.own);
    st.budget.check(kSetEntryBytes);
    if (!st.states.insert(state_digest(canon, child.own, child.leaves, child.candidates)).second) return;
    st.budget.add(kSetEntryBytes);
    if (st.within(child.leaves.size()) && st.first_sight(connection_hash(canon.graph)))
        st.emit(std::move(canon.graph));
    st.push(std::move(child));
}

bool same_type(const Node& a, const Node& b) {
    return a.payload.is_value() && b.payload.is_value() && a.payload.type_id() == b.payload.type_id();
}

// The recursion on an explicit stack. The top frame tries its pool entries for
// its current first leaf in order; a match enters the branch (pushing its
// frame, so the branch and everything below it run before the next entry is
// tried), which gives the pre-order of the recursive formulation. When the
// pool is exhausted the leaf is dropped; the loop ends after the first leaf
// that matched anything, or when no leaf is left.
void glue_leaves_rec(GlueState& st) {
    InterruptPoll poll(64);  // every step may clone a whole graph
    while (!st.frames.empty()) {
        poll.tick();
        Frame& f = st.frames.back();
        if (f.first >= f.leaves.size()) {
            st.pop();
            continue;
        }
        const Graph& g = st.graph_of(f);
        const size_t n = g.nodes.size();
        const size_t nrest = f.leaves.size() - f.first - 1;
        const size_t npool = nrest + f.candidates.size();
        const NodeId first = f.leaves[f.first];
        if (f.pool_pos == 0 && npool > 0 && first >= n) index_panic(n, first);

        bool entered = false;
        while (f.pool_pos < npool) {
            const size_t i = f.pool_pos++;
            const NodeId c = i < nrest ? f.leaves[f.first + 1 + i] : f.candidates[i - nrest];
            if (c >= n) index_panic(n, c);
            if (!same_type(g.nodes[first], g.nodes[c])) continue;
            f.matched = true;
            branch(st, f, c);  // may push a frame: `f` is not used afterwards
            entered = true;
            break;
        }
        if (entered) continue;

        if (f.matched) {
            st.pop();
            continue;
        }
        ++f.first;
        f.pool_pos = 0;
    }
}

}  // namespace

std::vector<Graph> glue_leaves(const Graph& g, const std::vector<NodeId>& leaves,
                               const std::vector<NodeId>& candidates, bool trees_only,
                               std::optional<uint64_t> max_leaves) {
    GlueState st{g, max_leaves, MemoryBudget("glue_leaves result"), {}, {}, {}, {}};
    Frame top;
    top.owns = false;
    top.leaves = leaves;
    top.candidates = candidates;
    enter_outermost(st, std::move(top), trees_only);
    glue_leaves_rec(st);
    return std::move(st.results);
}

}  // namespace kestrane
