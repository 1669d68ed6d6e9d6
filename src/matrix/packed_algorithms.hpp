// The packed halves of the algorithm families, for matrices whose rows all
// have the same length and whose entries are all 0 or 1.
//
// On such input every check of the byte half passes, an entry is exactly one
// bit, "equals 1" and "is not 0" are the same test, and a row is zero exactly
// when it has no leading position; the functions here give exactly the
// results, logs and failures of `quorvel::exact` for it, 64 entries at a
// time.  The entry points in algorithms.hpp pick them for packed matrices.
//
// The storage itself, `PackedRows`, is described in packed_rows.hpp.
#pragma once

#include <span>
#include <utility>

#include "matrix.hpp"
#include "packed_rows.hpp"

namespace quorvel::packed {

/// Gauss-Jordan elimination with the log of the row-by-row algorithm, in
/// blocks of pivots that lie in one word of columns (echelon_packed.cpp).
/// `w` becomes its reduced row echelon form in place; the log is returned.
[[nodiscard]] RowLog echelon_form_in_place(PackedRows& w);

/// The same, always by the block eliminator, which echelon_form_in_place
/// leaves out for matrices of one word per row and at most 64 rows.
[[nodiscard]] RowLog echelon_form_in_blocks(PackedRows& w);

/// Reduces the last row of a copy of `w` against the rows above it and puts
/// the rows in order with one upward pass, as `exact::echelon_form_last_row`
/// does to a copy of the same contents; returns that copy's final state and
/// the log.  Fails with the byte half's failure (no rows; neither a matching
/// row nor a candidate for an exchange).  `known`: the leading positions of
/// the rows of `w`, if known (Matrix::known_leads), else empty.
[[nodiscard]] Elimination echelon_form_last_row(const PackedRows& w, std::span<const Index> known);
[[nodiscard]] inline Elimination echelon_form_last_row(const PackedRows& w) { return echelon_form_last_row(w, {}); }

/// The same for `exact::echelon_form_last_row_dep`, which fails only on a
/// matrix without rows.
[[nodiscard]] Elimination echelon_form_last_row_dep(const PackedRows& w, std::span<const Index> known);
[[nodiscard]] inline Elimination echelon_form_last_row_dep(const PackedRows& w) {
    return echelon_form_last_row_dep(w, {});
}

/// `exact::rank`: the number of distinct columns that hold the first 1 of a
/// row.
[[nodiscard]] Index rank(const PackedRows& m);

/// lead[r] = leading(w.row(r), w.stride()) for every row r.
void find_leads(const PackedRows& w, Index* lead);

/// The kernel basis that `exact::kernel` computes, one vector per row.
/// `reduced`: `m` is known to be in reduced row echelon form, so no row has
/// a 1 left of its pivot and that need not be tested.
[[nodiscard]] PackedRows kernel(const PackedRows& m, bool reduced = false);

/// The elimination above run on a copy of the rows of `m` (packed),
/// its result kept packed.
[[nodiscard]] inline Elimination on_copy(RowLog (*reduce)(PackedRows&), const Matrix& m) {
    PackedRows w = m.packed_rows();
    RowLog log = reduce(w);
    return {Matrix::reduced(std::move(w)), std::move(log)};
}

}  // namespace quorvel::packed
