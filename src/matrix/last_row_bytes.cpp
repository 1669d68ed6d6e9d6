// The last-row reduction on rows held as bytes (rules in last_row.hpp).
#include <utility>

#include "algorithms.hpp"
#include "last_row.hpp"

namespace quorvel::exact {
namespace {

// A working copy of the rows, read and edited through the matrix's own
// checked edits, so that every check and failure happens where the edit
// would make it.
class ByteRows {
public:
    static constexpr bool k_ordered_scan = false;

    explicit ByteRows(const Matrix& input) : w_(Matrix::from_byte_rows(input.to_byte_rows())) {}

    [[nodiscard]] Index count() const { return w_.nrows(); }
    [[nodiscard]] Index width() const { return w_.ncols(); }
    [[nodiscard]] Index leading(Index i) const { return w_.leading(i); }
    [[nodiscard]] bool is_zero(Index i) const { return w_.is_zero_row(i); }
    void add(Index target, Index source, Index /*lead*/) { w_.add_rows(target, source); }
    void exchange(Index a, Index b) { w_.swap_rows(a, b); }

    [[nodiscard]] Matrix take() && { return std::move(w_); }

private:
    Matrix w_;
};

template <bool Dep>
Elimination reduce(const Matrix& input) {
    ByteRows rows(input);
    RowLog log = reduce_last_row<Dep>(rows);
    return {std::move(rows).take(), std::move(log)};
}

}  // namespace

Elimination echelon_form_last_row(const Matrix& m) { return reduce<false>(m); }
Elimination echelon_form_last_row_dep(const Matrix& m) { return reduce<true>(m); }

}  // namespace quorvel::exact
