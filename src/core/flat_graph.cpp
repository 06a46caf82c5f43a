#include "flat_graph.hpp"

#include <algorithm>

#include "depth_first.hpp"
#include "siphash.hpp"

namespace kestrane {

namespace {

bool holds(const Link* first, size_t n, Link x) { return std::find(first, first + n, x) != first + n; }

// Numbers the nodes reached from node 0 in depth-first pre-order: s.order
// lists them, s.pos gives each its number (kNoLink: not reached). Each popped
// node is numbered at its first pop; push(node, links, unseen) then pushes its
// links in reverse of the order they are to be followed, so that they pop in
// that order.
template <class Push>
void number_from_root(const FlatGraph& g, FlatScratch& s, Push push) {
    s.pos.assign(g.size(), kNoLink);
    s.order.clear();
    s.stack.assign(1, 0);
    auto unseen = [&](Link x) { return s.pos[x] == kNoLink; };
    while (!s.stack.empty()) {
        const Link x = s.stack.back();
        s.stack.pop_back();
        if (!unseen(x)) continue;
        s.pos[x] = static_cast<Link>(s.order.size());
        s.order.push_back(x);
        const FlatNode& n = g.nodes[x];
        push(n, g.links.data() + n.at, unseen);
    }
}

// Pushes the links in [first, last) in reverse, those not yet numbered.
template <class Unseen>
void push_reversed(const Link* first, const Link* last, std::vector<Link>& stack, Unseen& unseen) {
    while (last != first)
        if (unseen(*--last)) stack.push_back(*last);
}

// Numbers the nodes of a flat graph connected to node 0 in clone order (see
// clone_subgraph: parents, parent, options, children, each in stored order).
void clone_order(const FlatGraph& g, FlatScratch& s) {
    number_from_root(g, s, [&](const FlatNode& n, const Link* l, auto& unseen) {
        push_reversed(l + n.np + n.no, l + n.np + n.no + n.nc, s.stack, unseen);
        push_reversed(l + n.np, l + n.np + n.no, s.stack, unseen);
        if (n.parent != kNoLink && unseen(n.parent)) s.stack.push_back(n.parent);
        push_reversed(l, l + n.np, s.stack, unseen);
    });
}

// `out` = the nodes of `g` listed in s.order, renumbered by s.pos. Every link
// of a numbered node leads to a numbered node: the numbering walk follows
// all four kinds of link.
void compact(const FlatGraph& g, const FlatScratch& s, FlatGraph& out) {
    const size_t m = s.order.size();
    out.nodes.resize(m);
    size_t total = 0;
    for (Link x : s.order) total += g.nodes[x].end() - g.nodes[x].at;
    out.links.resize(total);
    Link* w = out.links.data();
    size_t at = 0;
    for (size_t i = 0; i < m; ++i) {
        const FlatNode& src = g.nodes[s.order[i]];
        FlatNode& dst = out.nodes[i];
        dst = src;
        dst.at = at;
        if (src.parent != kNoLink) dst.parent = s.pos[src.parent];
        const size_t len = src.end() - src.at;
        for (const Link *p = g.links.data() + src.at, *e = p + len; p != e; ++p) *w++ = s.pos[*p];
        at += len;
    }
}

// merge_value_nodes(g, keep, other, true, true) on a flat graph: keep's
// lists, grown by the operators they lacked, move to the end of the link
// array; the operators above other take keep as a child where they had
// other, those below it take keep as their parent; other keeps only its
// children (and parent).
void merge(FlatGraph& g, Link keep, Link other, std::vector<Link>& add) {
    if (keep == other) return;
    const FlatNode o = g.nodes[other];
    const FlatNode k = g.nodes[keep];
    // The additions, each moved id that keep's list lacks, once: parents
    // first, then (from add_options on) options.
    add.clear();
    for (const Link *p = g.parents(o), *e = p + o.np; p != e; ++p)
        if (!holds(g.parents(k), k.np, *p) && !holds(add.data(), add.size(), *p)) add.push_back(*p);
    const size_t add_parents = add.size();
    for (const Link *p = g.options(o), *e = p + o.no; p != e; ++p)
        if (!holds(g.options(k), k.no, *p) && !holds(add.data() + add_parents, add.size() - add_parents, *p))
            add.push_back(*p);
    if (!add.empty()) {
        const size_t at = g.links.size();
        g.links.resize(at + (k.end() - k.at) + add.size());
        Link* w = g.links.data() + at;
        const Link* r = g.links.data() + k.at;
        w = std::copy(r, r + k.np, w);
        w = std::copy(add.data(), add.data() + add_parents, w);
        w = std::copy(r + k.np, r + k.np + k.no, w);
        w = std::copy(add.data() + add_parents, add.data() + add.size(), w);
        std::copy(r + k.np + k.no, r + k.np + k.no + k.nc, w);
        FlatNode& kk = g.nodes[keep];
        kk.at = at;
        kk.np = static_cast<uint32_t>(k.np + add_parents);
        kk.no = static_cast<uint32_t>(k.no + add.size() - add_parents);
    }
    for (size_t i = 0; i < o.np; ++i) {
        const FlatNode& q = g.nodes[g.links[o.at + i]];
        for (Link *c = g.children(q), *e = c + q.nc; c != e; ++c)
            if (*c == other) *c = keep;
    }
    for (size_t i = 0; i < o.no; ++i) g.nodes[g.links[o.at + o.np + i]].parent = keep;
    FlatNode& oo = g.nodes[other];
    oo.at += o.np + o.no;
    oo.np = oo.no = 0;
}

}  // namespace

void flat_clone(const Graph& g, FlatGraph& out, std::vector<Link>& corr) {
    if (!g.has_valid_root()) panic("Cannot clone_subgraph: Graph has no valid root_id set");
    const size_t n = g.nodes.size();
    corr.assign(n, kNoLink);
    std::vector<Link> order;
    std::vector<Link> stack{static_cast<Link>(g.root_id)};
    depth_first(
        g, stack,
        [&](NodeId x) {
            if (x >= n) index_panic(n, x);
            if (corr[x] != kNoLink) return false;
            corr[x] = static_cast<Link>(order.size());
            order.push_back(static_cast<Link>(x));
            return true;
        },
        [&](const Node& node, std::vector<Link>& s) {
            auto unseen = [&](NodeId x) { return x >= n || corr[x] == kNoLink; };
            node.children.push_reversed_onto(s, unseen);
            node.options.push_reversed_onto(s, unseen);
            if (node.has_parent() && unseen(node.parent())) s.push_back(static_cast<Link>(node.parent()));
            node.parents.push_reversed_onto(s, unseen);
        });
    out.nodes.resize(order.size());
    out.links.clear();
    InterruptPoll poll;
    for (size_t i = 0; i < order.size(); ++i) {
        poll.tick();
        const Node& src = g.nodes[order[i]];
        FlatNode& dst = out.nodes[i];
        dst.origin = order[i];
        dst.kind = src.kind();
        dst.parent = src.has_parent() ? corr[src.parent()] : kNoLink;
        dst.np = static_cast<uint32_t>(src.parents.size());
        dst.no = static_cast<uint32_t>(src.options.size());
        dst.nc = static_cast<uint32_t>(src.children.size());
        dst.at = out.links.size();
        for (const IdList* l : {&src.parents, &src.options, &src.children})
            for (Link y : *l) out.links.push_back(corr[y]);
    }
}

void flat_merged_clone(const FlatGraph& g, Link keep, Link other, FlatGraph& out, FlatScratch& scratch) {
    FlatGraph& m = scratch.merged;
    m.nodes.assign(g.nodes.begin(), g.nodes.end());
    m.links.assign(g.links.begin(), g.links.end());
    merge(m, keep, other, scratch.moved);
    clone_order(m, scratch);
    compact(m, scratch, out);
}

// The root walk of connection_hash (value nodes: parents, then options; an
// operator: children, then parent), then the connections between walked
// nodes in neighbour order (options, parents, parent, children), counted
// before they are fed.
uint64_t flat_connection_hash(const FlatGraph& g, FlatScratch& s) {
    number_from_root(g, s, [&](const FlatNode& n, const Link* l, auto& unseen) {
        if (n.is_op()) {
            if (n.parent != kNoLink && unseen(n.parent)) s.stack.push_back(n.parent);
            push_reversed(l + n.np + n.no, l + n.np + n.no + n.nc, s.stack, unseen);
        } else {
            push_reversed(l + n.np, l + n.np + n.no, s.stack, unseen);
            push_reversed(l, l + n.np, s.stack, unseen);
        }
    });
    s.pairs.clear();
    for (size_t i = 0; i < s.order.size(); ++i) {
        const FlatNode& n = g.nodes[s.order[i]];
        auto put = [&](Link y) {
            const Link j = s.pos[y];
            if (j != kNoLink) s.pairs.push_back(uint64_t(i) << 32 | j);
        };
        for (const Link *p = g.options(n), *e = p + n.no; p != e; ++p) put(*p);
        for (const Link *p = g.parents(n), *e = p + n.np; p != e; ++p) put(*p);
        if (n.parent != kNoLink) put(n.parent);
        for (const Link *p = g.children(n), *e = p + n.nc; p != e; ++p) put(*p);
    }
    SipHasher13 h;
    h.write_u64(s.pairs.size());
    for (uint64_t p : s.pairs) {
        h.write_u64(p >> 32);
        h.write_u64(p & 0xFFFFFFFFu);
    }
    return h.finish();
}

Graph to_graph(const FlatGraph& g, const Graph& input) {
    Graph out;
    out.nodes.reserve(g.size());
    for (const FlatNode& f : g.nodes) {
        Node& node = out.nodes.emplace_back();
        node.payload = input.nodes[f.origin].payload;
        node.parent_link = f.parent;
        const Link* l = g.links.data() + f.at;
        for (auto [list, len] :
             {std::pair{&node.parents, f.np}, {&node.options, f.no}, {&node.children, f.nc}}) {
            list->reserve(len);
            for (const Link* e = l + len; l != e; ++l) list->push_back(*l);
        }
    }
    out.root_id = 0;
    return out;
}

}  // namespace kestrane
