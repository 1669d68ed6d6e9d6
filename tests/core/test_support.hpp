// Helpers shared by the core tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "matrix/algorithms.hpp"

namespace quorvel::testing {

inline std::vector<Row> row_list(std::initializer_list<std::initializer_list<int>> list) {
    std::vector<Row> out;
    for (const auto& r : list) {
        Row row;
        for (int v : r)
            row.push_back(static_cast<Byte>(v));
        out.push_back(std::move(row));
    }
    return out;
}

/// The matrix of these rows, packed when they allow it.
inline Matrix rows(std::initializer_list<std::initializer_list<int>> list) {
    return Matrix(row_list(list));
}

/// The matrix of these rows, held as bytes whatever they hold.
inline Matrix byte_rows(std::initializer_list<std::initializer_list<int>> list) {
    return Matrix::from_byte_rows(row_list(list));
}

inline std::vector<RowOp> ops(std::initializer_list<std::pair<Index, Index>> list) {
    std::vector<RowOp> out;
    for (const auto& [t, s] : list)
        out.push_back({t, s});
    return out;
}

/// The message of the Panic that `f` throws, or "no failure".
inline std::string failure_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const Panic& p) {
        return p.message();
    }
    return "no failure";
}

inline std::string index_message(Index len, Index index) {
    return "index out of bounds: the len is " + std::to_string(len) + " but the index is " +
           std::to_string(index);
}

using Method = Elimination (*)(const Matrix&);

/// Expects `method(input)` to give `output` with exactly `log`.
inline void expect_result(Method method, const Matrix& input, const Matrix& output,
                          const std::vector<RowOp>& log) {
    const Elimination e = method(input);
    EXPECT_EQ(e.matrix, output) << input.to_string() << " gave " << e.matrix.to_string();
    EXPECT_EQ(e.log.pairs(), log) << input.to_string();
}

}  // namespace quorvel::testing
