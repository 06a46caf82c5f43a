#include "condition_lists.hpp"

#include "binding.hpp"
#include "ref.hpp"

namespace kestrane::py {

ConditionList to_condition_list(PyObject* o) { return to_items<Condition>(o, to_node_ids); }

std::vector<ConditionList> to_condition_lists(PyObject* o) {
    return to_items<ConditionList>(o, to_condition_list);
}

PyObject* condition_list_result(const ConditionList& conditions) {
    GcPause pause;
    Ref list(PyList_New(static_cast<Py_ssize_t>(conditions.size())));
    if (!list) throw_py();
    for (size_t i = 0; i < conditions.size(); ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i),
                        node_list(conditions[i].begin(), conditions[i].end()));
    return list.release();
}

}  // namespace kestrane::py
