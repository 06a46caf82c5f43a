#include "glue.hpp"

#include <utility>

#include "budget.hpp"
#include "fingerprint.hpp"
#include "flat_graph.hpp"
#include "flat_set.hpp"
#include "keyed_hash.hpp"

namespace kestrane {

namespace {

// Signal polls: one unit per pool entry tried and per node or link a branch
// copies.
constexpr int64_t kPollUnits = 4096;

// What the gluing compares of a node: a value node's type id, tagged so that
// no operator's key equals it; operators (key 0) match nothing.
constexpr uint64_t kValueTag = uint64_t(1) << 32;
uint64_t type_key(const Payload& p) { return p.is_value() ? kValueTag | p.type_id() : 0; }
bool same_type(uint64_t a, uint64_t b) { return a == b && a != 0; }

// A leaf or candidate of one call: its node in the call's graph (kNoLink when
// the clone that call's branches take would not hold it) and its type key.
struct Entry {
    Link node;
    uint64_t type;
};

// One call of the recursion: its graph (the outermost call reads the caller's
// graph instead), its leaf and candidate lists, and where its gluing loop
// stands: the index of the current first leaf and of the next pool entry to
// try for it (the pool is the leaves after it, then the candidates).
//
// A branch's graph is kept as the compact clone of its working graph
// (the parent's clone with the merge applied): the only thing a call does
// with its graph besides hashing and emitting its clone is to clone it for
// its own branches, and the clone of a clone is the same clone. Its leaves
// and candidates are kept as their images in that clone, so the "missing in
// corr" failures are found where the call would have found them.
struct Frame {
    FlatGraph graph;
    std::vector<Entry> leaves;
    std::vector<Entry> candidates;
    size_t first = 0;
    size_t pool_pos = 0;
    bool matched = false;
    uint64_t held = 0;  // bytes of this slot held in the memory budget
};

// Bytes a result graph holds: its nodes, the link lists too long to sit
// inline, and its Python object.
uint64_t result_bytes(const Graph& g) {
    uint64_t bytes = sizeof(Graph) + g.nodes.size() * sizeof(Node) + result_object_costs.graph;
    for (const Node& n : g.nodes)
        for (const IdList* l : {&n.parents, &n.options, &n.children})
            if (l->size() > IdList::kInline) bytes += l->size() * sizeof(Link);
    return bytes;
}

// The memory budget holds the results, the frames (their graphs and lists,
// kept for reuse by the next call at the same depth), the working arrays of
// the clones and both sets.
struct GlueState {
    GlueState(const Graph& g, const std::vector<NodeId>& l, const std::vector<NodeId>& c,
              std::optional<uint64_t> m)
        : input(g), outer_leaves(l), outer_candidates(c), max_leaves(m) {}

    const Graph& input;
    const std::vector<NodeId>& outer_leaves;
    const std::vector<NodeId>& outer_candidates;
    std::optional<uint64_t> max_leaves;
    MemoryBudget budget{"glue_leaves result"};
    FlatSet<uint64_t> seen{budget};     // connection hashes already emitted
    FlatSet<Digest128> states{budget};  // branches entered (see branch)
    std::vector<Graph> results;
    FlatGraph outer_graph;   // the caller's graph's clone, once needed
    std::vector<Link> corr;  // the caller's node ids -> outer_graph
    bool outer_built = false;
    FlatScratch scratch;
    uint64_t scratch_held = 0;
    std::vector<Frame> frames;  // frames[0 .. depth) are live
    size_t depth = 0;

    bool within(size_t nleaves) const { return !max_leaves || nleaves <= *max_leaves; }

