// The Python class `Matrix`.
#pragma once

#include "pyref.hpp"

#include <atomic>

#include "../matrix/matrix.hpp"

namespace quorvel::binding {

/// A Matrix instance: the record it owns and its borrow counter
/// (0 free, n > 0 shared borrows, -1 one exclusive borrow).  The counter is
/// atomic because, without the GIL, threads borrow the same object at once.
struct MatrixObject {
    PyObject_HEAD
    Matrix elements;
    std::atomic<Py_ssize_t> borrow;
};

/// The class object, made by the module's import and kept for the life of
/// the process; throws `PythonError` if it cannot be made.
[[nodiscard]] PyTypeObject* matrix_type();

/// Moves `matrix` into a freshly allocated, zeroed instance.
void init_matrix_object(PyObject* fresh, Matrix&& matrix) noexcept;

}  // namespace quorvel::binding
