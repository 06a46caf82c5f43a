// The module's functions.
#pragma once

#include <Python.h>

namespace kestrane::py {

// Adds every function of the table to `module` through `add`, in table order.
bool add_functions(PyObject* module, bool (*add)(PyObject* module, const char* name, PyObject* value));

}  // namespace kestrane::py
