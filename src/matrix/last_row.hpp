// The last-row reductions and the rank on packed rows.
//
// On a rectangular 0/1 matrix every entry test of the entry-by-entry
// implementation passes, "equals 1" and "is not 0" agree, and a row is zero
// exactly when it has no leading position; so the functions here give the
// results, logs and failures of `exact::echelon_form_last_row`,
// `exact::echelon_form_last_row_dep` and `exact::rank` for the same contents,
// reading whole words.
//
// The reductions are called once per incoming row to test it against rows
// that are usually in echelon form already, so they never search a row twice:
// the leading position of every row is found once and kept up to date, a
// scan over rows whose leading positions rise is a binary search, and rows
// are exchanged in a permutation that is applied to the words once, at the
// end.
#pragma once

#include <limits>

#include "packed_algorithms.hpp"
#include "word_ops.hpp"

namespace quorvel::packed {

/// The leading position of a row without a 1.
inline constexpr Index k_no_lead = std::numeric_limits<Index>::max();

/// The column of the first 1 among the `stride` words of `row`, or
/// k_no_lead for a zero row.  The search starts at word `from`: the words
/// before it must be known to be zero.
[[nodiscard]] inline Index leading(const Word* row, Index stride, Index from = 0) {
    // After an addition the new leading position is mostly in the same word.
    if (from < stride && row[from] != 0)
        return from * k_word_bits + lowest_bit(row[from]);
    Index k = from;
    // Zero prefixes are long in echelon forms: test eight words at a time.
    while (k + 8 <= stride && (row[k] | row[k + 1] | row[k + 2] | row[k + 3] | row[k + 4] |
                               row[k + 5] | row[k + 6] | row[k + 7]) == 0)
        k += 8;
    for (; k < stride; ++k)
        if (row[k] != 0)
            return k * k_word_bits + lowest_bit(row[k]);
    return k_no_lead;
}

/// Reduces the last row of `w` against the rows above it and puts the rows
/// in order with one upward pass, as `exact::echelon_form_last_row` does to a
/// copy of the same contents; `w` becomes that copy's final state and the log
/// is returned.  Fails with the exact failure (no rows; neither a matching row
/// nor a candidate for an exchange), after which `w` holds its rows in some
/// intermediate order.
[[nodiscard]] RowLog echelon_form_last_row_in_place(PackedRows& w);

/// The same for `exact::echelon_form_last_row_dep`, which fails only on a
/// matrix without rows.
[[nodiscard]] RowLog echelon_form_last_row_dep_in_place(PackedRows& w);

/// `exact::rank`: the number of distinct columns that hold the first 1 of a
/// row.
[[nodiscard]] Index rank(const PackedRows& m);

}  // namespace quorvel::packed
