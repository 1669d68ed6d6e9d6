// The eliminations as the binding calls them: the word-parallel paths for
// packed matrices, the exact entry-by-entry ones for matrices held as bytes.
// On packed input the word-parallel paths give the same results, logs and
// failures as the exact ones.  Results are packed whenever their contents
// allow.
#include "algorithms.hpp"
#include "packed_algorithms.hpp"
#include "last_row.hpp"

namespace quorvel {
namespace {

// The exact result, packed when its contents allow.
Elimination packed_if_possible(Elimination result) {
    result.matrix.pack_if_possible();
    return result;
}

// A reduction of packed rows on a packed copy, its result kept packed.
Elimination reduce_packed(RowLog (*reduce)(packed::PackedRows&), const Matrix& m) {
    packed::PackedRows w = m.packed_rows();
    RowLog log = reduce(w);
    return {Matrix(std::move(w)), std::move(log)};
}

}  // namespace

// On 0/1 entries the pivot tests "== 1" and "!= 0" agree, and so do XOR and
// the low bit of the sum: both methods are the same elimination.
Elimination echelon_form(const Matrix& m) {
    if (m.is_packed())
        return reduce_packed(packed::echelon_form_in_place, m);
    return exact::echelon_form(m);
}

Elimination row_echelon_full_matrix(const Matrix& m) {
    if (m.is_packed())
        return reduce_packed(packed::echelon_form_in_place, m);
    // (a + b) mod 2 can leave only 0s and 1s behind.
    return packed_if_possible(exact::row_echelon_full_matrix(m));
}

Elimination echelon_form_last_row(const Matrix& m) {
    if (m.is_packed())
        return reduce_packed(packed::echelon_form_last_row_in_place, m);
    return exact::echelon_form_last_row(m);
}

Elimination echelon_form_last_row_dep(const Matrix& m) {
    if (m.is_packed())
        return reduce_packed(packed::echelon_form_last_row_dep_in_place, m);
    return exact::echelon_form_last_row_dep(m);
}

Index rank(const Matrix& m) {
    if (m.is_packed())
        return packed::rank(m.packed_rows());
    return exact::rank(m);
}

Matrix kernel(const Matrix& m) {
    if (m.is_packed())
        return Matrix(packed::kernel(m.packed_rows()));
    return Matrix(exact::kernel(m));
}

}  // namespace quorvel
