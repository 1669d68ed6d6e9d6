// Operations on rows of 64-bit words, the inner loops of the packed
// eliminations.  On x86-64 each has a variant for AVX2 that is picked at load
// time on processors that have it (see simd.hpp).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace quorvel::packed {

/// Index of the lowest set bit of a non-zero word.
inline unsigned lowest_bit(std::uint64_t word) { return static_cast<unsigned>(std::countr_zero(word)); }

/// dst[k] ^= src[k] for k < len.
void xor_into(std::uint64_t* dst, const std::uint64_t* src, std::size_t len);

/// dst[k] = a[k] ^ b[k] for k < len.
void xor_to(std::uint64_t* dst, const std::uint64_t* a, const std::uint64_t* b, std::size_t len);

/// dst[k] ^= src[0][k] ^ ... ^ src[count - 1][k] for k < len; count <= 8.
void xor_sum_into(std::uint64_t* dst, const std::uint64_t* const* src, unsigned count,
                  std::size_t len);

/// Exchanges a[k] and b[k] for k < len; the two ranges do not overlap.
void swap_words(std::uint64_t* a, std::uint64_t* b, std::size_t len);

/// dst[k] ^= src[k] for k < len, on bytes.
void xor_bytes(std::uint8_t* dst, const std::uint8_t* src, std::size_t len);

/// True when every one of the `len` bytes is 0 or 1.
[[nodiscard]] bool all_binary(const std::uint8_t* bytes, std::size_t len);

/// Transposes a 64 x 64 bit matrix in place: bit j of word i becomes bit i
/// of word j.
void transpose64(std::uint64_t* a);

}  // namespace quorvel::packed
