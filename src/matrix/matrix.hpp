// A dense matrix over GF(2).
//
// Entries are stored exactly as given (0 to 255); the algebra means 0 and 1,
// and nothing normalises other values.  Rows may differ in length: a mismatch
// only shows as an index failure at the first entry that does not exist.
// `ncols()` is the length of row 0 (0 without rows), and every operation that
// needs a column count uses that rule.
//
// Two representations hold the same contents, and no result depends on which
// one a matrix has:
//   - packed: every row has ncols() entries and every entry is 0 or 1.  The
//     rows are held as bits in one allocation (packed_rows.hpp).  A matrix
//     without rows is packed, without columns: its first row sets the width.
//   - bytes: one vector of bytes per row, for everything else.
// A matrix stays packed for as long as its contents allow; an edit that would
// break that first moves it to bytes, then runs on the bytes.  It does not go
// back.  Results of operations are packed whenever their contents allow.
#pragma once

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "failure.hpp"
#include "packed_rows.hpp"
#include "row_log.hpp"

namespace quorvel {

/// The leading positions of rows, one per row (k_no_lead for a row without
/// a 1).
using LeadBuffer = std::vector<Index, UninitialisedAllocator<Index>>;

/// The leading position of every row of a packed matrix, for as long as they
/// are known.  They are known for rows that came one by one, as the
/// constructor takes them, and for the result of a last-row reduction, and
/// every edit keeps them up to date or forgets them.  A reduction against
/// them need not search every row again.
class KnownLeads {
public:
    /// Known, none yet (for a matrix without rows), or not known.
    explicit KnownLeads(bool known = true) : known_(known) {}
    KnownLeads(const KnownLeads& other) : known_(other.known_), leads_(block_copy(other.leads_)) {}
    KnownLeads& operator=(const KnownLeads& other) {
        if (this != &other)
            *this = KnownLeads(other);
        return *this;
    }
    KnownLeads(KnownLeads&&) noexcept = default;
    KnownLeads& operator=(KnownLeads&&) noexcept = default;
    ~KnownLeads() = default;

    /// Whether packed rows of `ncols` columns keep their leading positions.
    [[nodiscard]] static bool kept_for(Index ncols);

    [[nodiscard]] bool known() const { return known_; }
    /// One per row, or empty when they are not known.
    [[nodiscard]] std::span<const Index> get() const {
        return known_ ? std::span<const Index>(leads_) : std::span<const Index>();
    }

    /// Takes the positions of all the rows.
    void take(LeadBuffer leads) {
        leads_ = std::move(leads);
        known_ = true;
    }
    /// Forgets them; known again, none yet, if `again` (no rows are left).
    void forget(bool again = false) {
        known_ = again;
        leads_.clear();
    }
    /// Appends the position of a new last row, if the others' are known;
    /// forgets them all should memory run out.
    void push(Index lead);
    /// Makes room for `rows` rows, if they are known.
    void reserve(Index rows) {
        if (known_)
            leads_.reserve(rows);
    }
    /// Row r (known) now leads at `lead`.
    void set(Index r, Index lead) { leads_[r] = lead; }
    /// Exchanges the positions of two rows, if they are known.
    void swap(Index a, Index b) {
        if (known_)
            std::swap(leads_[a], leads_[b]);
    }

private:
    bool known_;
    LeadBuffer leads_;
};

class Matrix {
public:
    /// No rows.
    Matrix() = default;
    /// The given rows, packed when their contents allow.
    explicit Matrix(std::vector<Row> rows);
    /// Packed rows.
    explicit Matrix(packed::PackedRows rows) : leads_(rows.nrows() == 0), bits_(std::move(rows)) {}
    /// Packed rows that an elimination has just brought into reduced row
    /// echelon form.
    [[nodiscard]] static Matrix reduced(packed::PackedRows rows) {
        Matrix m(std::move(rows));
        m.reduced_ = true;
        return m;
    }
    /// Packed rows with the leading position of each, `leads[i]` for row i.
    [[nodiscard]] static Matrix with_leads(packed::PackedRows rows, LeadBuffer leads);
    /// The given rows held as bytes, whatever their contents: for the
    /// entry-by-entry algorithms, and for tests of the byte representation.
    [[nodiscard]] static Matrix from_byte_rows(std::vector<Row> rows);

