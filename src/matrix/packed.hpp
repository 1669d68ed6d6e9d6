// Word-parallel eliminations for matrices whose rows all have the same length
// and whose entries are all 0 or 1.
//
// On such input every check of the entry-by-entry implementation passes, an
// entry is exactly one bit, and "equals 1" and "is not 0" are the same test;
// the functions here give exactly the results, logs and failures of
// `quorvel::exact` for it, 64 entries at a time.  `quorvel::echelon_form` and
// the other entry points in dispatch.cpp pick them when `PackedRows::pack`
// accepts the input.
//
// Layout of `PackedRows`, for ncols = 130 (stride 3 words):
//
//   word:      row r * stride + 0     row r * stride + 1     row r * stride + 2
//   columns:   63 ............ 0      127 ......... 64       [ 0 ... 0 ] 129 128
//              bit 63       bit 0                            unused bits  bit 1  bit 0
//
// Entry (r, c) is bit c % 64 of word c / 64 of row r, the lowest bit first.
// Invariant: the unused bits of a row's last word (columns ncols and up) are
// always 0.  Packing writes them as 0 and every operation only XORs or copies
// whole rows of the same layout, which keeps them 0, so a row is zero exactly
// when all its words are.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "matrix.hpp"

namespace quorvel::packed {

using Word = std::uint64_t;

/// Entries per word.
inline constexpr Index k_word_bits = 64;

/// A rectangular 0/1 matrix packed 64 entries to a word, rows one after the
/// other (see the layout above).
class PackedRows {
public:
    /// The packed form of `m`, or nothing when a row's length differs from
    /// row 0's or an entry is neither 0 nor 1.
    [[nodiscard]] static std::optional<PackedRows> pack(const Matrix& m);

    [[nodiscard]] Index nrows() const { return nrows_; }
    [[nodiscard]] Index ncols() const { return ncols_; }
    /// Words per row: ncols / 64 rounded up.
    [[nodiscard]] Index stride() const { return stride_; }

    [[nodiscard]] Word* row(Index r) { return words_.data() + r * stride_; }
    [[nodiscard]] const Word* row(Index r) const { return words_.data() + r * stride_; }

    /// The byte rows.
    [[nodiscard]] Matrix unpack() const;

    /// Reorders the rows in place: row `order[p]` becomes row p.  `order`
    /// is a permutation of 0 .. nrows-1.
    void permute(const std::vector<Index>& order);

private:
    PackedRows(Index nrows, Index ncols);

    Index nrows_;
    Index ncols_;
    Index stride_;
    std::vector<Word, UninitialisedAllocator<Word>> words_;  // every word is written by pack
};

/// Gauss-Jordan elimination with the log of the row-by-row algorithm, in
/// blocks of pivots that lie in one word of columns.  `w` becomes its reduced
/// row echelon form in place; the log is returned.
[[nodiscard]] RowLog echelon_form_in_place(PackedRows& w);

/// The kernel basis that `exact::kernel` computes, for packed input.
[[nodiscard]] std::vector<Row> kernel(const PackedRows& m);

}  // namespace quorvel::packed
