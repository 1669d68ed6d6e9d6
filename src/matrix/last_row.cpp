// The last-row reduction: the packed half for packed matrices, the byte half
// for matrices held as bytes, which give the same results, logs and failures
// on packed input.
#include "algorithms.hpp"
#include "packed_algorithms.hpp"

namespace quorvel {

Elimination echelon_form_last_row(const Matrix& m) {
    if (m.is_packed())
        return packed::echelon_form_last_row(m.packed_rows(), m.known_leads());
    return exact::echelon_form_last_row(m);
}

Elimination echelon_form_last_row_dep(const Matrix& m) {
    if (m.is_packed())
        return packed::echelon_form_last_row_dep(m.packed_rows(), m.known_leads());
    return exact::echelon_form_last_row_dep(m);
}

}  // namespace quorvel