    /// Number of rows.
    [[nodiscard]] Index nrows() const { return packed_ ? bits_.nrows() : bytes_.size(); }
    /// Length of row 0, or 0 without rows.
    [[nodiscard]] Index ncols() const {
        if (packed_)
            return bits_.ncols();
        return bytes_.empty() ? 0 : bytes_.front().size();
    }

    /// Whether the rows are held packed.
    [[nodiscard]] bool is_packed() const { return packed_; }
    /// Whether the rows are packed and known to be in reduced row echelon
    /// form: true for the result of an elimination until its first edit.
    [[nodiscard]] bool known_reduced() const { return packed_ && reduced_; }
    /// The leading position of every row (k_no_lead for a row without a 1),
    /// when the rows are packed and the positions are known (KnownLeads);
    /// else empty.
    [[nodiscard]] std::span<const Index> known_leads() const {
        return packed_ ? leads_.get() : std::span<const Index>();
    }
    /// The packed rows of a packed matrix.
    [[nodiscard]] const packed::PackedRows& packed_rows() const { return bits_; }
    /// The rows of a matrix held as bytes.
    [[nodiscard]] const std::vector<Row>& byte_rows() const { return bytes_; }
    /// A copy of the rows as bytes, whatever the representation.
    [[nodiscard]] std::vector<Row> to_byte_rows() const;

    /// Row `i` of a matrix held as bytes, unchecked: for the entry-by-entry
    /// loops, whose indexes are in range by construction.
    [[nodiscard]] const Row& row_unchecked(Index i) const { return bytes_[i]; }
    [[nodiscard]] Row& row_unchecked(Index i) { return bytes_[i]; }
    /// Length of row `i` (in range), whatever the representation.
    [[nodiscard]] Index row_length(Index i) const { return packed_ ? bits_.ncols() : bytes_[i].size(); }

    /// The column of the first entry of row `i` (in range) that equals 1,
    /// or k_no_lead when none does.
    [[nodiscard]] Index leading(Index i) const;

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
    void append_row(std::span<const Byte> v);

    /// Appends v[i] to the end of row i for every row; fails at the first row
    /// that `v` has no entry for, keeping the entries already appended.  If
    /// memory runs out, throws with the matrix unchanged.
    void append_column(std::span<const Byte> v);

    /// Makes room for `rows` rows in all; only a hint.
    void reserve_rows(Index rows);

    /// Moves a matrix held as bytes to packed storage when its contents
    /// allow.  Nothing changes when they do not, or when memory runs out.
    void pack_if_possible() noexcept;

    /// "[[1, 0], [0, 1]]": the same text as Python prints for to_list().
    [[nodiscard]] std::string to_string() const;

    /// Same rows with the same entries, whatever the representations.
    friend bool operator==(const Matrix& a, const Matrix& b);

private:
    // The check of a row index against the row count.
    void check_row(Index i, std::source_location where = std::source_location::current()) const {
        check_index(i, nrows(), where);
    }

    // Moves the rows to bytes, each with room for `room` more entries.  If
    // memory runs out, throws and the matrix is unchanged.
    void move_to_bytes(Index room = 0);
    // The packed rows as bytes, each with room for `room` more entries.
    [[nodiscard]] std::vector<Row> unpacked_rows(Index room) const;

    // Appends the leading position of the last packed row, if the others'
    // are known.
    void note_last_lead();

    bool packed_ = true;
    bool reduced_ = false;     // see known_reduced(); every edit clears it
    KnownLeads leads_;         // when packed_
    packed::PackedRows bits_;  // when packed_
    std::vector<Row> bytes_;   // otherwise
};

/// Builds a matrix row by row from rows given as bytes, packing as it goes
/// for as long as the rows allow.  The first row that does not fit moves the
/// rows so far to bytes, and the rest follow as bytes.
class MatrixBuilder {
public:
    /// `expected_rows`: how many rows will probably come, a hint for the
    /// allocation made at the first row.
    explicit MatrixBuilder(Index expected_rows = 0) : expected_(expected_rows) {}

    /// Appends one row.
    void append(std::span<const Byte> row) {
        matrix_.append_row(row);
        if (matrix_.nrows() == 1 && expected_ > 1)
            matrix_.reserve_rows(expected_);
    }

    /// The matrix built.
    [[nodiscard]] Matrix finish() && { return std::move(matrix_); }

private:
    Index expected_;
    Matrix matrix_;
};

/// The result of an elimination: the transformed copy and its log.
struct Elimination {
    Matrix matrix;
    RowLog log;
};

}  // namespace quorvel
