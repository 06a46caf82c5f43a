// The RustGraph type.
#pragma once

#include <Python.h>

namespace kestrane::py {

// Builds the type at import, behind the border: its methods from the method
// table, its __module__ "kestrane", made immutable. A new reference; failures throw.
PyObject* make_graph_type();

}  // namespace kestrane::py
