// Bit-packed storage for rectangular 0/1 matrices.
//
// Layout, for ncols = 130 (stride 3 words):
//
//   word:      row r * stride + 0     row r * stride + 1     row r * stride + 2
//   columns:   63 ............ 0      127 ......... 64       [ 0 ... 0 ] 129 128
//              bit 63       bit 0                            unused bits  bit 1  bit 0
//
// Entry (r, c) is bit c % 64 of word c / 64 of row r, the lowest bit first.
// All rows live in one allocation, one after the other.
// Invariant: the unused bits of a row's last word (columns ncols and up) are
// always 0.  Packing writes them as 0 and every operation only XORs or copies
// whole rows of the same layout, which keeps them 0, so a row is zero exactly
// when all its words are.
// Invariant: a matrix without rows has no columns either, however it came to
// be (an empty range of rows, the last row dropped), so that no reader can
// find the width of the rows it once had.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "row_log.hpp"

namespace quorvel {

using Byte = std::uint8_t;
using Row = std::vector<Byte>;
class Matrix;

namespace packed {

using Word = std::uint64_t;

/// Entries per word.
inline constexpr Index k_word_bits = 64;

/// Words per row of `ncols` entries.
[[nodiscard]] constexpr Index words_for(Index ncols) { return (ncols + k_word_bits - 1) / k_word_bits; }

/// Packs `cols` bytes into words_for(cols) words, the unused bits 0; false
/// when a byte is neither 0 nor 1 (the words are then meaningless).
[[nodiscard]] bool pack_row(const Byte* bytes, Index cols, Word* out);

/// Writes entries 0 .. cols-1 of a packed row as bytes 0 and 1.
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
    [[nodiscard]] Byte get(Index r, Index c) const {
        return static_cast<Byte>((row(r)[c / k_word_bits] >> (c % k_word_bits)) & 1U);
    }
    /// True when row r holds no 1.
    [[nodiscard]] bool is_zero_row(Index r) const;

    /// The byte rows, held as bytes.
    [[nodiscard]] Matrix unpack() const;

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
