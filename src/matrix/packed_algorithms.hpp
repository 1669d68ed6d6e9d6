// Word-parallel eliminations for matrices whose rows all have the same length
// and whose entries are all 0 or 1.
//
// On such input every check of the entry-by-entry implementation passes, an
// entry is exactly one bit, and "equals 1" and "is not 0" are the same test;
// the functions here give exactly the results, logs and failures of
// `quorvel::exact` for it, 64 entries at a time.  `quorvel::echelon_form` and
// the other entry points in dispatch.cpp pick them for packed matrices.
//
// The storage itself, `PackedRows`, is described in packed_rows.hpp.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "matrix.hpp"
#include "packed_rows.hpp"

namespace quorvel::packed {

/// Gauss-Jordan elimination with the log of the row-by-row algorithm, in
/// blocks of pivots that lie in one word of columns.  `w` becomes its reduced
/// row echelon form in place; the log is returned.
[[nodiscard]] RowLog echelon_form_in_place(PackedRows& w);

/// The kernel basis that `exact::kernel` computes, for packed input, one
/// vector per row.
[[nodiscard]] PackedRows kernel(const PackedRows& m);

}  // namespace quorvel::packed
