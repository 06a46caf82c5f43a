// The kestrane module: initialisation and the names it exports.
#include <Python.h>

#include <exception>

#include "../core/interrupt.hpp"
#include "border.hpp"
#include "functions.hpp"
#include "graph_type.hpp"
#include "graph_object.hpp"
#include "ref.hpp"
#include "results.hpp"
#include "state.hpp"

namespace kestrane::py {
namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "kestrane",
    "",
    0,  // no module state; a non-negative size makes a re-import call the init again
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Sets the attribute and appends the name to __all__ (created on first use).
bool register_name(PyObject* module, const char* name, PyObject* value) {
    if (PyModule_AddObjectRef(module, name, value) < 0) return false;
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        PyErr_Clear();
        all = Ref(PyList_New(0));
        if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0) return false;
    }
    Ref text(PyUnicode_FromString(name));
    return text && PyList_Append(all.get(), text.get()) == 0;
}

// Runs pending signal handlers for long loops (and, from 3.12, a collection
// the host has scheduled); true when one raised. That code finds the
// collector as the program left it (GcPause).
bool check_signals() {
    GcPause::PythonRuns python;
    return PyErr_CheckSignals() != 0;
}

// os.register_at_fork(after_in_child=...): see AccessGuard::release_other_threads.
PyObject* after_fork_in_child(PyObject*, PyObject*) {
    AccessGuard::release_other_threads();
    Py_RETURN_NONE;
}
PyMethodDef after_fork_def = {"_after_fork_in_child", after_fork_in_child, METH_NOARGS, nullptr};

bool register_fork_hook() {
    Ref os(PyImport_ImportModule("os"));
    if (!os) return false;
    Ref register_at_fork(PyObject_GetAttrString(os.get(), "register_at_fork"));
    if (!register_at_fork) return false;
    Ref hook(PyCFunction_New(&after_fork_def, nullptr));
    Ref args(PyTuple_New(0));
    Ref kwargs(Py_BuildValue("{sO}", "after_in_child", hook.get()));
    if (!hook || !args || !kwargs) return false;
    return Ref(PyObject_Call(register_at_fork.get(), args.get(), kwargs.get())).get() != nullptr;
}

// A failure needs the C++ runtime's per-thread exception state, which a module
// loaded at run time gets on its first exception; made now, it cannot be what
// runs out of memory later (in the importing thread).
void prepare_failure_path() { (void)std::uncaught_exceptions(); }

PyObject* create_module() {
    Ref module(PyModule_Create(&module_def));
    if (!module) return nullptr;
    prepare_failure_path();
    interrupt_hook = check_signals;
    if (!register_fork_hook()) return nullptr;
    if (!panic_exception()) return nullptr;
    Ref type(make_graph_type());
    if (!type) return nullptr;
    process.graph_type = reinterpret_cast<PyTypeObject*>(type.get());
    if (!register_name(module.get(), "RustGraph", type.get())) return nullptr;
    Py_INCREF(type.get());  // the type lives for the rest of the process
    if (!add_functions(module.get(), register_name)) return nullptr;
    return module.release();
}

}  // namespace
}  // namespace kestrane::py

// PyMODINIT_FUNC declares the function extern "C" itself.
PyMODINIT_FUNC PyInit_kestrane(void) {
    using namespace kestrane::py;
    // The module's objects are process-wide (see state.hpp): only the main
    // interpreter may own them, whichever interpreter imports first.
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        PyErr_SetString(PyExc_ImportError, "kestrane does not support sub-interpreters");
        return nullptr;
    }
    if (!process.module) {
        process.module = create_module();
        if (!process.module) return nullptr;
    }
    Py_INCREF(process.module);
    return process.module;
}
