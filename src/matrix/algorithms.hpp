// The GF(2) algorithms, by family: reduced row echelon forms with their
// row-operation logs (echelon*.cpp), the last-row reduction (last_row*.cpp),
// and rank and kernel read off an echelon form (rank_kernel*.cpp).
//
// The functions in `quorvel` are the ones to call: each family's choice
// (echelon.cpp, last_row.cpp, rank_kernel.cpp) gives packed matrices to its
// packed half (*_packed.cpp, packed_algorithms.hpp) and matrices held as
// bytes to its byte half (*_bytes.cpp).  The byte half, in `quorvel::exact`,
// works entry by entry on the bytes (of a copy, for packed input) and defines
// the behaviour for every input: ragged rows, entries other than 0 and 1, and
// the failure raised at the exact entry.
#pragma once

#include <vector>

#include "matrix.hpp"

namespace quorvel {

/// Gauss-Jordan elimination on a copy; the pivot test is "entry == 1" and the
/// clearing addition is `add_rows` of the copy.
[[nodiscard]] Elimination echelon_form(const Matrix& m);

/// The same elimination with the pivot test "entry != 0" and the clearing
/// addition (a + b) mod 2 over the first ncols entries of the input.
[[nodiscard]] Elimination row_echelon_full_matrix(const Matrix& m);

/// Reduces the last row of a copy against the rows above it, then moves the
/// rows into order with one upward pass.
[[nodiscard]] Elimination echelon_form_last_row(const Matrix& m);

/// The variant of `echelon_form_last_row` for testing a new row for
/// dependence: a tighter distance bound, a scan that passes rows without a 1,
/// no failure when nothing matches, and an upward pass that leaves the last
/// row out.
[[nodiscard]] Elimination echelon_form_last_row_dep(const Matrix& m);

/// The number of distinct columns holding the first 1 of some row.
[[nodiscard]] Index rank(const Matrix& m);

/// One null-space vector per column without a pivot, for a matrix in reduced
/// row echelon form: row k of the result is vector k.
[[nodiscard]] Matrix kernel(const Matrix& m);

namespace exact {
Elimination echelon_form(const Matrix& m);
Elimination row_echelon_full_matrix(const Matrix& m);
Elimination echelon_form_last_row(const Matrix& m);
Elimination echelon_form_last_row_dep(const Matrix& m);
Index rank(const Matrix& m);
std::vector<Row> kernel(const Matrix& m);
}  // namespace exact

}  // namespace quorvel
