// The row-operation log: the ordered row additions (target, source) that turn
// the input of an elimination into its result.  An exchange of rows a and b is
// written as the three additions (a, b), (b, a), (a, b).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace quorvel {

using Index = std::uint64_t;

/// One logged addition: row `source` was added into row `target`.
struct RowOp {
    Index target;
    Index source;
    friend bool operator==(const RowOp&, const RowOp&) = default;
};

/// Row-operation log.  Pairs are stored as two 32-bit indexes whenever the
/// matrix has fewer than 2^32 rows (always, in practice), which halves the
/// memory of logs that hold millions of pairs; wider matrices fall back to
/// 64-bit indexes.
class RowLog {
public:
    /// A log for a matrix of `nrows` rows.
    explicit RowLog(Index nrows = 0)
        : wide_(nrows > std::numeric_limits<std::uint32_t>::max()) {}

    void reserve(std::size_t pairs) {
        if (wide_)
            wide_pairs_.reserve(2 * pairs);
        else
            narrow_pairs_.reserve(2 * pairs);
    }

    void push(Index target, Index source) {
        if (wide_) {
            wide_pairs_.push_back(target);
            wide_pairs_.push_back(source);
        } else {
            narrow_pairs_.push_back(static_cast<std::uint32_t>(target));
            narrow_pairs_.push_back(static_cast<std::uint32_t>(source));
        }
    }

    /// Logs the exchange of rows a and b as its three additions.
    void push_exchange(Index a, Index b) {
        push(a, b);
        push(b, a);
        push(a, b);
    }

    [[nodiscard]] std::size_t size() const {
        return (wide_ ? wide_pairs_.size() : narrow_pairs_.size()) / 2;
    }
    [[nodiscard]] bool empty() const { return size() == 0; }

    [[nodiscard]] RowOp operator[](std::size_t k) const {
        if (wide_)
            return {wide_pairs_[2 * k], wide_pairs_[2 * k + 1]};
        return {narrow_pairs_[2 * k], narrow_pairs_[2 * k + 1]};
    }

    /// The pairs in log order, for tests and replay.
    [[nodiscard]] std::vector<RowOp> pairs() const {
        std::vector<RowOp> out;
        out.reserve(size());
        for (std::size_t k = 0; k < size(); ++k)
            out.push_back((*this)[k]);
        return out;
    }

private:
    bool wide_;
    std::vector<std::uint32_t> narrow_pairs_;
    std::vector<std::uint64_t> wide_pairs_;
};

}  // namespace quorvel
