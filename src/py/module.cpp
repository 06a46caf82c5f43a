// The kestrane module: initialisation and the names it exports.
#include <Python.h>

#include "../core/budget.hpp"
#include "../core/interrupt.hpp"
#include "border.hpp"
#include "functions.hpp"
#include "graph_type.hpp"
#include "ref.hpp"
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

// Runs pending signal handlers for long loops; true when one raised.
bool check_signals() { return PyErr_CheckSignals() != 0; }

// A memory budget that does not parse fails the import, loudly, rather than
// being ignored: whoever set it meant to lower the budget, and a search that
// then outgrows the memory it really has is killed instead of raising
// MemoryError. Working the budget out here also fixes it for the process.
bool check_memory_budget() {
    const std::string& text = budget_setting().unparsed;
    if (text.empty()) return true;
    Ref value(PyUnicode_DecodeFSDefaultAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (value)
        PyErr_Format(
            PyExc_ValueError,
            "KESTRANE_MEMORY_BUDGET=%R is not a number of bytes (a decimal integer, such as 4294967296)",
            value.get());
    return false;
}

PyObject* create_module() {
    if (!check_memory_budget()) return nullptr;
    Ref module(PyModule_Create(&module_def));
    if (!module) return nullptr;
    interrupt_hook = check_signals;
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
