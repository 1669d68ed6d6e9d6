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

/// A leading position as a matrix keeps it for each row, in 32 bits, which
/// every row of fewer than 2^32 - 1 columns fits: the most it adds to a row
/// of two words or more is a quarter.  k_no_lead_kept for a row without a 1.
using LeadPosition = std::uint32_t;
inline constexpr LeadPosition k_no_lead_kept = std::numeric_limits<LeadPosition>::max();

}  // namespace quorvel
