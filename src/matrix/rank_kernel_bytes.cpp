// Rank and kernel read off a matrix in echelon form, entry by entry.
#include <algorithm>
#include <utility>

#include "algorithms.hpp"
#include "last_row.hpp"

namespace quorvel::exact {
namespace {

// `m` held as bytes: `m` itself, or a copy made in `copy`.
const Matrix& as_bytes(const Matrix& m, Matrix& copy) {
    if (!m.is_packed())
        return m;
    copy = Matrix::from_byte_rows(m.to_byte_rows());
    return copy;
}

}  // namespace

Index rank(const Matrix& input) {
    Matrix copy;
    const Matrix& m = as_bytes(input, copy);
    std::vector<Index> leads(m.nrows());
    for (Index i = 0; i < m.nrows(); ++i)
        leads[i] = m.leading(i);
    return distinct_leading_positions(leads);
}

std::vector<Row> kernel(const Matrix& input) {
    Matrix copy;
    const Matrix& m = as_bytes(input, copy);
    const Index n = m.nrows();
    const Index width = m.ncols();

    // Staircase walk: column j is the pivot of the next row when that row
    // holds exactly 1 there.  Pivots come out in ascending column order, the
    // order in which they are visited below.
    std::vector<std::pair<Index, Index>> pivots;  // (column, row)
    std::vector<Index> free_columns;
    for (Index j = 0; j < width; ++j) {
        const Index r = pivots.size();
        if (r < n) {
            const Row& row = m.row_unchecked(r);
            check_index(j, row.size());
            if (row[j] == 1) {
                pivots.emplace_back(j, r);
                continue;
            }
        }
        free_columns.push_back(j);
    }

    std::vector<Row> basis;
    basis.reserve(free_columns.size());
    std::vector<Index> nonzero;  // positions where v is not 0
    for (const Index f : free_columns) {
        Row v(width, 0);
        v[f] = 1;
        nonzero.assign(1, f);
        for (const auto& [p, q] : pivots) {
            const Row& row = m.row_unchecked(q);
            // a = XOR over k = width-1 .. 0, k != p, of row[k] * v[k].  The
            // product vanishes where v is 0, so only those positions are
            // summed; but every k is checked against the row's length, in
            // descending order.  A short row fails at k = width - 1 already:
            // the walk read the row at p, so p < row.size() < width.
            if (row.size() < width)
                check_index(width - 1, row.size());
            Byte a = 0;
            for (const Index k : nonzero)
                if (k != p)
                    a ^= static_cast<Byte>(row[k] * v[k]);
            v[p] = a;
            if (a != 0)
                nonzero.push_back(p);
        }
        basis.push_back(std::move(v));
    }
    return basis;
}

}  // namespace quorvel::exact
