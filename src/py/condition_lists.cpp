#include "condition_lists.hpp"

#include <algorithm>

#include "convert.hpp"
#include "ref.hpp"
#include "results.hpp"

namespace kestrane::py {

ConditionList to_condition_list(PyObject* o) { return to_items<Condition>(o, to_node_ids); }

std::vector<ConditionList> to_condition_lists(PyObject* o) {
    return to_items<ConditionList>(o, to_condition_list);
}

namespace {

// Condition results repeat a few values (leaf indices, positions) many times.
// One int object per distinct value, shared by every list that holds it,
// costs a new reference per element instead of a new object.
class SharedInts {
public:
    explicit SharedInts(size_t n) : ints_(n) {}

    PyObject* get(uint64_t v) {
        Ref& r = ints_[v];
        if (!r) {
            r = Ref(py_int_unchecked(v));
            if (!r) throw_py();
        }
        Py_INCREF(r.get());
        return r.get();
    }

private:
    std::vector<Ref> ints_;
};

// The poll is asked before the list is made, for the whole list: no Python
// code runs while it fills.
PyObject* shared_int_list(const Condition& c, SharedInts& ints, InterruptPoll& poll) {
    poll.tick(static_cast<int64_t>(c.size()) + 1);
    ListBuilder list(c.size(), false);
    for (size_t j = 0; j < c.size(); ++j) list.set(j, ints.get(c[j]));
    return list.finish();
}

}  // namespace

PyObject* condition_list_result(const ConditionList& conditions) {
    GcPause pause;
    uint64_t elems = 0, largest = 0;
    for (const Condition& c : conditions) {
        elems += c.size();
        for (uint64_t e : c) largest = std::max(largest, e);
    }
    // The table over 0..largest is used when it holds no more entries than
    // the elements it serves.
    if (largest < elems) {
        SharedInts ints(static_cast<size_t>(largest) + 1);
        InterruptPoll poll;
        return list_of(conditions.size(),
                       [&](size_t i) { return shared_int_list(conditions[i], ints, poll); });
    }
    return list_of(conditions.size(),
                   [&](size_t i) { return node_list(conditions[i].begin(), conditions[i].end()); });
}

}  // namespace kestrane::py
