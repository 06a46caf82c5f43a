// The operator conditions of a node carried down to leaf positions below it.
// Pure C++.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "budget.hpp"
#include "condition_types.hpp"
#include "interrupt.hpp"
#include "region.hpp"

namespace kestrane {

// The operator conditions of `n` carried down to leaf positions below it.
// ValueError when the graph below `n` has a cycle.
ConditionList _tree_conditions(const Graph& g, NodeId n, const OpCache& ops, bool adopt);

// Each base condition of a node selects some of its children: a selected
// child contributes all its leaf positions, an unselected one its own tree
// conditions; the children's choices are joined by condition_combinations,
// each child shifted by the distinct leaves of the children before it. A
// condition that leaves one node unselected at two positions is abandoned.
//
// The recursion is kept on an explicit stack of levels. The factor of an
// unselected child does not depend on the base condition, so it is computed
// once per level, when the first condition that needs it is reached, and
// dropped after the last one.
class TreeConditions {
public:
    // `region` must have explored add_tree_roots() of every node run() is
    // asked for.
    TreeConditions(const Graph& g, const OpCache& ops, bool adopt, Region& region, const MemoryBudget& budget,
                   InterruptPoll& poll)
        : g_(g),
          ops_(ops),
          adopt_(adopt),
          region_(region),
          budget_(budget),
          poll_(poll),
          first_pos_(region.size(), kNoLink) {}

    ConditionList run(NodeId n);

private:
    // One level of the recursion.
    struct Frame {
        NodeId n;
        uint32_t slot;    // the parent's child position that awaits this result
        uint32_t m;       // number of children
        size_t nbase;     // number of base conditions
        size_t words;     // where the level's slices start in words_,
        size_t offs;      // offsets_
        size_t lists;     // and lists_
        size_t bi = 0;    // current base condition
        size_t scan = 0;  // next position to check for a missing child factor
        bool sel_ready = false;
        bool memoize = false;                     // keep a copy of the result for later requests
        ConditionList owned_base;                 // built when adopting a callable's conditions
        const ConditionList* borrowed = nullptr;  // or borrowed from the op cache; never into a Frame
        ConditionList result;
        uint64_t result_elems = 0;

        const ConditionList& base() const { return borrowed ? *borrowed : owned_base; }
    };

    // A chain of a million operators keeps a million levels, so a level's
    // arrays are slices of a few stacks shared by all levels (they are freed
    // in reverse order of creation) instead of vectors of its own. Level names
    // those slices; it is valid until the stacks next grow.
    class Level {
    public:
        Level(uint32_t* words, uint64_t* offsets, ConditionList* lists, uint32_t m)
            : w_(words), offsets_(offsets), lists_(lists), m_(m) {}
        // The first child position holding the same node as position i.
        uint32_t& group(size_t i) { return w_[i]; }
        // The last live base condition that leaves group g unselected.
        uint32_t& last_use(size_t g) { return w_[m_ + g]; }
        // kSel for a position the current base condition selects;
        // kHaveChild / kHaveSel for a group whose factor is held.
        uint32_t& flags(size_t i) { return w_[2 * size_t(m_) + i]; }
        // Whether base condition b is not abandoned.
        uint32_t& live(size_t b) { return w_[3 * size_t(m_) + b]; }
        // The shift of position i: the distinct leaves of the children before it.
        uint64_t offset(size_t i) const { return offsets_[i]; }
        uint64_t& offset(size_t i) { return offsets_[i]; }
        // Group g's factor when unselected (its own tree conditions), and
        // when selected (all its leaf positions).
        ConditionList& unselected(size_t g) { return lists_[g]; }
        ConditionList& selected(size_t g) { return lists_[m_ + g]; }

    private:
        uint32_t* w_;
        uint64_t* offsets_;
        ConditionList* lists_;
        uint32_t m_;
    };
    static constexpr uint32_t kSel = 1, kHaveChild = 2, kHaveSel = 4;

    Level level(const Frame& fr) {
        return Level(words_.data() + fr.words, offsets_.data() + fr.offs, lists_.data() + fr.lists, fr.m);
    }
    void push_frame(NodeId n, uint32_t slot, bool memoize = false);
    void group_children(Level lv, const IdList& k);
    bool mark_live(const Frame& fr, Level lv);
    void mark_selected(Level lv, uint32_t m, const Condition& c);
    void skip_abandoned(Frame& fr);
    bool descend(Frame& fr);
    void combine_level(Frame& fr);
    ConditionList finish_level();
    void pop_frame();

    const Graph& g_;
    const OpCache& ops_;
    bool adopt_;
    Region& region_;
    const MemoryBudget& budget_;
    InterruptPoll& poll_;
    std::vector<uint32_t> first_pos_;  // scratch over local indices, kNoLink between uses
    std::vector<Frame> stack_;
    // The shared stacks: per level, 3m + nbase words, m offsets, 2m lists.
    std::vector<uint32_t> words_;
    std::vector<uint64_t> offsets_;
    std::vector<ConditionList> lists_;
    std::vector<const ConditionList*> factors_;
    std::vector<uint64_t> frame_offsets_;
    // Results for operators below shared nodes: without them a subgraph
    // reached along many paths would be expanded once per path.
    std::unordered_map<NodeId, ConditionList> memo_;
};

}  // namespace kestrane
