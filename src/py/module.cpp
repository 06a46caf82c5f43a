// The kestrane module: initialisation and the names it exports.
#include <Python.h>

#include <exception>

#include "../core/budget.hpp"
#include "../core/interrupt.hpp"
#include "border.hpp"
#include "functions.hpp"
#include "graph_object.hpp"
#include "graph_type.hpp"
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
void register_name(PyObject* module, const char* name, PyObject* value) {
    if (PyModule_AddObjectRef(module, name, value) < 0) throw_py();
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        PyErr_Clear();
        all = Ref(PyList_New(0));
        if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0) throw_py();
    }
    Ref text(PyUnicode_FromString(name));
    if (!text || PyList_Append(all.get(), text.get()) < 0) throw_py();
}

// Runs pending signal handlers for long loops (and, from 3.12, a collection
// the host has scheduled); true when one raised. That code finds the
// collector as the program left it (GcPause).
bool check_signals() {
    GcPause::PythonRuns python;
    return PyErr_CheckSignals() != 0;
}

// A memory budget that does not parse fails the import, loudly, rather than
// being ignored: whoever set it meant to lower the budget, and a search that
// then outgrows the memory it really has is killed instead of raising
// MemoryError. Working the budget out here also fixes it for the process.
void check_memory_budget() {
    const std::string& text = budget_setting().unparsed;
    if (text.empty()) return;
    Ref value(PyUnicode_DecodeFSDefaultAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!value) throw_py();
    throw_error(PyExc_ValueError,
                "KESTRANE_MEMORY_BUDGET=%R is not a number of bytes (a decimal integer, such as 4294967296)",
                value.get());
}

// os.register_at_fork(after_in_child=...): see AccessGuard::release_other_threads.
PyObject* after_fork_in_child(PyObject*, PyObject*) {
    AccessGuard::release_other_threads();
    Py_RETURN_NONE;
}
PyMethodDef after_fork_def = {"_after_fork_in_child", after_fork_in_child, METH_NOARGS, nullptr};

void register_fork_hook() {
    Ref os(PyImport_ImportModule("os"));
    if (!os) throw_py();
    Ref register_at_fork(PyObject_GetAttrString(os.get(), "register_at_fork"));
    if (!register_at_fork) throw_py();
    Ref hook(PyCFunction_New(&after_fork_def, nullptr));
    Ref args(PyTuple_New(0));
    Ref kwargs(Py_BuildValue("{sO}", "after_in_child", hook.get()));
    if (!hook || !args || !kwargs) throw_py();
    if (!Ref(PyObject_Call(register_at_fork.get(), args.get(), kwargs.get()))) throw_py();
}

// A failure needs the C++ runtime's per-thread exception state, which a module
// loaded at run time gets on its first exception; made now, it cannot be what
// runs out of memory later (in the importing thread).
void prepare_failure_path() { (void)std::uncaught_exceptions(); }

// Runs behind the border: every table is built here, and any failure throws.
// A failed import leaves neither process.module nor process.graph_type set,
// so importing again starts over (PanicException and the interrupt hook, made
// once, stay); the fork hook comes last so that it is registered once.
PyObject* create_module() {
    check_memory_budget();
    Ref module(PyModule_Create(&module_def));
    if (!module) throw_py();
    interrupt_hook = check_signals;
    set_result_object_costs();
    if (!panic_exception()) throw_py();
    Ref type(make_graph_type());
    register_name(module.get(), "RustGraph", type.get());
    add_functions(module.get(), register_name);
    register_fork_hook();
    // The type lives for the rest of the process: this reference is never released.
    process.graph_type = reinterpret_cast<PyTypeObject*>(type.release());
    return module.release();
}

}  // namespace
}  // namespace kestrane::py

// PyMODINIT_FUNC declares the function extern "C" itself.
PyMODINIT_FUNC PyInit_kestrane(void) {
    using namespace kestrane::py;
    prepare_failure_path();
    return guarded([]() -> PyObject* {
        // The module's objects are process-wide (see state.hpp): only the main
        // interpreter may own them, whichever interpreter imports first.
        if (PyInterpreterState_Get() != PyInterpreterState_Main())
            throw_error(PyExc_ImportError, "kestrane does not support sub-interpreters");
        if (!process.module) process.module = create_module();
        Py_INCREF(process.module);
        return process.module;
    });
}
