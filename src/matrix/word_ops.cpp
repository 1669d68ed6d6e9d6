#include "word_ops.hpp"

#include <algorithm>
#include <bit>
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

// An OR of words kept four lanes wide, and reduced to one word at the end.
struct OrSum {
    Quad lanes{};
    Word rest = 0;
    [[nodiscard]] Word value() const { return rest | lanes[0] | lanes[1] | lanes[2] | lanes[3]; }
};

// ORs into `sum` the words k < len that lanes(k, x) loads into x four at a
// time (k, k + 1, k + 2, k + 3) and word(k) gives one at a time.
template <class Lanes, class OneWord>
__attribute__((always_inline)) inline void or_into(OrSum& sum, std::size_t len, Lanes&& lanes, OneWord&& word) {
    std::size_t k = 0;
    for (; k + 4 <= len; k += 4) {
        Quad x;
        lanes(k, x);
        sum.lanes |= x;
    }
    for (; k < len; ++k)
        sum.rest |= word(k);
}

// The OR over k < len of those words.
template <class Lanes, class OneWord>
__attribute__((always_inline)) inline Word or_all(std::size_t len, Lanes&& lanes, OneWord&& word) {
    OrSum sum;
    or_into(sum, len, lanes, word);
    return sum.value();
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

// dst[k] = a[k] ^ b[k] for k < len.
__attribute__((always_inline)) inline void xor_to(Word* dst, const Word* a, const Word* b, std::size_t len) {
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

// The exchange of bit blocks between words a and b, j bits wide, under
// `mask`: one step of the transpose, on four pairs of words at once.
__attribute__((always_inline)) inline void exchange_bits(Quad& a, Quad& b, unsigned j, Word mask) {
    const Quad t = ((a >> j) ^ b) & mask;
    a ^= t << j;
    b ^= t;
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

QUORVEL_CLONES
void xor_byte_sums(Word* dst, Word key, const Word* tables, std::size_t len) {
    const Word* sources[8];
    for (unsigned q = 0; q < 8; ++q)
        sources[q] = tables + ((std::size_t{q} << 8) | ((key >> (8 * q)) & 0xFFU)) * len;
    xor_sum<8>(dst, sources, len);
}

// Each entry from the one without its lowest bit: one addition an entry, in
// one call for the table, since its entries are mostly a few words long.
QUORVEL_CLONES
void fill_sums(Word* table, const Word* const* rows, unsigned k, std::size_t len) {
    std::fill(table, table + len, Word{0});
    const std::size_t entries = std::size_t{1} << k;
    for (std::size_t x = 1; x < entries; ++x) {
        xor_to(table + x * len, table + (x & (x - 1)) * len, rows[std::countr_zero(x)], len);
    }
}

// These two test without a branch per word, so that they run four words at
// a time and leave the loop at a place that depends on the length alone.
QUORVEL_CLONES
bool any_set(const Word* first, std::size_t stride, std::size_t rows, std::size_t len) {
    // One OR for all the rows, reduced to a word at the end.
    OrSum sum;
    for (std::size_t r = 0; r < rows; ++r) {
        const Word* a = first + r * stride;
        or_into(
            sum, len, [&](std::size_t k, Quad& x) __attribute__((always_inline)) { load(x, a + k); },
            [&](std::size_t k) { return a[k]; });
    }
    return sum.value() != 0;
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

// The recursive transpose: at step j (32, 16, ..., 1) word k and word k | j
// (for k without bit j) exchange the j x j bit blocks off their diagonal.
// Steps 32 to 4 pair words that lie four or more apart, four pairs to a pair
// of Quads; steps 2 and 1 pair words within each four, which are first
// regrouped so that the pairs lie across two Quads.
QUORVEL_CLONES
void transpose64(Word* a) {
    Word mask = 0x00000000FFFFFFFFULL;
    for (unsigned j = 32; j >= 4; j >>= 1, mask ^= mask << j) {
        for (unsigned base = 0; base < 64; base += 2 * j) {
            for (unsigned k = base; k < base + j; k += 4) {
                Quad x;
                Quad y;
                load(x, a + k);
                load(y, a + k + j);
                exchange_bits(x, y, j, mask);
                store(a + k, x);
                store(a + k + j, y);
            }
        }
    }
    for (unsigned k = 0; k < 64; k += 8) {
        Quad lo;
        Quad hi;
        load(lo, a + k);
        load(hi, a + k + 4);
        // Step 2: words 0, 1 with 2, 3 of each four.
        Quad x = __builtin_shufflevector(lo, hi, 0, 1, 4, 5);
        Quad y = __builtin_shufflevector(lo, hi, 2, 3, 6, 7);
        exchange_bits(x, y, 2, 0x3333333333333333ULL);
        // Step 1: words 0, 2 with 1, 3 of each four, from x and y as they
        // are now (x holds words 0, 1, 4, 5 and y words 2, 3, 6, 7).
        Quad even = __builtin_shufflevector(x, y, 0, 4, 2, 6);
        Quad odd = __builtin_shufflevector(x, y, 1, 5, 3, 7);
        exchange_bits(even, odd, 1, 0x5555555555555555ULL);
        // even holds words 0, 2, 4, 6 and odd words 1, 3, 5, 7.
        lo = __builtin_shufflevector(even, odd, 0, 4, 1, 5);
        hi = __builtin_shufflevector(even, odd, 2, 6, 3, 7);
        store(a + k, lo);
        store(a + k + 4, hi);
    }
}

}  // namespace quorvel::packed
