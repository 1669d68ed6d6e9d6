#include "matrix.hpp"

#include <algorithm>
#include <utility>

namespace quorvel {

Byte Matrix::get(Index row, Index col) const {
    const Row& r = this->row(row);
    check_index(col, r.size());
    return r[col];
}

Matrix Matrix::sub_matrix(Index start, Index end) const {
    if (end < start)
        panic("slice index starts at " + std::to_string(start) + " but ends at " +
              std::to_string(end));
    if (end > nrows())
        panic("range end index " + std::to_string(end) + " out of range for slice of length " +
              std::to_string(nrows()));
    return Matrix(std::vector<Row>(elements_.begin() + static_cast<std::ptrdiff_t>(start),
                                   elements_.begin() + static_cast<std::ptrdiff_t>(end)));
}

void Matrix::add_rows(Index target, Index source) {
    const Index width = ncols();
    if (width == 0)
        return;
    // Column by column the checks run: source row, entry of source, target
    // row, entry of target.  The row checks cannot change between columns, so
    // they are made once, in the order in which column 0 meets them; the entry
    // checks first fail at the shorter row's length.
    const Row& from = row(source);
    check_index(0, from.size());
    Row& to = row(target);
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
    check_index(row1, nrows());
    check_index(row2, nrows());
    std::swap(elements_[row1], elements_[row2]);
}

bool Matrix::is_zero_row(Index row) const {
    const Row& r = this->row(row);
    return std::all_of(r.begin(), r.end(), [](Byte b) { return b == 0; });
}

void Matrix::append_row(Row v) { elements_.push_back(std::move(v)); }

void Matrix::append_column(const Row& v) {
    for (Index i = 0; i < nrows(); ++i) {
        check_index(i, v.size());
        elements_[i].push_back(v[i]);
    }
}

std::string Matrix::to_string() const {
    std::string out = "[";
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        if (i != 0)
            out += ", ";
        out += '[';
        const Row& r = elements_[i];
        for (std::size_t j = 0; j < r.size(); ++j) {
            if (j != 0)
                out += ", ";
            out += std::to_string(r[j]);
        }
        out += ']';
    }
    out += ']';
    return out;
}

}  // namespace quorvel
