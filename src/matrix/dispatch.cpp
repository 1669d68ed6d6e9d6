// The eliminations as the binding calls them: the word-parallel paths for
// rectangular 0/1 matrices, the exact entry-by-entry ones for everything
// else.  On the input that they accept the fast paths give the same results,
// logs and failures as the exact ones.
#include "binary.hpp"
#include "echelon.hpp"
#include "packed.hpp"

namespace quorvel {

// On 0/1 entries the pivot tests "== 1" and "!= 0" agree, and so do XOR and
// the low bit of the sum: both methods are the same elimination.
Elimination echelon_form(const Matrix& m) {
    if (auto packed = packed::PackedRows::pack(m)) {
        RowLog log = packed::echelon_form_in_place(*packed);
        return {packed->unpack(), std::move(log)};
    }
    return exact::echelon_form(m);
}

Elimination row_echelon_full_matrix(const Matrix& m) {
    if (auto packed = packed::PackedRows::pack(m)) {
        RowLog log = packed::echelon_form_in_place(*packed);
        return {packed->unpack(), std::move(log)};
    }
    return exact::row_echelon_full_matrix(m);
}

Elimination echelon_form_last_row(const Matrix& m) {
    if (m.nrows() != 0)
        if (auto result = binary::echelon_form_last_row(m))
            return std::move(*result);
    return exact::echelon_form_last_row(m);
}

Elimination echelon_form_last_row_dep(const Matrix& m) {
    if (m.nrows() != 0)
        if (auto result = binary::echelon_form_last_row_dep(m))
            return std::move(*result);
    return exact::echelon_form_last_row_dep(m);
}

Index rank(const Matrix& m) { return binary::rank(m); }

std::vector<Row> kernel(const Matrix& m) {
    if (auto packed = packed::PackedRows::pack(m))
        return packed::kernel(*packed);
    return exact::kernel(m);
}

}  // namespace quorvel
