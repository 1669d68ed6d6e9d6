// The module `quorvel`: one class, `Matrix`.
//
//     >>> from quorvel import Matrix
//     >>> m = Matrix([[0, 1], [1, 1]])
//     >>> m.echelon_form()
//     ([[1, 0], [0, 1]], [(0, 1), (1, 0), (0, 1), (0, 1)])
//
// The module belongs to the first interpreter that imports it; imports from
// any other interpreter fail.  Later imports in that interpreter, also after
// the module was dropped from sys.modules, get the same module object.
#include <atomic>
#include <cstdint>

#include "errors.hpp"
#include "matrix_object.hpp"
#include "messages.hpp"

#if PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030D0000
// CPython 3.12 runs the initialisation of a single-phase module in whatever
// interpreter imports it, and only afterwards refuses the module in an
// interpreter that admits only modules made for sub-interpreters (an
// isolated one).  This is the check it makes then; running it first keeps
// such an interpreter from owning the module, or from creating anything of
// it, when its import cannot succeed.  From 3.13 on, that initialisation
// runs in the main interpreter.  (Declared in CPython's internal headers,
// exported by the interpreter.)
extern "C" int _PyImport_CheckSubinterpIncompatibleExtensionAllowed(const char* name);
#define QUORVEL_IMPORT_CHECKS_SUB_INTERPRETERS 1
#endif

namespace quorvel::binding {
namespace {

// The API version that PyModule_Create passes in CPython 3.10.
constexpr int k_api_version = 1013;

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "quorvel",
    "Dense matrices over GF(2) with reduced echelon forms and their row-operation logs.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

std::atomic<std::int64_t> g_owner{-1};
PyObject* g_module = nullptr;

// Everything the module shares between threads is made here, while the
// import system runs this for one thread at a time: the class, the type of
// PanicException and the module.  Afterwards threads only read them.
Ref make_module() {
    make_panic_type();
    Ref module = checked(PyModule_Create2(&g_module_def, k_api_version));
#ifdef Py_GIL_DISABLED
    // A free-threaded interpreter keeps its GIL off for this module: what
    // calls share is made here, once, or guarded (each matrix's borrow
    // counter, the core's kept blocks), and lists are read item by item
    // with references of their own (convert.cpp).
    if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_NOT_USED) < 0)
        throw_pending();
#endif
    PyObject* type = reinterpret_cast<PyObject*>(matrix_type());
    const Ref name = checked(PyUnicode_FromString("Matrix"));
    Ref all{PyObject_GetAttrString(module.get(), "__all__")};
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError))
            throw_pending();
        PyErr_Clear();
        all = checked(PyList_New(0));
        if (PyObject_SetAttrString(module.get(), "__all__", all.get()) < 0)
            throw_pending();
    }
    if (PyList_Append(all.get(), name.get()) < 0) {
        PyErr_Clear();
        panic(message::k_all_not_extended);
    }
    if (PyObject_SetAttr(module.get(), name.get(), type) < 0)
        throw_pending();
    return module;
}

}  // namespace
}  // namespace quorvel::binding

PyMODINIT_FUNC PyInit_quorvel() {
    using namespace quorvel::binding;
    return boundary([] {
        const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
        if (id == -1)
            throw_pending();
#ifdef QUORVEL_IMPORT_CHECKS_SUB_INTERPRETERS
        if (_PyImport_CheckSubinterpIncompatibleExtensionAllowed(g_module_def.m_name) < 0)
            throw_pending();
#endif
        std::int64_t owner = -1;
        if (!g_owner.compare_exchange_strong(owner, id) && owner != id)
            raise(PyExc_ImportError, message::k_second_interpreter);
        if (g_module != nullptr)
            return Ref::borrowed(g_module);
        Ref module = make_module();
        g_module = Ref::borrowed(module.get()).release();
        return module;
    });
}
