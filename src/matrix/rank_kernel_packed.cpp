// Rank and kernel read off packed rows.
#include "packed_algorithms.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <numeric>

#include "last_row.hpp"
#include "memory.hpp"
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
// the part of each row left of its pivot, where the earlier pivot columns
// lie; on a matrix known to be reduced, only the words around the pivot and
// the free columns.
// ---------------------------------------------------------------------------
namespace {

// Buffers that are written in full before they are read.
template <class T>
using Buffer = std::vector<T, UninitialisedAllocator<T>>;

struct Staircase {
    Buffer<Index> pivots;           // pivots[t]: the column of pivot t, held by row t
    bool clean = true;              // no row has a 1 left of its pivot
    std::vector<Word> free_mask;    // the free columns, as a row (when there are any)
    std::vector<Index> free_words;  // the words of free_mask that are not 0

    /// Free word i of `row`, its free columns only: A_t of a clean staircase.
    [[nodiscard]] Word free_part(const Word* row, Index i) const {
        const Index k = free_words[i];
        return row[k] & free_mask[k];
    }
};

// The first 1 of `row` at or after column `from` (< the row's width), or
// k_no_lead.
Index first_one_from(const Word* row, Index stride, Index from) {
    const Word head = row[word_of(from)] & ~low_bits(bit_of(from));
    if (head != 0)
        return word_of(from) * k_word_bits + lowest_bit(head);
    return leading(row, stride, word_of(from) + 1);
}

// The pivot of row t is its first 1 right of pivot t - 1, and the walk ends
// at the first row without one.  In an echelon form that is the row's first
// 1 of all, so no row has a 1 in an earlier pivot column: the staircase is
// clean.  As pivots rise, pivot t lies at or right of column t, and the
// words left of that column are tested without waiting for the pivot above.
// The 64 rows of one word of t share those words, so each 64 rows are tested
// in one pass of a fixed length, after the walk has gone through them; a
// matrix known to be reduced needs no such test.  The pivots of each word of
// columns are gathered in a register on the way.
Staircase staircase(const PackedRows& m, bool reduced) {
    const Index n = m.nrows();
    const Index width = m.ncols();
    const Index stride = m.stride();
    // Locals, not the members of s, so that the walk keeps them in registers.
    Buffer<Index> pivots(std::min(n, width));
    std::vector<Word> free_mask(stride, ~Word{0});
    if (stride != 0)
        free_mask.back() = last_word_mask(width);
    Index rank = 0;
    Index from = 0;  // the column after the last pivot
    Word taken = 0;  // the pivots found in word `taken_word` of the columns
    Index taken_word = 0;
    bool clean = true;
    for (Index t0 = 0; t0 < n; t0 += k_word_bits) {
        const Index end = std::min(n, t0 + k_word_bits);
        const Word* row = m.row(t0);
        Index t = t0;
        for (; t < end && from < width; ++t, row += stride) {
            const Index near = first_one_from(row, stride, t0);
            const Index pivot = near >= from ? near : first_one_from(row, stride, from);
            if (pivot == k_no_lead)
                break;
            pivots[t] = pivot;
            clean = clean && near >= from;
            from = pivot + 1;
            if (word_of(pivot) != taken_word) {
                free_mask[taken_word] &= ~taken;
                taken = 0;
                taken_word = word_of(pivot);
            }
            taken |= Word{1} << bit_of(pivot);
        }
        rank = t;
        clean = clean && (reduced || !any_set(m.row(t0), stride, t - t0, word_of(t0)));
        if (t < end)
            break;
    }
    pivots.resize(rank);
    Staircase s{std::move(pivots), clean, {}, {}};
    if (rank == width)
        return s;  // no free column, and possibly no word at all
    free_mask[taken_word] &= ~taken;
    for (Index k = 0; k < stride; ++k)
        if (free_mask[k] != 0)
            s.free_words.push_back(k);
    s.free_mask = std::move(free_mask);
    return s;
}

// values[t * free_words ...]: A_t over the words that hold free columns, for
// a staircase that is not clean.
Buffer<Word> pivot_values(const PackedRows& m, const Staircase& s) {
    const Index rank = s.pivots.size();
    const Index nf = s.free_words.size();
    Buffer<Word> values(rank * nf);
    for (Index t = 0; t < rank; ++t) {
        const Word* row = m.row(t);
        Word* a = values.data() + t * nf;
        for (Index i = 0; i < nf; ++i)
            a[i] = s.free_part(row, i);
    }
    std::vector<Word> earlier_pivots(m.stride(), 0);
    for (Index t = 0; t < rank; ++t) {
        const Word* row = m.row(t);
        // The earlier pivots all lie at or left of pivot t - 1.
        const Index words = t == 0 ? 0 : word_of(s.pivots[t - 1]) + 1;
        if (any_common_bit(row, earlier_pivots.data(), words))
            for (Index e = 0; e < t; ++e)
                if (bit(row, s.pivots[e]))
                    xor_into(values.data() + t * nf, values.data() + e * nf, nf);
        set_bit(earlier_pivots.data(), s.pivots[t]);
    }
    return values;
}

// The basis vector of free column f: 1 at f, bit f of A_t at pivot column
// p_t; value(t, i) gives A_t in free word i.
template <class Value>
PackedRows null_basis(Index width, const Staircase& s, Value&& value) {
    const Index rank = s.pivots.size();
    PackedRows basis(width - rank, width);
    std::fill(basis.row(0), basis.row(0) + basis.nrows() * basis.stride(), Word{0});
    std::array<Word, 64> square{};
    Index next_vector = 0;
    for (Index i = 0; i < s.free_words.size(); ++i) {
        const Index k = s.free_words[i];
        const Index first_vector = next_vector;
        each_set_bit(s.free_mask[k], [&](unsigned f) { basis.row(next_vector++)[k] = Word{1} << f; });
        const auto free_here = static_cast<Index>(std::popcount(s.free_mask[k]));
        if (free_here <= 2 || free_here * rank <= 512) {
            // Few free columns here, or few pivots: their bits read one by
            // one cost less than the transposes of every 64 pivots.  The
            // pivots rise, so the bits of each word of the vector gather in
            // a register, without a branch on their values (which would be
            // mispredicted every other time).
            Index vector = first_vector;
            each_set_bit(s.free_mask[k], [&](unsigned f) {
                Word* v = basis.row(vector++);
                Index word = 0;
                Word bits = 0;
                for (Index t = 0; t < rank; ++t) {
                    const Index p = s.pivots[t];
                    if (word_of(p) != word) {
                        v[word] |= bits;
                        bits = 0;
                        word = word_of(p);
                    }
                    bits |= ((value(t, i) >> f) & 1U) << bit_of(p);
                }
                v[word] |= bits;
            });
            continue;
        }
        // A_t read 64 pivots by 64 free columns at a time, transposed.
        for (Index t0 = 0; t0 < rank; t0 += 64) {
            const Index count = std::min<Index>(64, rank - t0);
            Word any = 0;
            for (Index t = 0; t < count; ++t) {
                square[t] = value(t0 + t, i);
                any |= square[t];
            }
            if (any == 0)
                continue;
            for (Index t = count; t < 64; ++t)
                square[t] = 0;
            transpose64(square.data());
            // square[b]: for free column 64k + b, the pivots t0 + t set.
            Index vector = first_vector;
            each_set_bit(s.free_mask[k], [&](unsigned f) {
                Word* v = basis.row(vector++);
                each_set_bit(square[f], [&](unsigned t) { set_bit(v, s.pivots[t0 + t]); });
            });
        }
    }
    return basis;
}

}  // namespace

PackedRows kernel(const PackedRows& m, bool reduced) {
    const Index width = m.ncols();
    const Staircase s = staircase(m, reduced);
    if (width == s.pivots.size())
        return {};
    if (s.clean) {
        // A_t is the free part of row t itself.
        return null_basis(width, s, [&](Index t, Index i) { return s.free_part(m.row(t), i); });
    }
    const Buffer<Word> values = pivot_values(m, s);
    const Index nf = s.free_words.size();
    return null_basis(width, s, [&](Index t, Index i) { return values[t * nf + i]; });
}

Index rank(const PackedRows& m) {
    std::vector<Index> leads(m.nrows());
    find_leads(m, leads.data());
    return distinct_leading_positions(leads);
}

}  // namespace quorvel::packed
