// The last-row reduction, entry by entry.
//
// One procedure serves both methods; the `dep` variant differs in five rules:
//   (D1) the initial best distance is n - 1 instead of n;
//   (D2) a row without a 1 met in the scan becomes the candidate only if
//        there is none yet, and the scan goes on instead of stopping;
//   (D3) an iteration without a match or a candidate returns the copy as it
//        is instead of failing;
//   (D4) the upward pass starts at row n - 2 instead of n - 1;
//   (D5) equal leading positions in the upward pass are added only when the
//        shared position is the last column.
#include <algorithm>
#include <optional>

#include "algorithms.hpp"

namespace quorvel::exact {
namespace {

// Index of the first entry equal to 1.
std::optional<Index> leading(const Row& row) {
    const auto it = std::find(row.begin(), row.end(), Byte{1});
    if (it == row.end())
        return std::nullopt;
    return static_cast<Index>(it - row.begin());
}

template <bool Dep>
Elimination reduce_last_row(const Matrix& input) {
    const Index n = input.nrows();
    // The last-row index n - 1, wrapped as an unsigned index, fails the check.
    check_index(n - 1, n);
    Matrix w = Matrix::from_byte_rows(input.to_byte_rows());
    RowLog log(n);
    const Index last = n - 1;
    const Index limit = w.row_unchecked(0).size();

    bool last_row_cleared = false;
    for (Index iteration = 0; iteration < limit; ++iteration) {
        const std::optional<Index> p = leading(w.row_unchecked(last));
        if (!p) {
            last_row_cleared = true;
            break;
        }
        Index best = Dep ? n - 1 : n;                                       // (D1)
        std::optional<Index> candidate;
        std::optional<Index> match;
        for (Index i = 0; i + 1 < n; ++i) {
            const std::optional<Index> q = leading(w.row_unchecked(i));
            if (q == p) {
                match = i;
                break;
            }
            if (!q) {                                                       // (D2)
                if (!candidate)
                    candidate = i;
                if (Dep)
                    continue;
                break;
            }
            if (*q > *p && *q - *p < best) {
                candidate = i;
                best = *q - *p;
            }
        }
        if (match) {
            w.add_rows(last, *match);
            log.push(last, *match);
        } else if (candidate) {
            w.swap_rows(last, *candidate);
            log.push_exchange(*candidate, last);
        } else if constexpr (Dep) {
            return {std::move(w), std::move(log)};                          // (D3)
        } else {
            panic(k_unwrap_none);
        }
    }
    if (!last_row_cleared)
        return {std::move(w), std::move(log)};

    // Upward pass over neighbouring rows, from the bottom up, once.
    // t runs from n - 1, or n - 2 for `dep`, down to 1.
    const Index start = Dep ? n - 1 : n;                                    // (D4)
    for (Index t = start; t-- > 1;) {
        const Index u = t - 1;
        const Row& row_t = w.row_unchecked(t);
        if (std::all_of(row_t.begin(), row_t.end(), [](Byte b) { return b == 0; }))
            continue;
        const std::optional<Index> pt = leading(row_t);
        if (!pt)
            panic(k_unwrap_none);
        const std::optional<Index> pu = leading(w.row_unchecked(u));
        if (!pu || *pt < *pu) {
            w.swap_rows(t, u);
            log.push_exchange(t, u);
        } else if (*pt == *pu) {
            if (!Dep || *pt + 1 == w.row_unchecked(0).size()) {            // (D5)
                w.add_rows(t, u);
                log.push(t, u);
            }
        }
    }
    return {std::move(w), std::move(log)};
}

}  // namespace

Elimination echelon_form_last_row(const Matrix& m) { return reduce_last_row<false>(m); }
Elimination echelon_form_last_row_dep(const Matrix& m) { return reduce_last_row<true>(m); }

}  // namespace quorvel::exact
