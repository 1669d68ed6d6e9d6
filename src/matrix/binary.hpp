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

/// A copy of `m` when every row has ncols entries, each 0 or 1.
[[nodiscard]] std::optional<Matrix> copy_if_binary(const Matrix& m);

/// The last-row reductions of `exact` on a copy that `copy_if_binary` made,
/// of at least one row.  Nothing when the reduction fails: the exact
/// reduction then raises the failure at its own check.
[[nodiscard]] std::optional<Elimination> echelon_form_last_row(Matrix&& w);
[[nodiscard]] Elimination echelon_form_last_row_dep(Matrix&& w);

/// `exact::rank` for every input, with the first 1 of a row found by memchr.
[[nodiscard]] Index rank(const Matrix& m);

}  // namespace quorvel::binary
