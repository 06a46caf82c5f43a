// The module's functions.
#pragma once

#include <Python.h>

namespace kestrane::py {

// Adds every function of the table to `module` through `add`, in table order.
// Runs at import, behind the border; failures throw.
void add_functions(PyObject* module, void (*add)(PyObject* module, const char* name, PyObject* value));

}  // namespace kestrane::py
