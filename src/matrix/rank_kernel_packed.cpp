// Rank and kernel read off packed rows.
#include "packed_algorithms.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <numeric>

#include "last_row.hpp"
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
//
// A_t is kept only in the words that hold a free column: a random square
// matrix has one or two of them, and its kernel then reads little more than
// the part of each row left of the previous pivot, where the earlier pivot
// columns lie.
// ---------------------------------------------------------------------------
namespace {

struct Staircase {
    std::vector<Index> pivots;      // pivots[t]: the column of pivot t, held by row t
    std::vector<Word> free_mask;    // the free columns, as a row (when there are any)
    std::vector<Index> free_words;  // the words of free_mask that are not 0
};

Staircase staircase(const PackedRows& m) {
    const Index n = m.nrows();
    const Index width = m.ncols();
    Staircase s;
    s.pivots.reserve(std::min(n, width));
    for (Index j = 0; j < width && s.pivots.size() < n; ++j)
        if (bit(m.row(s.pivots.size()), j))
            s.pivots.push_back(j);
    if (s.pivots.size() == width)
        return s;  // no free column, and possibly no word at all
    s.free_mask.assign(m.stride(), ~Word{0});
    s.free_mask.back() = last_word_mask(width);
    for (const Index p : s.pivots)
        s.free_mask[word_of(p)] &= ~(Word{1} << bit_of(p));
    for (Index k = 0; k < m.stride(); ++k)
        if (s.free_mask[k] != 0)
            s.free_words.push_back(k);
    return s;
}

// values[t * free_words ...]: A_t over the words that hold free columns.
std::vector<Word> pivot_values(const PackedRows& m, const Staircase& s) {
    const Index rank = s.pivots.size();
    const Index nf = s.free_words.size();
    std::vector<Word> values(rank * nf);
    std::vector<Word> earlier_pivots(m.stride(), 0);
    for (Index t = 0; t < rank; ++t) {
        const Word* row = m.row(t);
        Word* a = values.data() + t * nf;
        for (Index i = 0; i < nf; ++i)
            a[i] = row[s.free_words[i]] & s.free_mask[s.free_words[i]];
        // The earlier pivots all lie at or left of pivot t - 1.
        bool dependent = false;
        const Index words = t == 0 ? 0 : word_of(s.pivots[t - 1]) + 1;
        for (Index k = 0; k < words; ++k)
            dependent = dependent || (row[k] & earlier_pivots[k]) != 0;
        if (dependent)
            for (Index e = 0; e < t; ++e)
                if (bit(row, s.pivots[e]))
                    xor_into(a, values.data() + e * nf, nf);
        set_bit(earlier_pivots.data(), s.pivots[t]);
    }
    return values;
}

}  // namespace

PackedRows kernel(const PackedRows& m) {
    const Index width = m.ncols();
    const Staircase s = staircase(m);
    const Index rank = s.pivots.size();
    if (width == rank)
        return {};
    const std::vector<Word> values = pivot_values(m, s);
    const Index nf = s.free_words.size();

    // Vector of free column f: 1 at f, bit f of A_t at pivot column p_t.
    // A_t is read 64 pivots by 64 free columns at a time, transposed.
    PackedRows basis(width - rank, width);
    std::fill(basis.row(0), basis.row(0) + basis.nrows() * m.stride(), Word{0});
    std::array<Word, 64> square{};
    Index next_vector = 0;
    for (Index i = 0; i < nf; ++i) {
        const Index k = s.free_words[i];
        const Index first_vector = next_vector;
        for (Word f = s.free_mask[k]; f != 0; f &= f - 1)
            basis.row(next_vector++)[k] = Word{1} << lowest_bit(f);
        for (Index t0 = 0; t0 < rank; t0 += 64) {
            const Index count = std::min<Index>(64, rank - t0);
            Word any = 0;
            for (Index t = 0; t < count; ++t) {
                square[t] = values[(t0 + t) * nf + i];
                any |= square[t];
            }
            if (any == 0)
                continue;
            for (Index t = count; t < 64; ++t)
                square[t] = 0;
            transpose64(square.data());
            // square[b]: for free column 64k + b, the pivots t0 + t set.
            Index vector = first_vector;
            for (Word f = s.free_mask[k]; f != 0; f &= f - 1, ++vector) {
                Word* v = basis.row(vector);
                for (Word set = square[lowest_bit(f)]; set != 0; set &= set - 1)
                    set_bit(v, s.pivots[t0 + lowest_bit(set)]);
            }
        }
    }
    return basis;
}

Index rank(const PackedRows& m) {
    std::vector<Index> lead(m.nrows());
    find_leads(m, lead.data());
    return distinct_leading_positions(m.nrows(), [&](Index i) { return lead[i]; });
}

}  // namespace quorvel::packed
