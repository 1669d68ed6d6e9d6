// Reduced row echelon forms, entry by entry.
#include "algorithms.hpp"

namespace quorvel::exact {
namespace {

// The two methods run one elimination and differ in three points: the pivot
// test, the arithmetic of the clearing addition, and the order of its two
// length checks.
enum class Variant { echelon_form, full_matrix };

// Row r += pivot row i over the first m entries, as (a + b) mod 2, checking
// row r's length before the pivot row's at every entry.
void add_low_bit(Matrix& w, Index r, Index i, Index m) {
    Row& to = w.row_unchecked(r);
    const Row& from = w.row_unchecked(i);
    for (Index x = 0; x < m; ++x) {
        check_index(x, to.size());
        check_index(x, from.size());
        to[x] = static_cast<Byte>((to[x] + from[x]) & 1U);
    }
}

template <Variant V>
Elimination eliminate(const Matrix& input) {
    Matrix w = Matrix::from_byte_rows(input.to_byte_rows());
    const Index n = w.nrows();
    const Index m = w.ncols();
    RowLog log(n);
    Index i = 0;
    for (Index j = 0; j < m && i < n; ++j) {
        Index k = i;
        for (; k < n; ++k) {
            const Row& candidate = w.row_unchecked(k);
            check_index(j, candidate.size());
            const bool pivot = V == Variant::echelon_form ? candidate[j] == 1 : candidate[j] != 0;
            if (pivot)
                break;
        }
        if (k == n)
            continue;
        if (k != i) {
            w.swap_rows(i, k);
            log.push_exchange(i, k);
        }
        for (Index r = 0; r < n; ++r) {
            if (r == i)
                continue;
            const Row& target = w.row_unchecked(r);
            check_index(j, target.size());
            if (target[j] != 1)
                continue;
            if constexpr (V == Variant::echelon_form)
                w.add_rows(r, i);
            else
                add_low_bit(w, r, i, m);
            log.push(r, i);
        }
        ++i;
    }
    return {std::move(w), std::move(log)};
}

}  // namespace

Elimination echelon_form(const Matrix& m) { return eliminate<Variant::echelon_form>(m); }
Elimination row_echelon_full_matrix(const Matrix& m) { return eliminate<Variant::full_matrix>(m); }

}  // namespace quorvel::exact
