// Fast paths that work on byte rows: the last-row reductions of a
// rectangular 0/1 matrix, and the rank of any matrix.
//
// The last-row reductions change few rows and return byte rows, so they keep
// the working copy as bytes (XOR 32 entries at a time) and keep the leading
// position of every row instead of searching for it again in each scan.
#pragma once

#include <optional>

#include "matrix.hpp"

namespace quorvel::binary {

/// The last-row reductions of `exact` for a matrix of at least one row.
/// Nothing when a row's length differs from row 0's or an entry is neither
/// 0 nor 1, and nothing when the reduction fails: the exact reduction then
/// gives the result, or raises the failure at its own check.
[[nodiscard]] std::optional<Elimination> echelon_form_last_row(const Matrix& m);
[[nodiscard]] std::optional<Elimination> echelon_form_last_row_dep(const Matrix& m);

/// `exact::rank` for every input, with the first 1 of a row found by memchr.
[[nodiscard]] Index rank(const Matrix& m);

}  // namespace quorvel::binary
