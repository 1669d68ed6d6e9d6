// The Python class `Matrix`.
#pragma once

#include "pyref.hpp"

#include "../matrix/matrix.hpp"

namespace quorvel::binding {

/// A Matrix instance: the record it owns and its borrow counter
/// (0 free, n > 0 shared borrows, -1 one exclusive borrow).
struct MatrixObject {
    PyObject_HEAD
    Matrix elements;
    Py_ssize_t borrow;
};

/// The class object, made on first need and kept for the life of the
/// process; throws `PythonError` if it cannot be made.
[[nodiscard]] PyTypeObject* matrix_type();

/// Moves `matrix` into a freshly allocated, zeroed instance.
void init_matrix_object(PyObject* fresh, Matrix&& matrix) noexcept;

}  // namespace quorvel::binding
