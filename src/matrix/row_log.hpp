// The row-operation log: the ordered row additions (target, source) that turn
// the input of an elimination into its result.  An exchange of rows a and b is
// written as the three additions (a, b), (b, a), (a, b).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace quorvel {

using Index = std::uint64_t;

/// An allocator that leaves new elements of trivial types uninitialised, so
/// that growing a buffer that is about to be written does not clear it first.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    explicit UninitialisedAllocator(const UninitialisedAllocator<U>& /*unused*/) noexcept {}
    template <class U>
    void construct(U* place) noexcept {
        ::new (static_cast<void*>(place)) U;
    }
    template <class U, class... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

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

    /// Reserves room for `pairs` pairs.  A bound too large to allocate is
    /// dropped: the log also grows as pairs arrive.
    void reserve(std::size_t pairs) {
        if (pairs > std::numeric_limits<std::size_t>::max() / 16)
            return;
        try {
            if (wide_)
                wide_pairs_.reserve(2 * pairs);
            else
                narrow_pairs_.reserve(2 * pairs);
        } catch (const std::bad_alloc&) {
        }
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

    /// True when pairs are stored as 32-bit indexes.
    [[nodiscard]] bool narrow() const { return !wide_; }

    /// Appends `pairs` pairs to a log of 32-bit indexes and returns where
    /// they go: 2 * pairs uninitialised words, target then source for each
    /// pair, which the caller must all write.
    [[nodiscard]] std::uint32_t* append_narrow(std::size_t pairs) {
        const std::size_t old = narrow_pairs_.size();
        narrow_pairs_.resize(old + 2 * pairs);
        return narrow_pairs_.data() + old;
    }

    /// The pairs of a narrow log as target, source, target, source...
    [[nodiscard]] const std::uint32_t* narrow_data() const { return narrow_pairs_.data(); }

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
    std::vector<std::uint32_t, UninitialisedAllocator<std::uint32_t>> narrow_pairs_;
    std::vector<std::uint64_t> wide_pairs_;
};

}  // namespace quorvel
