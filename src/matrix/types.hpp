// The vocabulary of the GF(2) core.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

namespace quorvel {

/// Rows, columns and row ranges, counted from 0.
using Index = std::uint64_t;
/// One entry as stored: 0 to 255, meant as 0 and 1.
using Byte = std::uint8_t;
/// A row held as bytes.
using Row = std::vector<Byte>;
/// 64 entries of a packed row (see packed_rows.hpp).
using Word = std::uint64_t;

/// The leading position (the column of the first 1) of a row without a 1.
inline constexpr Index k_no_lead = std::numeric_limits<Index>::max();

}  // namespace quorvel
