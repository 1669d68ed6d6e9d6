#include "word_ops.hpp"

#include <cstring>
#include <utility>

#include "simd.hpp"

namespace quorvel::packed {
namespace {

// Four words as one value: one AVX2 register, or two SSE2 or NEON registers.
using Quad = Word __attribute__((vector_size(32)));

// Passed by reference: a Quad returned by value would change the ABI
// between the AVX2 and the baseline clones.
__attribute__((always_inline)) inline void load(Quad& x, const Word* p) { std::memcpy(&x, p, sizeof x); }
__attribute__((always_inline)) inline void store(Word* p, const Quad& x) { std::memcpy(p, &x, sizeof x); }

__attribute__((always_inline)) inline void xor_quad(Quad& x, const Word* p) {
    Quad y;
    load(y, p);
    x ^= y;
}

// The OR over k < len of the words that lanes(k, x) loads into x four at a
// time (k, k + 1, k + 2, k + 3) and word(k) gives one at a time.
template <class Lanes, class OneWord>
__attribute__((always_inline)) inline Word or_all(std::size_t len, Lanes&& lanes, OneWord&& word) {
    Quad seen{};
    std::size_t k = 0;
    for (; k + 4 <= len; k += 4) {
        Quad x;
        lanes(k, x);
        seen |= x;
    }
    Word rest = seen[0] | seen[1] | seen[2] | seen[3];
    for (; k < len; ++k)
        rest |= word(k);
    return rest;
}

// The sources as separate pointers, so that the loop over them unrolls.
template <std::size_t... Q>
__attribute__((always_inline)) inline void xor_sum(Word* dst,
                                                   const Word* const* src,
                                                   std::size_t len, std::index_sequence<Q...>) {
    const Word* const s[] = {src[Q]...};
    std::size_t k = 0;
    for (; k + 4 <= len; k += 4) {
        Quad x;
        load(x, dst + k);
        (xor_quad(x, s[Q] + k), ...);
        store(dst + k, x);
    }
    for (; k < len; ++k) {
        Word x = dst[k];
        ((x ^= s[Q][k]), ...);
        dst[k] = x;
    }
}

template <unsigned N>
__attribute__((always_inline)) inline void xor_sum(Word* dst,
                                                   const Word* const* src,
                                                   std::size_t len) {
    xor_sum(dst, src, len, std::make_index_sequence<N>{});
}

}  // namespace

// On x86-64 each loop is compiled twice, for AVX2 and for the baseline, and
// the loader picks one per processor; elsewhere once, for the target.
#if QUORVEL_X86_SIMD
#define QUORVEL_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QUORVEL_CLONES
#endif

QUORVEL_CLONES
void xor_into(Word* dst, const Word* src, std::size_t len) {
    xor_sum<1>(dst, &src, len);
}

QUORVEL_CLONES
void xor_to(Word* dst, const Word* a, const Word* b, std::size_t len) {
    std::size_t k = 0;
    for (; k + 4 <= len; k += 4) {
        Quad x;
        load(x, a + k);
        xor_quad(x, b + k);
        store(dst + k, x);
    }
    for (; k < len; ++k)
        dst[k] = a[k] ^ b[k];
}

QUORVEL_CLONES
void xor_sum_into(Word* dst, const Word* const* src, unsigned count,
                  std::size_t len) {
    switch (count) {
    case 1: xor_sum<1>(dst, src, len); break;
    case 2: xor_sum<2>(dst, src, len); break;
    case 3: xor_sum<3>(dst, src, len); break;
    case 4: xor_sum<4>(dst, src, len); break;
    case 5: xor_sum<5>(dst, src, len); break;
    case 6: xor_sum<6>(dst, src, len); break;
    case 7: xor_sum<7>(dst, src, len); break;
    case 8: xor_sum<8>(dst, src, len); break;
    default: break;
    }
}

// These two test without a branch per word, so that they run four words at
// a time and leave the loop at a place that depends on the length alone.
QUORVEL_CLONES
bool any_set(const Word* a, std::size_t len) {
    return or_all(
        len, [&](std::size_t k, Quad& x) __attribute__((always_inline)) { load(x, a + k); },
        [&](std::size_t k) { return a[k]; }) != 0;
}

QUORVEL_CLONES
bool any_common_bit(const Word* a, const Word* b, std::size_t len) {
    return or_all(
               len,
               [&](std::size_t k, Quad& x) __attribute__((always_inline)) {
                   Quad y;
                   load(x, a + k);
                   load(y, b + k);
                   x &= y;
               },
               [&](std::size_t k) { return a[k] & b[k]; }) != 0;
}

// std::swap_ranges is left word by word at -O2; four words at a time keep
// an exchange of two rows near the cost of one row addition.
QUORVEL_CLONES
void swap_words(Word* a, Word* b, std::size_t len) {
    std::size_t k = 0;
    for (; k + 4 <= len; k += 4) {
        Quad x;
        Quad y;
        load(x, a + k);
        load(y, b + k);
        store(a + k, y);
        store(b + k, x);
    }
    for (; k < len; ++k)
        std::swap(a[k], b[k]);
}

QUORVEL_CLONES
bool all_binary(const Byte* bytes, std::size_t len) {
    // Eight entries to a word.
    const std::size_t words = len / 8;
    const auto word = [&](std::size_t k) {
        Word w;
        std::memcpy(&w, bytes + 8 * k, sizeof w);
        return w;
    };
    Word seen = or_all(
        words, [&](std::size_t k, Quad& x) __attribute__((always_inline)) { std::memcpy(&x, bytes + 8 * k, sizeof x); },
        word);
    for (std::size_t k = 8 * words; k < len; ++k)
        seen |= bytes[k];
    return bytes_binary(seen);
}

void transpose64(Word* a) {
    Word mask = 0x00000000FFFFFFFFULL;
    for (unsigned j = 32; j != 0; j >>= 1, mask ^= mask << j) {
        for (unsigned k = 0; k < 64; k = ((k | j) + 1) & ~j) {
            const Word t = ((a[k] >> j) ^ a[k | j]) & mask;
            a[k] ^= t << j;
            a[k | j] ^= t;
        }
    }
}

}  // namespace quorvel::packed
