// Operations on rows of 64-bit words, the inner loops of the packed
// eliminations.  On x86-64 each has a variant for AVX2 that is picked at load
// time on processors that have it (see simd.hpp).
#pragma once

#include <cstddef>

#include "types.hpp"

namespace quorvel::packed {

/// dst[k] ^= src[k] for k < len.
void xor_into(Word* dst, const Word* src, std::size_t len);

/// dst[k] ^= src[0][k] ^ ... ^ src[count - 1][k] for k < len; count <= 8.
void xor_sum_into(Word* dst, const Word* const* src, unsigned count,
                  std::size_t len);

/// The 2^k sums of subsets of the rows rows[0] .. rows[k-1] (k <= 8), each
/// of `len` words: entry x, at table + x * len, is the sum of the rows i
/// whose bits are set in x.
void fill_sums(Word* table, const Word* const* rows, unsigned k, std::size_t len);

/// dst[k] ^= the sum over q < 8 of tables[(256 q + byte q of key) * len + k]
/// for k < len: one entry from each of eight tables of 256 entries of `len`
/// words, stored one after the other.
void xor_byte_sums(Word* dst, Word key, const Word* tables, std::size_t len);

/// True when word k < len of one of `rows` rows, the first at `first` and
/// each `stride` words after the one before, is not 0.
[[nodiscard]] bool any_set(const Word* first, std::size_t stride, std::size_t rows, std::size_t len);

/// True when a[k] & b[k] is not 0 for some k < len.
[[nodiscard]] bool any_common_bit(const Word* a, const Word* b, std::size_t len);

/// Exchanges a[k] and b[k] for k < len; the two ranges do not overlap.
void swap_words(Word* a, Word* b, std::size_t len);

/// True when each of the eight bytes in `bytes` (or in the OR of several
/// such words) is 0 or 1.
[[nodiscard]] constexpr bool bytes_binary(Word bytes) { return (bytes & ~Word{0x0101010101010101ULL}) == 0; }

/// True when every one of the `len` bytes is 0 or 1.
[[nodiscard]] bool all_binary(const Byte* bytes, std::size_t len);

/// Transposes a 64 x 64 bit matrix in place: bit j of word i becomes bit i
/// of word j.
void transpose64(Word* a);

}  // namespace quorvel::packed
