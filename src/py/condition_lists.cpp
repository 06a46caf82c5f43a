#include "condition_lists.hpp"

#include "convert.hpp"
#include "ref.hpp"
#include "results.hpp"

namespace kestrane::py {

ConditionList to_condition_list(PyObject* o) { return to_items<Condition>(o, to_node_ids); }

std::vector<ConditionList> to_condition_lists(PyObject* o) {
    return to_items<ConditionList>(o, to_condition_list);
}

PyObject* condition_list_result(const ConditionList& conditions) {
    GcPause pause;
    return list_of(conditions.size(),
                   [&](size_t i) { return node_list(conditions[i].begin(), conditions[i].end()); });
}

}  // namespace kestrane::py
