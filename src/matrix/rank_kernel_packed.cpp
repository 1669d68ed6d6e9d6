// Rank and kernel read off packed rows.
#include "packed_algorithms.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <numeric>

#include "word_ops.hpp"

namespace quorvel::packed {

// ---------------------------------------------------------------------------
// Kernel.
//
// The pivot map is visited in ascending column order, so the value given to
// pivot column p of the vector of free column f is
//   a_p = parity(row_q & v)  (v[p] is still 0 then),
// where v holds 1 at f and the values of the pivots before p.  For all free
// columns at once: let A_t be the bitset over columns whose bit f is a_{p_t}
// for free column f.  Then A_t = (row_t restricted to the free columns) plus
// the A_s of the earlier pivots s whose column holds a 1 in row_t.  On an
// echelon form no row has a 1 in an earlier pivot column and A_t is just the
// free part of row_t.
// ---------------------------------------------------------------------------
PackedRows kernel(const PackedRows& m) {
    const Index n = m.nrows();
    const Index width = m.ncols();
    const Index stride = m.stride();

    // Staircase walk.
    std::vector<Index> pivots;  // pivots[t]: the column of pivot t, held by row t
    for (Index j = 0; j < width && pivots.size() < n; ++j)
        if (bit(m.row(pivots.size()), j))
            pivots.push_back(j);
    const Index rank = pivots.size();
    if (width == rank)
        return {};

    std::vector<Word> free_columns(stride, ~Word{0});
    free_columns[stride - 1] = last_word_mask(width);
    for (const Index p : pivots)
        free_columns[word_of(p)] &= ~(Word{1} << bit_of(p));
    std::vector<Word> earlier_pivots(stride, 0);

    // values[t * stride ...]: A_t.
    std::vector<Word> values(rank * stride);
    for (Index t = 0; t < rank; ++t) {
        const Word* row = m.row(t);
        Word* a = values.data() + t * stride;
        bool dependent = false;
        for (Index k = 0; k < stride; ++k) {
            a[k] = row[k] & free_columns[k];
            dependent = dependent || (row[k] & earlier_pivots[k]) != 0;
        }
        if (dependent)
            for (Index s = 0; s < t; ++s)
                if (bit(row, pivots[s]))
                    xor_into(a, values.data() + s * stride, stride);
        set_bit(earlier_pivots.data(), pivots[t]);
    }

    // Vector of free column f: 1 at f, bit f of A_t at pivot column p_t.
    // A_t is read 64 pivots by 64 free columns at a time, transposed.
    PackedRows basis(width - rank, width);
    std::fill(basis.row(0), basis.row(0) + basis.nrows() * stride, Word{0});
    std::array<Word, 64> square{};
    Index next_vector = 0;
    for (Index k = 0; k < stride; ++k) {
        if (free_columns[k] == 0)
            continue;
        const Index first_vector = next_vector;
        for (Word f = free_columns[k]; f != 0; f &= f - 1)
            basis.row(next_vector++)[k] = Word{1} << lowest_bit(f);
        for (Index t0 = 0; t0 < rank; t0 += 64) {
            const Index count = std::min<Index>(64, rank - t0);
            Word any = 0;
            for (Index t = 0; t < count; ++t) {
                square[t] = values[(t0 + t) * stride + k];
                any |= square[t];
            }
            if (any == 0)
                continue;
            for (Index t = count; t < 64; ++t)
                square[t] = 0;
            transpose64(square.data());
            // square[b]: for free column 64k + b, the pivots t0 + t set.
            Index vector = first_vector;
            for (Word f = free_columns[k]; f != 0; f &= f - 1, ++vector) {
                Word* v = basis.row(vector);
                for (Word set = square[lowest_bit(f)]; set != 0; set &= set - 1) {
                    const Index p = pivots[t0 + lowest_bit(set)];
                    set_bit(v, p);
                }
            }
        }
    }
    return basis;
}

Index rank(const PackedRows& m) {
    const Index stride = m.stride();
    std::vector<Word> seen(stride, 0);
    Index distinct = 0;
    for (Index r = 0; r < m.nrows(); ++r) {
        const Index j = leading(m.row(r), stride);
        if (j == k_no_lead)
            continue;
        distinct += bit(seen.data(), j) ? Index{0} : Index{1};
        set_bit(seen.data(), j);
    }
    return distinct;
}

}  // namespace quorvel::packed