    // The clone the outermost call's branches take (and its emission uses).
    const FlatGraph& outer() {
        if (!outer_built) {
            flat_clone(input, outer_graph, corr);
            budget.add(outer_graph.bytes() + corr.capacity() * sizeof(Link));
            outer_built = true;
        }
        return outer_graph;
    }
    void emit(Graph&& g) {
        budget.add(result_bytes(g));
        results.push_back(std::move(g));
    }
    // Whether `hash` is new (it is in the seen set afterwards).
    bool first_sight(uint64_t hash) { return seen.insert(hash); }
    // The next frame slot, made ready for a call; earlier frames may move.
    Frame& next_slot() {
        if (depth == frames.size()) frames.emplace_back();
        Frame& f = frames[depth];
        f.first = f.pool_pos = 0;
        f.matched = false;
        return f;
    }
    // Makes the slot filled by next_slot() live, holding what it has grown to.
    void push() {
        Frame& f = frames[depth++];
        const uint64_t bytes =
            sizeof(Frame) + f.graph.bytes() + (f.leaves.capacity() + f.candidates.capacity()) * sizeof(Entry);
        if (bytes > f.held) {
            budget.add(bytes - f.held);
            f.held = bytes;
        }
    }
    // The working arrays only grow: what they have grown to is held.
    void hold_scratch() {
        const uint64_t bytes = scratch.bytes();
        if (bytes > scratch_held) {
            budget.add(bytes - scratch_held);
            scratch_held = bytes;
        }
    }
    void check_outer(NodeId id) const {
        if (id >= input.nodes.size()) index_panic(input.nodes.size(), id);
    }
};

// The recursion's state on entering a branch: its graph (kinds, type ids,
// every link; compact, so the numbering is the clone's), then its leaf and
// candidate lists as nodes of that graph, an entry the graph does not hold
// (a leaf glued away) written as its type key, the only thing the gluing
// reads of it.
//
// Nothing else decides what a branch does: the gluing compares type keys
// only, clones and merges follow the links, the emission hashes the shape,
// and the limit reads the length of the leaf list. So two branches with
// equal states meet the same shapes in the same order. (Within one call the
// type keys are even implied by the lengths of the lists: a leaf list is
// always a tail of the caller's, the candidates always the caller's, so the
// i-th entry of a list of a given length is always the same input node.)
//
// Only a 128-bit digest of the state is kept, so the memory per branch stays
// constant however large the graph. The stream is keyed with a per-process
// random key, so no graph can be built to make two different states share a
// digest; by chance they do with probability about n^2 / 2^129 for n
// branches. Comparing the states on a hit instead would keep a whole graph
// per branch.
Digest128 state_digest(const Frame& f, const Graph& input) {
    KeyedHasher h;
    const FlatGraph& g = f.graph;
    h.write_u64(g.size());
    for (const FlatNode& n : g.nodes) {
        h.write_u64(type_key(input.nodes[n.origin].payload));
        h.write_u64(uint64_t(n.parent) << 32 | n.np);
        h.write_u64(uint64_t(n.no) << 32 | n.nc);
    }
    // The lists lie in node order without gaps (the graph is compact), so
    // the lengths above frame them.
    const size_t m = g.links.size();
    for (size_t i = 0; i + 1 < m; i += 2) h.write_u64(uint64_t(g.links[i]) << 32 | g.links[i + 1]);
    if (m % 2) h.write_u64(g.links[m - 1]);
    for (const std::vector<Entry>* list : {&f.leaves, &f.candidates}) {
        h.write_u64(list->size());
        for (const Entry& e : *list) {
            h.write_u64(e.node);
            if (e.node == kNoLink) h.write_u64(e.type);
        }
    }
    return h.finish128();
}

// Glues the current first leaf of frame `pi` onto `partner` in a new clone and
// enters that branch with the remaining leaves and the candidates.
//
// A branch whose state equals one entered before is not entered again. An
// equal state never lies on the current stack (every branch has fewer leaves
// than its caller), so the earlier one has run to completion, and every shape
// the new one would meet is already in the seen set: it would emit nothing
// and, since the earlier one did not fail, would not fail either. This
// changes no result and keeps gluing many same-type leaves from repeating
// the same sub-enumeration over and over.
void branch(GlueState& st, size_t pi, Entry partner, InterruptPoll& poll) {
    const FlatGraph* g = pi == 0 ? &st.outer() : nullptr;
    Frame& child = st.next_slot();  // before `parent`: the slots may move
    const Frame& parent = st.frames[pi];
    if (!g) g = &parent.graph;
    const Entry first = parent.leaves[parent.first];
    if (first.node == kNoLink) panic("first missing in corr map");
    if (partner.node == kNoLink) panic("candidate missing in corr map");
    for (size_t i = parent.first + 1; i < parent.leaves.size(); ++i)
        if (parent.leaves[i].node == kNoLink) panic("rest id missing in corr");
    for (const Entry& e : parent.candidates)
        if (e.node == kNoLink) panic("candidate id missing in corr");
    poll.tick(static_cast<int64_t>(g->size() + g->links.size()));

    flat_merged_clone(*g, partner.node, first.node, child.graph, st.scratch);
    st.hold_scratch();
    const std::vector<Link>& pos = st.scratch.pos;
    child.leaves.clear();
    for (size_t i = parent.first + 1; i < parent.leaves.size(); ++i)
        child.leaves.push_back(Entry{pos[parent.leaves[i].node], parent.leaves[i].type});
    child.candidates.clear();
    for (const Entry& e : parent.candidates) child.candidates.push_back(Entry{pos[e.node], e.type});

    if (!st.states.insert(state_digest(child, st.input))) return;
    if (st.within(child.leaves.size()) && st.first_sight(flat_connection_hash(child.graph, st.scratch)))
        st.emit(to_graph(child.graph, st.input));
    st.push();
}

// The outermost call: the emission step (its shape, when the leaf list is
// within the limit), then its frame. With `trees_only` it only emits.
void enter_outermost(GlueState& st, bool trees_only) {
    const Graph& g = st.input;
    const bool within = st.within(st.outer_leaves.size());
    if (trees_only) {
        if (within) st.emit(to_graph(st.outer(), g));
        return;
    }
    if (within) {
        // Without a valid root the root walk fails first, as it should.
        const uint64_t h =
            g.has_valid_root() ? flat_connection_hash(st.outer(), st.scratch) : connection_hash(g);
        if (st.first_sight(h)) st.emit(to_graph(st.outer(), g));
    }
    Frame& f = st.next_slot();
    const bool cloned = g.has_valid_root();
    if (cloned) st.outer();
    for (auto [ids, out] : {std::pair{&st.outer_leaves, &f.leaves}, {&st.outer_candidates, &f.candidates}}) {
        out->clear();
        for (NodeId x : *ids) {
            const bool in = x < g.nodes.size();
            out->push_back(Entry{in && cloned ? st.corr[x] : kNoLink, in ? type_key(g.nodes[x].payload) : 0});
        }
    }
    st.push();
}

// The recursion on an explicit stack. The top frame tries its pool entries for
// its current first leaf in order; a match enters the branch (pushing its
// frame, so the branch and everything below it run before the next entry is
// tried), which gives the pre-order of the recursive formulation. When the
// pool is exhausted the leaf is dropped; the loop ends after the first leaf
// that matched anything, or when no leaf is left. Only the outermost call's
// ids can be out of range: every deeper list holds nodes of a clone.
void glue_leaves_rec(GlueState& st) {
    InterruptPoll poll(kPollUnits);
    while (st.depth > 0) {
        poll.tick();
        const size_t fi = st.depth - 1;
        Frame& f = st.frames[fi];
        const bool outer = fi == 0;
        if (f.first >= f.leaves.size()) {
            --st.depth;
            continue;
        }
        const size_t nrest = f.leaves.size() - f.first - 1;
        const size_t npool = nrest + f.candidates.size();
        if (outer && f.pool_pos == 0 && npool > 0) st.check_outer(st.outer_leaves[f.first]);
        const uint64_t type = f.leaves[f.first].type;
        bool entered = false;
        while (f.pool_pos < npool) {
            const size_t i = f.pool_pos++;
            poll.tick();
            if (outer)
                st.check_outer(i < nrest ? st.outer_leaves[f.first + 1 + i] : st.outer_candidates[i - nrest]);
            const Entry c = i < nrest ? f.leaves[f.first + 1 + i] : f.candidates[i - nrest];
            if (!same_type(type, c.type)) continue;
            f.matched = true;
            branch(st, fi, c, poll);  // may move the frames: `f` is not used afterwards
            entered = true;
            break;
        }
        if (entered) continue;
        if (f.matched) {
            --st.depth;
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
    GlueState st(g, leaves, candidates, max_leaves);
    enter_outermost(st, trees_only);
    glue_leaves_rec(st);
    return std::move(st.results);
}

}  // namespace kestrane
