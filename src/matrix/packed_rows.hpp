// Bit-packed storage for rectangular 0/1 matrices.
//
// Layout, for ncols = 130 (stride 3 words):
//
//   word:      row r * stride + 0     row r * stride + 1     row r * stride + 2
//   columns:   63 ............ 0      127 ......... 64       [ 0 ... 0 ] 129 128
//              bit 63       bit 0                            unused bits  bit 1  bit 0
//
// Entry (r, c) is bit c % 64 of word c / 64 of row r (bit(row(r), c)), the
// lowest bit first.
// All rows live in one allocation, one after the other.
// Invariant: the unused bits of a row's last word (columns ncols and up) are
// always 0.  Packing writes them as 0 and every operation only XORs or copies
// whole rows of the same layout, which keeps them 0, so a row is zero exactly
// when all its words are.
// Invariant: a matrix without rows has no columns either, however it came to
// be (an empty range of rows, the last row dropped), so that no reader can
// find the width of the rows it once had.
#pragma once

#include <bit>
#include <optional>
#include <vector>

#include "memory.hpp"
#include "types.hpp"

namespace quorvel {

class Matrix;

namespace packed {

// Bit addressing.  Every bitset of the core (packed rows, and the bitsets of
// rows and columns the algorithms keep) numbers its bits this way.

/// Entries per word.
inline constexpr Index k_word_bits = 64;

/// Words for `count` bits.
[[nodiscard]] constexpr Index words_for(Index count) { return (count + k_word_bits - 1) / k_word_bits; }
/// The word that holds bit `c`.
[[nodiscard]] constexpr Index word_of(Index c) { return c / k_word_bits; }
/// The place of bit `c` in its word.
[[nodiscard]] constexpr unsigned bit_of(Index c) { return static_cast<unsigned>(c % k_word_bits); }
/// Bit `c` of a bitset.
[[nodiscard]] inline bool bit(const Word* words, Index c) { return ((words[word_of(c)] >> bit_of(c)) & 1U) != 0; }
/// Sets bit `c` of a bitset.
inline void set_bit(Word* words, Index c) { words[word_of(c)] |= Word{1} << bit_of(c); }
/// Bits 0 .. n-1 of a word, n <= 64.
[[nodiscard]] constexpr Word low_bits(unsigned n) { return n >= k_word_bits ? ~Word{0} : (Word{1} << n) - 1; }
/// The bits of the last word of a row of `ncols` entries that hold entries;
/// the others, the unused bits, are 0 in every packed row.
[[nodiscard]] constexpr Word last_word_mask(Index ncols) { return low_bits(bit_of(ncols - 1) + 1); }
/// Index of the lowest set bit of a non-zero word.
[[nodiscard]] inline unsigned lowest_bit(Word word) { return static_cast<unsigned>(std::countr_zero(word)); }
/// visit(b) for every set bit b of `word`, lowest first.
template <class Visit>
void each_set_bit(Word word, Visit&& visit) {
    for (; word != 0; word &= word - 1)
        visit(lowest_bit(word));
}

/// The column of the first 1 among the `stride` words of `row`, or
/// k_no_lead for a zero row (whose unused bits are 0).  The search starts at word `from`: the words
/// before it must be known to be zero.
[[nodiscard]] inline Index leading(const Word* row, Index stride, Index from = 0) {
    // After an addition the new leading position is mostly in the same word.
    if (from < stride && row[from] != 0)
        return from * k_word_bits + lowest_bit(row[from]);
    Index k = from;
    // Zero prefixes are long in echelon forms: test eight words at a time.
    while (k + 8 <= stride && (row[k] | row[k + 1] | row[k + 2] | row[k + 3] | row[k + 4] |
                               row[k + 5] | row[k + 6] | row[k + 7]) == 0)
        k += 8;
    for (; k < stride; ++k)
        if (row[k] != 0)
            return k * k_word_bits + lowest_bit(row[k]);
    return k_no_lead;
}

/// The one packing: `cols` bytes into words_for(cols) words, the unused bits
/// 0; false when a byte is neither 0 nor 1 (the words are then meaningless).
[[nodiscard]] bool pack_row(const Byte* bytes, Index cols, Word* out);

/// The one unpacking: entries 0 .. cols-1 of a packed row as bytes 0 and 1.
void unpack_row(const Word* row, Index cols, Byte* out);

/// A rectangular 0/1 matrix packed 64 entries to a word (see the layout above).
class PackedRows {
public:
    /// No rows, no columns.
    PackedRows() = default;
    /// `nrows` rows of `ncols` entries whose words the caller writes; no
    /// columns when `nrows` is 0.
    PackedRows(Index nrows, Index ncols);

    PackedRows(const PackedRows& other);
    PackedRows& operator=(const PackedRows& other);
    /// Moving leaves `other` without rows or columns.
    PackedRows(PackedRows&& other) noexcept;
    PackedRows& operator=(PackedRows&& other) noexcept;

    /// The packed form of `m`, or nothing when a row's length differs from
    /// row 0's or an entry is neither 0 nor 1.
    [[nodiscard]] static std::optional<PackedRows> pack(const Matrix& m);

    [[nodiscard]] Index nrows() const { return nrows_; }
    [[nodiscard]] Index ncols() const { return ncols_; }
    /// Words per row: ncols / 64 rounded up.
    [[nodiscard]] Index stride() const { return stride_; }

    [[nodiscard]] Word* row(Index r) { return words_.data() + r * stride_; }
    [[nodiscard]] const Word* row(Index r) const { return words_.data() + r * stride_; }

    /// Entry (r, c), unchecked.
    [[nodiscard]] Byte get(Index r, Index c) const { return bit(row(r), c) ? 1 : 0; }
    /// True when row r holds no 1.
    [[nodiscard]] bool is_zero_row(Index r) const;

    /// Reorders the rows in place: row `order[p]` becomes row p.  `order`
    /// is a permutation of 0 .. nrows-1.
    void permute(const std::vector<Index>& order);

    /// Rows start .. end-1 (in range) as a matrix of their own.
    [[nodiscard]] PackedRows sub_rows(Index start, Index end) const;

    /// Makes room for `rows` rows in all.
    void reserve_rows(Index rows) { words_.reserve(rows * stride_); }
    /// Appends a row whose words the caller writes; returns it.
    [[nodiscard]] Word* push_row();
    /// Drops the last row; the width goes with the last one.
    void pop_row();
    /// Appends entry v[r] (0 or 1) to every row r.
    void push_column(const Byte* v);

    /// Same shape and entries.
    friend bool operator==(const PackedRows& a, const PackedRows& b);

private:
    Index nrows_ = 0;
    Index ncols_ = 0;
    Index stride_ = 0;
    std::vector<Word, UninitialisedAllocator<Word>> words_;  // nrows * stride, all written
};

}  // namespace packed
}  // namespace quorvel
