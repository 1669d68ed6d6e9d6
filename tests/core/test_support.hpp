// Helpers shared by the core tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "matrix/echelon.hpp"

namespace quorvel::testing {

inline Matrix rows(std::initializer_list<std::initializer_list<int>> list) {
    std::vector<Row> out;
    for (const auto& r : list) {
        Row row;
        for (int v : r)
            row.push_back(static_cast<Byte>(v));
        out.push_back(std::move(row));
    }
    return Matrix(std::move(out));
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

}  // namespace quorvel::testing
