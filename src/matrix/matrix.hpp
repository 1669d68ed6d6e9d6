// A dense matrix over GF(2), held as a list of rows of bytes.
//
// Entries are stored exactly as given (0 to 255); the algebra means 0 and 1,
// and nothing normalises other values.  Rows may differ in length: a mismatch
// only shows as an index failure at the first entry that does not exist.
// `ncols()` is the length of row 0 (0 without rows), and every operation that
// needs a column count uses that rule.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "failure.hpp"
#include "row_log.hpp"

namespace quorvel {

using Byte = std::uint8_t;
using Row = std::vector<Byte>;

class Matrix {
public:
    Matrix() = default;
    explicit Matrix(std::vector<Row> rows) : elements_(std::move(rows)) {}

    /// Number of rows.
    [[nodiscard]] Index nrows() const { return elements_.size(); }
    /// Length of row 0, or 0 without rows.
    [[nodiscard]] Index ncols() const { return elements_.empty() ? 0 : elements_.front().size(); }

    /// Row `i`, checked against the row count.
    [[nodiscard]] const Row& row(Index i,
                                 std::source_location where = std::source_location::current()) const {
        check_index(i, nrows(), where);
        return elements_[i];
    }
    [[nodiscard]] Row& row(Index i, std::source_location where = std::source_location::current()) {
        check_index(i, nrows(), where);
        return elements_[i];
    }

    /// Row `i` without a check, for loops whose indexes are in range by
    /// construction.
    [[nodiscard]] const Row& row_unchecked(Index i) const { return elements_[i]; }
    [[nodiscard]] Row& row_unchecked(Index i) { return elements_[i]; }

    /// All rows, for reading.
    [[nodiscard]] const std::vector<Row>& rows() const { return elements_; }
    /// Hands the rows over, leaving the matrix without rows.
    [[nodiscard]] std::vector<Row> take_rows() && { return std::move(elements_); }

    /// Entry (row, col), checked against the row count and that row's own length.
    [[nodiscard]] Byte get(Index row, Index col) const;

    /// A copy of rows start .. end-1, each whole.
    [[nodiscard]] Matrix sub_matrix(Index start, Index end) const;

    /// Row target ^= row source over the first ncols() entries.  Entries
    /// before a failing entry check keep their new values.
    void add_rows(Index target, Index source);

    /// Exchanges two whole rows, lengths included.
    void swap_rows(Index row1, Index row2);

    /// True when every entry of the row (to its own end) is 0.
    [[nodiscard]] bool is_zero_row(Index row) const;

    /// Appends `v` as a new last row, whatever its length.
    void append_row(Row v);

    /// Appends v[i] to the end of row i for every row; fails at the first row
    /// that `v` has no entry for, keeping the entries already appended.
    void append_column(const Row& v);

    /// "[[1, 0], [0, 1]]": the same text as Python prints for to_list().
    [[nodiscard]] std::string to_string() const;

    friend bool operator==(const Matrix&, const Matrix&) = default;

private:
    std::vector<Row> elements_;
};

/// The result of an elimination: the transformed copy and its log.
struct Elimination {
    Matrix matrix;
    RowLog log;
};

}  // namespace quorvel
