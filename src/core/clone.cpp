#include "clone.hpp"

#include <string>

#include "depth_first.hpp"
#include "walks.hpp"

namespace kestrane {

// ---- clone ----------------------------------------------------------------

// Replaces every entry of `list` by its copy's id.
static void translate_list(IdList& list, const Corr& corr) {
    for (size_t i = 0; i < list.size(); ++i) {
        const Link m = corr.find(list[i]);
        if (m == kNoLink) panic("no entry found for key");
        list.at_mut(i) = m;
    }
}

// Two passes: the walk numbers the reached nodes (corr and the walk order),
// then each node is copied once into storage of the exact final size and its
// links are translated.
CloneResult clone_subgraph(const Graph& g) {
    if (!g.has_valid_root()) panic("Cannot clone_subgraph: Graph has no valid root_id set");
    const size_t n = g.nodes.size();
    std::vector<Link> map(n, kNoLink);
    std::vector<Link> order;  // clone id -> source id

    // Links are pushed in reverse of the order they are followed (parents,
    // parent, options, children; each list in stored order), and a node
    // already numbered is passed over at pop time: this numbers the nodes in
    // the pre-order of the recursive walk.
    std::vector<Link> stack{static_cast<Link>(g.root_id)};
    depth_first(
        g, stack,
        [&](NodeId x) {
            if (x >= n) index_panic(n, x);
            if (map[x] != kNoLink) return false;
            map[x] = static_cast<Link>(order.size());
            order.push_back(static_cast<Link>(x));
            return true;
        },
        [&](const Node& node, std::vector<Link>& s) {
            auto unseen = [&](NodeId x) { return x >= n || map[x] == kNoLink; };
            node.children.push_reversed_onto(s, unseen);
            node.options.push_reversed_onto(s, unseen);
            if (node.has_parent() && unseen(node.parent())) s.push_back(static_cast<Link>(node.parent()));
            node.parents.push_reversed_onto(s, unseen);
        });
    std::vector<Link>().swap(stack);

    CloneResult r;
    r.corr = Corr(std::move(map));
    InterruptPoll poll;
    NodeList& out = r.graph.nodes;
    out.reserve(order.size());
    for (Link src : order) {
        poll.tick();
        out.push_back(g.nodes[src]);
        Node& node = out.back();
        translate_list(node.parents, r.corr);
        translate_list(node.options, r.corr);
        translate_list(node.children, r.corr);
        if (node.has_parent()) {
            const Link p = r.corr.find(node.parent());
            if (p == kNoLink)
                node.clear_parent();
            else
                node.set_parent(p);
        }
    }
    const Link root = r.corr.find(g.root_id);
    if (root == kNoLink) panic("Root node missing in correspondence map");
    r.graph.root_id = root;
    return r;
}

// ---- graft ------------------------------------------------------------------

// Keeps the entries that `image` maps, replaced by their images, in order.
template <class F>
static void filter_map_list(IdList& list, F&& image) {
    size_t k = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        const Link m = image(list[i]);
        if (m != kNoLink) list.at_mut(k++) = m;
    }
    while (list.size() > k) list.pop_back();
}

