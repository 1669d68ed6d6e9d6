// The block eliminator behind `packed::echelon_form_in_place`: Gauss-Jordan
// elimination of packed rows, one word of columns at a time, with the exact
// log of the row-by-row algorithm.
//
// The row-by-row algorithm takes pivot after pivot; for each it exchanges the
// pivot row into place and adds it into every other row holding a 1 in the
// pivot column, logging (r, i) for the rows r in ascending order.  Here the
// columns are taken one word (64 columns) at a time, as one block, in three
// parts:
//
// 1. `PivotSearch` finds the block's pivots, in the order and with the
//    exchanges of the row-by-row algorithm.  Only the pivot candidates are
//    looked at, and only their word of this block (their "strip"), brought up
//    to date lazily: a candidate's current strip is its strip at the block's
//    start plus the strips of the pivots it was cleared with, and whether
//    pivot t clears it depends only on its current bit in pivot column t.
//    The pivot rows themselves are computed in full (from this word on) and
//    reduced among themselves, which gives the block's reduced pivot rows P.
// 2. `Tables` adds into every other row r the sum of P_t over the pivots t
//    whose column holds a 1 in r at the block's start: P is the identity on
//    the pivot columns, so this clears them, and it is what the sequence of
//    clearings yields.  Which pivots clear r is a linear function of the same
//    bits, returned as a mask of pivots.  Where enough rows share them, the
//    sums come from tables of all combinations of the pivots of each byte of
//    the strip (Method of Four Russians), one lookup a byte; elsewhere the
//    pivot rows are added one by one.
// 3. `LogEmitter` turns the masks, one per row, into the log: transposed
//    into one bitset of rows per pivot, with the few positions that the
//    block's exchanges touch patched first, they give the log pivot by pivot,
//    rows in ascending order.
//
// Workspace: a few words per row, the pivot rows of one block (at most
// min(64, rows, columns) of them) and tables of at most 2^k rows for a byte
// of k pivots, only where they pay and within a budget that follows the
// number of rows that use them.  All of it is allocated once and reused by
// every block.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "packed_algorithms.hpp"
#include "word_ops.hpp"

namespace quorvel::packed::block {

/// Pivots of one block: at most one per column of its word.
inline constexpr unsigned k_max_pivots = 64;

/// Words of the workspace, left uninitialised until written.
using Words = std::vector<Word, UninitialisedAllocator<Word>>;

/// The pivots that one block finds, pivot t in the order of the row-by-row
/// algorithm.  Columns are counted within the block's word.  Only the
/// entries of pivots 0 .. found-1 (and `at` of their columns) are set.
struct Pivots {
    unsigned found = 0;
    Word columns = 0;                                // bit c: column c holds a pivot
    std::array<unsigned, k_max_pivots> column;       // pivot t's column
    std::array<std::uint8_t, k_max_pivots> at;       // at[column[t]] == t
    std::array<Index, k_max_pivots> exchange_with;   // position exchanged into position first + t
    std::array<Index, k_max_pivots> row;             // the packed row that becomes pivot t
    std::array<Word, k_max_pivots> strip;            // its strip when it becomes pivot t
    std::array<Word, k_max_pivots> before;           // the pivots that cleared it before that
    std::array<Word, k_max_pivots> clears;           // the earlier pivot rows that pivot t clears

    /// unit[t]: the pivots that clear a row (other than a pivot row) whose
    /// strip at the block's start holds a single 1, in column column[t].
    /// Which pivots clear a row is linear in its strip, so these give it
    /// for every row.
    [[nodiscard]] std::array<Word, k_max_pivots> unit_masks() const;
};

/// Part 1: the pivots of a block and the block's reduced pivot rows.
class PivotSearch {
public:
    /// Workspace for `nrows` rows of `stride` words and blocks of at most
    /// `max_pivots` pivots.
    PivotSearch(Index nrows, Index stride, unsigned max_pivots);

    /// Finds the pivots of word `word` of `w` among the rows at positions
    /// first, first + 1, ... of `order` (order[p]: the packed row at position
    /// p), with the exchanges of the row-by-row algorithm applied to `order`.
    /// `w` is only read.  Afterwards reduced_row(t), of stride - word words,
    /// is pivot t's row at the end of the block, from word `word` on.
    void find(const PackedRows& w, std::vector<Index>& order, Index first, Index word, Pivots& p);

    [[nodiscard]] const Word* reduced_row(unsigned t) const { return rows_.data() + t * len_; }
    /// Words of each reduced row: the block's word and those after it.
    [[nodiscard]] Index len() const { return len_; }

private:
    // A candidate's strip, brought up to date with the pivots 0 .. applied-1
    // of block `stamp`, and the mask of those pivots that cleared it.
    struct Candidate {
        Word strip;
        Word cleared_by;
        std::uint32_t stamp;
        std::uint32_t applied;
    };

