// Conversions between Python's nested lists of positions and condition lists.
#pragma once

#include <Python.h>

#include <vector>

#include "../core/condition_types.hpp"

namespace kestrane::py {

// A sequence (not a str) of sequences of non-negative integers; each level
// follows the list rule, each number the node id rule. Throws PyErrSet.
ConditionList to_condition_list(PyObject* o);
// One level deeper: a condition list per child.
std::vector<ConditionList> to_condition_lists(PyObject* o);

// A new list of new lists of ints.
PyObject* condition_list_result(const ConditionList& conditions);

}  // namespace kestrane::py
