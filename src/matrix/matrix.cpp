#include "matrix.hpp"

#include <algorithm>
#include <new>
#include <utility>

#include "word_ops.hpp"

namespace quorvel {
namespace {

bool all_binary(std::span<const Byte> v) { return packed::all_binary(v.data(), v.size()); }

}  // namespace

// Rows of a few words find their leading position in one or two loads, and
// the position would add more than a fifth to the row.
bool KnownLeads::kept_for(Index ncols) { return ncols > 4 * packed::k_word_bits; }

void KnownLeads::push(Index lead) {
    if (!known_)
        return;
    try {
        leads_.push_back(lead);
    } catch (const std::bad_alloc&) {
        forget();
    }
}

Matrix::Matrix(std::vector<Row> rows) : packed_(false), bytes_(std::move(rows)) { pack_if_possible(); }

Matrix Matrix::with_leads(packed::PackedRows rows, LeadBuffer leads) {
    Matrix m(std::move(rows));
    if (KnownLeads::kept_for(m.bits_.ncols()) && m.bits_.nrows() != 0 && leads.size() == m.bits_.nrows())
        m.leads_.take(std::move(leads));
    return m;
}

void Matrix::note_last_lead() {
    if (!leads_.known())
        return;
    const Index last = bits_.nrows() - 1;
    if (last == 0 && !KnownLeads::kept_for(bits_.ncols()))
        leads_.forget();
    else
        leads_.push(packed::leading(bits_.row(last), bits_.stride()));
}

Matrix Matrix::from_byte_rows(std::vector<Row> rows) {
    Matrix m;
    m.packed_ = false;
    m.bytes_ = std::move(rows);
    return m;
}

std::vector<Row> Matrix::to_byte_rows() const {
    if (!packed_)
        return bytes_;
    return unpacked_rows(0);
}

std::vector<Row> Matrix::unpacked_rows(Index room) const {
    std::vector<Row> rows;
    rows.reserve(bits_.nrows());
    for (Index r = 0; r < bits_.nrows(); ++r) {
        Row out;
        out.reserve(bits_.ncols() + room);
        out.resize(bits_.ncols());
        packed::unpack_row(bits_.row(r), bits_.ncols(), out.data());
        rows.push_back(std::move(out));
    }
    return rows;
}

void Matrix::move_to_bytes(Index room) {
    std::vector<Row> rows = unpacked_rows(room);
    bytes_ = std::move(rows);
    packed_ = false;
    bits_ = packed::PackedRows();
    leads_.forget();
}

void Matrix::pack_if_possible() noexcept {
    if (packed_)
        return;
    try {
        if (auto bits = packed::PackedRows::pack(*this)) {
            bits_ = std::move(*bits);
            leads_.forget(bits_.nrows() == 0);  // rows appended later keep theirs
            packed_ = true;
            std::vector<Row>().swap(bytes_);
        }
    } catch (const std::bad_alloc&) {
        // The bytes stay; they hold the same contents.
    }
}

void Matrix::reserve_rows(Index rows) {
    try {
        if (packed_) {
            bits_.reserve_rows(rows);
            leads_.reserve(rows);
        } else
            bytes_.reserve(rows);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
}

Byte Matrix::get(Index row, Index col) const {
    check_row(row);
    if (packed_) {
        check_index(col, bits_.ncols());
        return bits_.get(row, col);
    }
    const Row& r = bytes_[row];
    check_index(col, r.size());
    return r[col];
}

Index Matrix::leading(Index i) const {
    if (packed_)
        return packed::leading(bits_.row(i), bits_.stride());
    const Row& row = bytes_[i];
    const auto it = std::find(row.begin(), row.end(), Byte{1});
    return it == row.end() ? k_no_lead : static_cast<Index>(it - row.begin());
}

Matrix Matrix::sub_matrix(Index start, Index end) const {
    if (end < start)
        panic(slice_order_message(start, end));
    if (end > nrows())
        panic(slice_end_message(end, nrows()));
    if (packed_)
        return Matrix(bits_.sub_rows(start, end));
    return Matrix(std::vector<Row>(bytes_.begin() + static_cast<std::ptrdiff_t>(start),
                                   bytes_.begin() + static_cast<std::ptrdiff_t>(end)));
}

void Matrix::add_rows(Index target, Index source) {
    reduced_ = false;
    const Index width = ncols();
    if (width == 0)
        return;
    // Column by column the checks run: source row, entry of source, target
    // row, entry of target.  The row checks cannot change between columns, so
    // they are made once, in the order in which column 0 meets them; the entry
    // checks first fail at the shorter row's length.  Packed rows all have
    // `width` entries, so only the row checks can fail there.
    check_row(source);
    if (packed_) {
        check_row(target);
        packed::xor_into(bits_.row(target), bits_.row(source), bits_.stride());
        if (leads_.known())
            leads_.set(target, packed::leading(bits_.row(target), bits_.stride()));
        return;
    }
    const Row& from = bytes_[source];
    check_index(0, from.size());
    check_row(target);
    Row& to = bytes_[target];
    const Index common = std::min({width, Index{from.size()}, Index{to.size()}});
    Byte* out = to.data();
    const Byte* in = from.data();
    for (Index i = 0; i < common; ++i)
        out[i] ^= in[i];
    if (common < width) {
        check_index(common, from.size());
        check_index(common, to.size());
    }
}

void Matrix::swap_rows(Index row1, Index row2) {
    reduced_ = false;
    check_index(row1, nrows());
    check_index(row2, nrows());
    if (!packed_) {
        std::swap(bytes_[row1], bytes_[row2]);
        return;
    }
    if (row1 != row2) {
        packed::swap_words(bits_.row(row1), bits_.row(row2), bits_.stride());
        leads_.swap(row1, row2);
    }
}

bool Matrix::is_zero_row(Index row) const {
    check_row(row);
    if (packed_)
        return bits_.is_zero_row(row);
    const Row& r = bytes_[row];
    return std::all_of(r.begin(), r.end(), [](Byte b) { return b == 0; });
}

void Matrix::append_row(std::span<const Byte> v) {
    reduced_ = false;
    if (packed_) {
        if (bits_.nrows() == 0) {
            // The first row sets the width.
            packed::PackedRows first(1, v.size());
            if (packed::pack_row(v.data(), v.size(), first.row(0))) {
                bits_ = std::move(first);
                note_last_lead();
                return;
            }
        } else if (v.size() == bits_.ncols()) {
            // Packed into the new row in place; the row is dropped again if
            // it turns out not to be 0/1.
            Word* row = bits_.push_row();
            if (packed::pack_row(v.data(), v.size(), row)) {
                note_last_lead();
                return;
            }
            bits_.pop_row();
        }
        move_to_bytes();
    }
    bytes_.emplace_back(v.begin(), v.end());
}

void Matrix::append_column(std::span<const Byte> v) {
    reduced_ = false;
    if (packed_ && nrows() != 0) {
        if (v.size() >= nrows() && all_binary(v.first(nrows()))) {
            bits_.push_column(v.data());
            leads_.forget();
            return;
        }
        move_to_bytes(1);
    } else if (!packed_) {
        // Room for the new entry in every row that gets one, before any is
        // written: should memory run out, no row has changed.
        const Index rows = std::min<Index>(nrows(), v.size());
        for (Index i = 0; i < rows; ++i) {
            Row& row = bytes_[i];
            if (row.size() == row.capacity())
                row.reserve(std::max<Index>(2 * row.size(), 8));
        }
    }
    for (Index i = 0; i < nrows(); ++i) {
        check_index(i, v.size());
        bytes_[i].push_back(v[i]);
    }
}

std::string Matrix::to_string() const {
    std::string out = "[";
    const Index n = nrows();
    for (Index i = 0; i < n; ++i) {
        if (i != 0)
            out += ", ";
        out += '[';
        const Index len = row_length(i);
        for (Index j = 0; j < len; ++j) {
            if (j != 0)
                out += ", ";
            if (packed_)
                out += static_cast<char>('0' + bits_.get(i, j));
            else
                out += std::to_string(bytes_[i][j]);
        }
        out += ']';
    }
    out += ']';
    return out;
}

bool operator==(const Matrix& a, const Matrix& b) {
    if (a.packed_ && b.packed_)
        return a.bits_ == b.bits_;
    const Index n = a.nrows();
    if (b.nrows() != n)
        return false;
    for (Index i = 0; i < n; ++i) {
        const Index len = a.row_length(i);
        if (b.row_length(i) != len)
            return false;
        for (Index j = 0; j < len; ++j) {
            const Byte x = a.packed_ ? a.bits_.get(i, j) : a.bytes_[i][j];
            const Byte y = b.packed_ ? b.bits_.get(i, j) : b.bytes_[i][j];
            if (x != y)
                return false;
        }
    }
    return true;
}

}  // namespace quorvel
