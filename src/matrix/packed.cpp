// Packing, and the eliminations on packed rows.
#include "packed.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <numeric>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "word_ops.hpp"

namespace quorvel::packed {
namespace {

constexpr Word k_low_bits = 0x0101010101010101ULL;

// Eight bytes of 0/1 entries (entry k in byte k) to eight bits (entry k in
// bit k): the multiplication moves byte k's bit to bit 56 + k without
// carries, as no two of the 64 partial products share a bit position.
inline unsigned gather_bits(Word bytes) { return static_cast<unsigned>((bytes * 0x0102040810204080ULL) >> 56); }

// Bit k of `bits` to byte k.
constexpr std::array<Word, 256> make_spread() {
    std::array<Word, 256> table{};
    for (unsigned b = 0; b < 256; ++b)
        for (unsigned k = 0; k < 8; ++k)
            if ((b >> k) & 1U)
                table[b] |= Word{1} << (8 * k);
    return table;
}
constexpr std::array<Word, 256> k_spread = make_spread();

// Packs one row of `cols` bytes; false when an entry is neither 0 nor 1.
bool pack_row(const Byte* bytes, Index cols, Word* out) {
    Word seen = 0;
    Index c = 0;
#ifdef __SSE2__
    // 16 entries at a time: shifted into each byte's top bit, which
    // movemask gathers.
    __m128i seen_wide = _mm_setzero_si128();
    for (; c + 64 <= cols; c += 64) {
        Word word = 0;
        for (unsigned b = 0; b < 4; ++b) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + c + 16 * b));
            seen_wide = _mm_or_si128(seen_wide, v);
            word |= Word{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_slli_epi64(v, 7)))} << (16 * b);
        }
        *out++ = word;
    }
    Word halves[2];
    std::memcpy(halves, &seen_wide, sizeof halves);
    seen = halves[0] | halves[1];
#else
    for (; c + 64 <= cols; c += 64) {
        Word word = 0;
        for (unsigned b = 0; b < 8; ++b) {
            Word x;
            std::memcpy(&x, bytes + c + 8 * b, 8);
            seen |= x;
            word |= Word{gather_bits(x)} << (8 * b);
        }
        *out++ = word;
    }
#endif
    if (c < cols) {
        Word word = 0;
        unsigned shift = 0;
        for (; c + 8 <= cols; c += 8, shift += 8) {
            Word x;
            std::memcpy(&x, bytes + c, 8);
            seen |= x;
            word |= Word{gather_bits(x)} << shift;
        }
        for (; c < cols; ++c, ++shift) {
            seen |= bytes[c];
            word |= Word{bytes[c] & 1U} << shift;
        }
        *out = word;
    }
    return (seen & ~k_low_bits) == 0;
}

}  // namespace

PackedRows::PackedRows(Index nrows, Index ncols)
    : nrows_(nrows), ncols_(ncols), stride_((ncols + k_word_bits - 1) / k_word_bits),
      words_(nrows * stride_) {}


std::optional<PackedRows> PackedRows::pack(const Matrix& m) {
    const Index cols = m.ncols();
    for (const Row& row : m.rows())
        if (row.size() != cols)
            return std::nullopt;
    PackedRows packed(m.nrows(), cols);
    for (Index r = 0; r < m.nrows(); ++r)
        if (!pack_row(m.row_unchecked(r).data(), cols, packed.row(r)))
            return std::nullopt;
    return packed;
}

void PackedRows::permute(const std::vector<Index>& order) {
    // Cycle by cycle, with one row held aside.
    std::vector<bool> placed(nrows_, false);
    std::vector<Word> held(stride_);
    const std::size_t bytes = stride_ * sizeof(Word);
    for (Index start = 0; start < nrows_; ++start) {
        if (placed[start] || order[start] == start)
            continue;
        std::memcpy(held.data(), row(start), bytes);
        Index p = start;
        for (Index next = order[p]; next != start; p = next, next = order[p]) {
            std::memcpy(row(p), row(next), bytes);
            placed[p] = true;
        }
        std::memcpy(row(p), held.data(), bytes);
        placed[p] = true;
    }
}

Matrix PackedRows::unpack() const {
    std::vector<Row> rows;
    rows.reserve(nrows_);
    for (Index p = 0; p < nrows_; ++p) {
        const Word* in = row(p);
        Row out(ncols_);
        Byte* bytes = out.data();
        Index c = 0;
        for (; c + 8 <= ncols_; c += 8) {
            const Word spread = k_spread[(in[c / 64] >> (c % 64)) & 0xFFU];
            std::memcpy(bytes + c, &spread, 8);
        }
        for (; c < ncols_; ++c)
            bytes[c] = static_cast<Byte>((in[c / 64] >> (c % 64)) & 1U);
        rows.push_back(std::move(out));
    }
    return Matrix(std::move(rows));
}

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
std::vector<Row> kernel(const PackedRows& m) {
    const Index n = m.nrows();
    const Index width = m.ncols();
    const Index stride = m.stride();

    // Staircase walk.
    std::vector<Index> pivots;  // pivots[t]: the column of pivot t, held by row t
    for (Index j = 0; j < width && pivots.size() < n; ++j)
        if ((m.row(pivots.size())[j / 64] >> (j % 64)) & 1U)
            pivots.push_back(j);
    const Index rank = pivots.size();
    if (width == rank)
        return {};

    std::vector<Word> free_columns(stride, 0);
    for (Index j = 0; j < width; ++j)
        free_columns[j / 64] |= Word{1} << (j % 64);
    std::vector<Word> earlier_pivots(stride, 0);
    for (const Index p : pivots)
        free_columns[p / 64] &= ~(Word{1} << (p % 64));

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
                if ((row[pivots[s] / 64] >> (pivots[s] % 64)) & 1U)
                    xor_into(a, values.data() + s * stride, stride);
        earlier_pivots[pivots[t] / 64] |= Word{1} << (pivots[t] % 64);
    }

    // Vector of free column f: 1 at f, bit f of A_t at pivot column p_t.
    // A_t is read 64 pivots by 64 free columns at a time, transposed.
    std::vector<Row> basis;
    basis.reserve(width - rank);
    std::array<Word, 64> square{};
    for (Index k = 0; k < stride; ++k) {
        if (free_columns[k] == 0)
            continue;
        const std::size_t first_vector = basis.size();
        for (Word f = free_columns[k]; f != 0; f &= f - 1) {
            Row v(width, 0);
            v[64 * k + lowest_bit(f)] = 1;
            basis.push_back(std::move(v));
        }
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
            std::size_t vector = first_vector;
            for (Word f = free_columns[k]; f != 0; f &= f - 1, ++vector) {
                Byte* v = basis[vector].data();
                for (Word set = square[lowest_bit(f)]; set != 0; set &= set - 1)
                    v[pivots[t0 + lowest_bit(set)]] = 1;
            }
        }
    }
    return basis;
}

}  // namespace quorvel::packed
