// The RustGraph type.
#pragma once

#include <Python.h>

namespace kestrane::py {

// Builds the type (once, at import): its methods from the method table, its
// __module__ "kestrane", made immutable. New reference, or nullptr with an error set.
PyObject* make_graph_type();

}  // namespace kestrane::py