    void start_block(const PackedRows& w, Index word, Pivots& p);
    Word current_strip(const PackedRows& w, Index r, const Pivots& p);
    [[nodiscard]] Index next_column(const std::vector<Index>& order, Index top, Index n, Index c) const;
    void take_pivot(const PackedRows& w, std::vector<Index>& order, Index top, Index k, unsigned c, Pivots& p);
    // Adds into `row` the rows of the pivots in `pivots`, as they are now.
    void add_pivot_rows(Word* row, Word pivots) const;
    void reduce_pivot_rows(Pivots& p);

    std::vector<Candidate, UninitialisedAllocator<Candidate>> candidates_;
    std::uint32_t block_ = 0;
    Index word_ = 0;
    Index len_ = 0;
    // The pivot rows, len_ words each: as they are when they become pivots,
    // then reduced among themselves.
    Words rows_;
};

/// Part 2: clears the pivot columns of the rows that are not pivot rows.
class Tables {
public:
    /// Prepares the sums for the block of `p`, whose reduced pivot rows are
    /// those of `search`, for `users` rows to reduce.
    void build(const Pivots& p, const PivotSearch& search, Index users);

    /// Adds into `row` (the block's words of a row that is not a pivot row)
    /// the reduced pivot rows of the pivots whose columns hold a 1 in its
    /// strip, row[0].  Returns the mask of the pivots that clear it.
    Word reduce(Word* row) const;

    /// Whether the block has 64 pivots, each byte of the strip its table.
    [[nodiscard]] bool full() const { return full_; }

    /// reduce() when full(): every byte of the strip is its own index into
    /// its table, and the tables lie one after the other.
    Word reduce_full(Word* row) const {
        const Word strip = row[0];
        Word mask = 0;
        for (unsigned q = 0; q < 8; ++q)
            mask ^= masks_[256 * q + ((strip >> (8 * q)) & 0xFFU)];
        xor_byte_sums(row, strip, storage_.data(), len_);
        return mask;
    }

    /// Bytes of the strip that have a table, for tests.
    [[nodiscard]] unsigned tabled_groups() const { return groups_; }

private:
    // The table storage grows to what a block uses, within a budget of the
    // words of the rows that use it or 1 MiB, whichever is more.
    static constexpr Index k_budget_words = Index{1} << 17;

    // Picks the bytes of the strip that get a table; returns the words of
    // their tables.
    Index choose_groups(Word columns, Index users, std::array<unsigned, 8>& group_byte);
    static const std::array<std::uint8_t, 256>& identity_bytes();
    static const std::uint8_t* fill_compress(std::array<std::uint8_t, 256>& compress, unsigned byte_pivots);
    unsigned fill_table(const std::uint8_t* at, unsigned byte_pivots, Word* rows, Word* mask) const;

    std::array<Word, k_max_pivots> unit_{};
    Word direct_columns_ = 0;  // pivot columns whose rows are added one by one
    std::array<std::uint8_t, k_max_pivots> at_{};
    const Word* reduced_ = nullptr;
    Index len_ = 0;
    unsigned groups_ = 0;
    bool full_ = false;  // 64 pivots, each byte with its table
    std::array<unsigned, 8> shift_{};
    std::array<const Word*, 8> table_{};
    std::array<const Word*, 8> mask_table_{};
    // compress_[q][b]: the table index of byte value b of group q's byte,
    // in compress_storage_[q] or, for a byte of eight pivots, the identity.
    std::array<const std::uint8_t*, 8> compress_{};
    std::array<std::array<std::uint8_t, 256>, 8> compress_storage_;
    std::array<Word, 8 * 256> masks_;
    Words storage_;
};

/// Part 3: appends a block's log.
class LogEmitter {
public:
    LogEmitter(Index nrows, unsigned max_pivots);

    /// Appends to `log` the block of `p`, whose pivots went to positions
    /// first, first + 1, ...: for each pivot its exchange, then the rows it
    /// clears in ascending order.  masks[q], for each position q that is not
    /// a pivot position, is the mask of the pivots that clear the row that
    /// holds position q at the block's end.  The positions that the block's
    /// exchanges touch are overwritten.
    void emit(const Pivots& p, Index first, Words& masks, RowLog& log);

private:
    // Overwrites the masks of the positions that the exchanges touch.
    static void patch_exchanged(const Pivots& p, Index first, Words& masks);
    std::array<std::size_t, k_max_pivots> transpose_to_runs(unsigned found, const Words& masks);

    Index nrows_;
    Index chunks_;
    Words bits_;  // bits_[t * chunks_ + c]
};

}  // namespace quorvel::packed::block
