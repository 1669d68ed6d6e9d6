// Conversions between Python values and the matrix's own types.
#pragma once

#include "pyref.hpp"

#include <vector>

#include "../matrix/matrix.hpp"

namespace quorvel::binding {

// Input conversions: each returns its value or throws with a Python
// exception set; nothing is half-converted.

/// An int (bool included) or an object with __index__, 0 to 2^64 - 1.
[[nodiscard]] Index extract_index(PyObject* object);
/// An int or an object with __index__, 0 to 255.
[[nodiscard]] Byte extract_byte(PyObject* object);
/// A sequence (not a str) of entries, read by iteration.
[[nodiscard]] Row extract_byte_list(PyObject* object);
/// A sequence (not a str) of rows, read by iteration, as a matrix: packed as
/// the rows are read, for as long as they allow it.
[[nodiscard]] Matrix extract_matrix(PyObject* object);

// Output conversions: each returns a new reference.

[[nodiscard]] Ref py_count(Index value);
[[nodiscard]] Ref py_entry(Byte value);
[[nodiscard]] Ref py_bool(bool value);
[[nodiscard]] Ref py_none();
[[nodiscard]] Ref py_text(const std::string& text);
/// A new list of new lists of ints, one per row.
[[nodiscard]] Ref rows_to_list(const Matrix& rows);
/// A new object of exactly the class Matrix holding `matrix`.
[[nodiscard]] Ref new_matrix_object(Matrix&& matrix);
/// The 2-tuple (new Matrix, [(target, source), ...]) of an elimination.
[[nodiscard]] Ref elimination_result(Elimination&& result);

}  // namespace quorvel::binding
