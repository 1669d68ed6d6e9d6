// Reduced row echelon forms: the packed half for packed matrices, the byte
// half for matrices held as bytes.  On packed input both give the same
// results, logs and failures.  Results are packed whenever their contents
// allow.
#include "algorithms.hpp"
#include "packed_algorithms.hpp"

namespace quorvel {
namespace {

// The byte result, packed when its contents allow.
Elimination packed_if_possible(Elimination result) {
    result.matrix.pack_if_possible();
    return result;
}

}  // namespace

// On 0/1 entries the pivot tests "== 1" and "!= 0" agree, and so do XOR and
// the low bit of the sum: both methods are the same elimination.
Elimination echelon_form(const Matrix& m) {
    if (m.is_packed())
        return packed::on_copy(packed::echelon_form_in_place, m);
    return exact::echelon_form(m);
}

Elimination row_echelon_full_matrix(const Matrix& m) {
    if (m.is_packed())
        return packed::on_copy(packed::echelon_form_in_place, m);
    // (a + b) mod 2 can leave only 0s and 1s behind.
    return packed_if_possible(exact::row_echelon_full_matrix(m));
}

}  // namespace quorvel
