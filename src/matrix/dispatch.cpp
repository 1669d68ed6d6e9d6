// The eliminations as the binding calls them: the word-parallel paths for
// packed matrices, the exact entry-by-entry ones for matrices held as bytes.
// On packed input the word-parallel paths give the same results, logs and
// failures as the exact ones.  Results are packed whenever their contents
// allow.
#include "echelon.hpp"
#include "packed.hpp"

#include <type_traits>

namespace quorvel {
namespace {

// The exact result, packed when its contents allow.
Elimination packed_if_possible(Elimination result) {
    result.matrix.pack_if_possible();
    return result;
}

// On 0/1 entries the pivot tests "== 1" and "!= 0" agree, and so do XOR and
// the low bit of the sum: both methods are the same elimination.
Elimination echelon_form_packed(const Matrix& m) {
    packed::PackedRows w = m.packed_rows();
    RowLog log = packed::echelon_form_in_place(w);
    return {Matrix(std::move(w)), std::move(log)};
}

// TEMPORARY: the last-row reductions and the rank of a packed matrix run the
// exact rules on a byte copy, until their word-parallel versions
// (packed::echelon_form_last_row_in_place, packed::echelon_form_last_row_dep_in_place
// and packed::rank) take their place here.
template <class Result>
Result on_byte_copy(Result (*exact_rule)(const Matrix&), const Matrix& m) {
    if constexpr (std::is_same_v<Result, Elimination>)
        return packed_if_possible(exact_rule(m));
    else
        return exact_rule(m);
}

}  // namespace

Elimination echelon_form(const Matrix& m) {
    if (m.is_packed())
        return echelon_form_packed(m);
    return exact::echelon_form(m);
}

Elimination row_echelon_full_matrix(const Matrix& m) {
    if (m.is_packed())
        return echelon_form_packed(m);
    // (a + b) mod 2 can leave only 0s and 1s behind.
    return packed_if_possible(exact::row_echelon_full_matrix(m));
}

Elimination echelon_form_last_row(const Matrix& m) {
    if (m.is_packed())
        return on_byte_copy(exact::echelon_form_last_row, m);
    return exact::echelon_form_last_row(m);
}

Elimination echelon_form_last_row_dep(const Matrix& m) {
    if (m.is_packed())
        return on_byte_copy(exact::echelon_form_last_row_dep, m);
    return exact::echelon_form_last_row_dep(m);
}

Index rank(const Matrix& m) {
    if (m.is_packed())
        return on_byte_copy(exact::rank, m);
    return exact::rank(m);
}

Matrix kernel(const Matrix& m) {
    if (m.is_packed())
        return Matrix(packed::kernel(m.packed_rows()));
    return Matrix(exact::kernel(m));
}

}  // namespace quorvel