AttachResult clone_and_attach(const Graph& host, const Graph& elem, NodeId root_leaf_id) {
    if (!host.has_valid_root()) panic("clone_and_attach: self has no valid root");
    CloneResult hc = clone_subgraph(host);
    AttachResult res;
    Graph& out = hc.graph;
    const size_t h = out.nodes.size();

    const Link leaf = hc.corr.find(root_leaf_id);
    if (leaf == kNoLink) panic("called `Option::unwrap()` on a `None` value");

    CloneResult ec = clone_subgraph(elem);
    const Link eroot = ec.corr.find(elem.root_id);
    if (eroot == kNoLink) panic("elem_corr missing original root id");
    NodeList& enodes = ec.graph.nodes;
    const size_t e = enodes.size();
    if (h + e - 1 > kMaxNodes) throw TooLarge(kTooManyNodes);

    // Element-clone node j (other than its root) lands at h + j, less one
    // when it comes after the root, which is skipped.
    auto image = [&](NodeId j) -> Link {
        if (j == eroot) return kNoLink;
        return static_cast<Link>(h + j - (j > eroot ? 1 : 0));
    };

    out.nodes.reserve(h + e - 1);
    for (size_t j = 0; j < e; ++j) {
        if (j == eroot) continue;
        Node node = std::move(enodes[j]);
        filter_map_list(node.parents, image);
        filter_map_list(node.options, image);
        filter_map_list(node.children, image);
        // Operators directly under the element root lose their parent here;
        // the attach step below gives them the leaf.
        if (node.has_parent()) {
            const Link p = image(node.parent());
            if (p == kNoLink)
                node.clear_parent();
            else
                node.set_parent(p);
        }
        out.nodes.push_back(std::move(node));
    }

    for (Link o : enodes[eroot].options) {
        const Link m = image(o);
        if (m == kNoLink) continue;
        out.nodes[leaf].options.push_back(m);
        out.nodes[m].set_parent(leaf);
    }

    for (size_t id = h; id < out.nodes.size(); ++id) {
        const Node& node = out.nodes[id];
        if (node.children.empty() && node.options.empty()) res.new_elem_leaves.push_back(id);
    }

    for (NodeId l : leaves(host)) {
        if (l == root_leaf_id) continue;
        const Link m = hc.corr.find(l);
        if (m == kNoLink) panic("clone_and_attach: corr missing mapping for leaf " + std::to_string(l));
        res.old_candidates.push_back(m);
    }

    res.graph = std::move(out);
    return res;
}

// ---- merge ------------------------------------------------------------------

void merge_value_nodes(Graph& g, NodeId keep, NodeId other, bool upper, bool lower) {
    if (keep == other) return;
    const size_t n = g.nodes.size();
    auto check = [n](NodeId id) {
        if (id >= n) index_panic(n, id);
    };
    // Every id is checked before anything changes, in the order in which the
    // two steps use them (other, then keep if the step moves anything, then
    // each moved operator), so a failing call reports the first bad id and
    // leaves the graph as it was. The upper step never changes other's
    // options, so the lower step's list is known up front.
    if (upper) {
        check(other);
        const IdList& moved = g.nodes[other].parents;
        if (!moved.empty()) check(keep);
        for (Link p : moved) check(p);
    }
    if (lower) {
        check(other);
        const IdList& moved = g.nodes[other].options;
        if (!moved.empty()) check(keep);
        for (Link o : moved) check(o);
    }

    // The ids each step appends to keep's list, in order: every moved id that
    // the list lacks, once. The membership scans make a merge quadratic, so
    // they poll for signals; they change nothing, so an interrupt leaves the
    // graph as it was.
    InterruptPoll poll;
    auto additions = [&](const IdList& kept, const IdList& moved) {
        IdList add;
        for (Link x : moved) {
            poll.tick(static_cast<int64_t>(kept.size() + add.size()) + 1);
            if (!kept.contains(x) && !add.contains(x)) add.push_back(x);
        }
        return add;
    };
    const bool move_up = upper && !g.nodes[other].parents.empty();
    const bool move_down = lower && !g.nodes[other].options.empty();
    IdList new_parents, new_options;
    if (move_up) new_parents = additions(g.nodes[keep].parents, g.nodes[other].parents);
    if (move_down) new_options = additions(g.nodes[keep].options, g.nodes[other].options);
    // Room for the appends is made before the first change, so nothing below
    // can fail: a MemoryError leaves the graph as it was.
    if (move_up) g.nodes[keep].parents.reserve(g.nodes[keep].parents.size() + new_parents.size());
    if (move_down) g.nodes[keep].options.reserve(g.nodes[keep].options.size() + new_options.size());

    // Taking a list out empties it, as the step ends by doing.
    if (move_up) {
        const IdList moved = std::move(g.nodes[other].parents);
        for (Link p : new_parents) g.nodes[keep].parents.push_back(p);
        for (Link p : moved)
            for (Link& c : g.nodes[p].children)
                if (c == other) c = static_cast<Link>(keep);
    }
    if (move_down) {
        const IdList moved = std::move(g.nodes[other].options);
        for (Link o : new_options) g.nodes[keep].options.push_back(o);
        for (Link o : moved) g.nodes[o].set_parent(keep);
    }
}

}  // namespace kestrane
