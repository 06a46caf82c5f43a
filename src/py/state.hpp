// The binding's process-wide objects. The rest of its process-wide state lives
// beside the only code that touches it: the table of accesses held
// (graph_object.cpp), the active collector pause (results.cpp), and the
// signature and method tables (graph_type.cpp, functions.cpp).
//
// Why process-wide: the module uses single-phase initialisation and loads only
// in the main interpreter (a sub-interpreter's import is refused), so there is
// exactly one set of these objects for the life of the process. They are made
// once, at import or on first need, and never released.
#pragma once

#include <Python.h>

#include <vector>

namespace kestrane::py {

struct ProcessState {
    PyObject* module = nullptr;
    PyTypeObject* graph_type = nullptr;  // RustGraph
    PyObject* panic_type = nullptr;      // PanicException
    PyObject* abc_sequence = nullptr;    // collections.abc.Sequence, imported on first need
    // The op snapshot's entry keys, interned on first need.
    PyObject* conditions_key = nullptr;
    PyObject* has_callable_key = nullptr;
    PyObject* cumulative_key = nullptr;
    PyObject* module_key = nullptr;  // "__module__", for the numpy bool probe
    // Objects whose release waits for the exception in flight to be handled
    // (ref.hpp); emptied by the border. Guarded by the interpreter lock.
    std::vector<PyObject*> pending_release;
};

extern ProcessState process;

}  // namespace kestrane::py
