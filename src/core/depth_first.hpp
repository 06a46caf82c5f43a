// The explicit-stack depth-first skeleton shared by the walks. Pure C++.
#pragma once

#include <cstddef>

#include "graph.hpp"

namespace kestrane {

// Asks the memory system for the nodes pushed onto a walk stack since `from`:
// a depth-first walk jumps around the node array, and the loads then overlap.
template <class Stack>
void prefetch_nodes(const Graph& g, const Stack& stack, size_t from) {
#if defined(__GNUC__) || defined(__clang__)
    for (size_t i = from; i < stack.size(); ++i)
        if (stack[i] < g.nodes.size()) __builtin_prefetch(&g.nodes[stack[i]]);
#else
    (void)g, (void)stack, (void)from;
#endif
}

// Pops a node; `enter(x)` says whether to expand it (it passes over nodes
// already met or skipped, marks the new ones and panics on an id out of
// range); `push_links(node, stack)` then pushes its links in reverse of the
// order they are to be followed, so that they pop in that order. The result is
// the pre-order of the recursive walk, without recursion. The stack may hold
// a node several times; only its first pop enters it. A walk may leave out of
// its pushes the ids that `enter` would pass over anyway (nodes already
// entered): that changes nothing but the stack's size.
template <class Stack, class Enter, class PushLinks>
void depth_first(const Graph& g, Stack& stack, Enter&& enter, PushLinks&& push_links) {
    InterruptPoll poll;
    while (!stack.empty()) {
        poll.tick();
        const NodeId x = stack.back();
        stack.pop_back();
        if (!enter(x)) continue;
        const size_t pushed_from = stack.size();
        push_links(g.nodes[x], stack);
        prefetch_nodes(g, stack, pushed_from);
    }
}

}  // namespace kestrane
