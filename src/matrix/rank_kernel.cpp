// Rank and kernel: the packed half for packed matrices, the byte half for
// matrices held as bytes, which give the same results and failures on packed
// input.
#include "algorithms.hpp"
#include "packed_algorithms.hpp"

namespace quorvel {

Index rank(const Matrix& m) {
    if (m.is_packed())
        return packed::rank(m.packed_rows());
    return exact::rank(m);
}

Matrix kernel(const Matrix& m) {
    if (m.is_packed())
        return Matrix(packed::kernel(m.packed_rows(), m.known_reduced()));
    return Matrix(exact::kernel(m));
}

}  // namespace quorvel
