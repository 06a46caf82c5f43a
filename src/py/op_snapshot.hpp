// Reading the caller's operator snapshot into the op cache.
#pragma once

#include <Python.h>

#include "../core/condition_types.hpp"

namespace kestrane::py {

// `snapshot` is a dict (or a dict subclass). Throws PyErrSet with the first
// failing entry's error, or Panic when the dict is seen to change while it is
// read: its size changes, or it yields more entries than it held (only Python
// code run during a conversion can change it; see build_op_cache).
OpCache build_op_cache(PyObject* snapshot);

// The `op_snapshot` argument check: the object itself when it is a dict or a
// dict subclass, else TypeError "'{}' object cannot be cast as 'dict'".
PyObject* to_snapshot_dict(PyObject* o);

}  // namespace kestrane::py
