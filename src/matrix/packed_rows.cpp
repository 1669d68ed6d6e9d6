// Packing, unpacking and the row edits of packed storage.
#include "packed_rows.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "matrix.hpp"
#include "simd.hpp"
#include "word_ops.hpp"

#if QUORVEL_X86_SIMD
#include <emmintrin.h>
#endif

namespace quorvel::packed {

// Packing and unpacking move eight entries at a time as one word, entry k in
// byte k: that is the byte order of little-endian processors only.
static_assert(std::endian::native == std::endian::little,
              "packed rows need a little-endian processor");

namespace {

// Eight bytes of 0/1 entries (entry k in byte k) to eight bits (entry k in
// bit k): the multiplication moves byte k's bit to bit 56 + k without
// carries, as no two of the 64 partial products share a bit position.
inline unsigned gather_bits(Word bytes) { return static_cast<unsigned>((bytes * 0x0102040810204080ULL) >> 56); }

// Bit k of `bits` to byte k.
constexpr std::array<Word, 256> make_spread() {
    std::array<Word, 256> table{};
    for (unsigned b = 0; b < 256; ++b)
        for (unsigned k = 0; k < 8; ++k)
            if ((b >> k) & 1U)
                table[b] |= Word{1} << (8 * k);
    return table;
}
constexpr std::array<Word, 256> k_spread = make_spread();

}  // namespace

bool pack_row(const Byte* bytes, Index cols, Word* out) {
    Word seen = 0;
    Index c = 0;
#if QUORVEL_X86_SIMD
    // 16 entries at a time: shifted into each byte's top bit, which
    // movemask gathers.
    __m128i seen_wide = _mm_setzero_si128();
    for (; c + 64 <= cols; c += 64) {
        Word word = 0;
        for (unsigned b = 0; b < 4; ++b) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + c + 16 * b));
            seen_wide = _mm_or_si128(seen_wide, v);
            word |= Word{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_slli_epi64(v, 7)))} << (16 * b);
        }
        *out++ = word;
    }
    Word halves[2];
    std::memcpy(halves, &seen_wide, sizeof halves);
    seen = halves[0] | halves[1];
#else
    for (; c + 64 <= cols; c += 64) {
        Word word = 0;
        for (unsigned b = 0; b < 8; ++b) {
            Word x;
            std::memcpy(&x, bytes + c + 8 * b, 8);
            seen |= x;
            word |= Word{gather_bits(x)} << (8 * b);
        }
        *out++ = word;
    }
#endif
    if (c < cols) {
        Word word = 0;
        unsigned shift = 0;
        for (; c + 8 <= cols; c += 8, shift += 8) {
            Word x;
            std::memcpy(&x, bytes + c, 8);
            seen |= x;
            word |= Word{gather_bits(x)} << shift;
        }
        for (; c < cols; ++c, ++shift) {
            seen |= bytes[c];
            word |= Word{bytes[c] & 1U} << shift;
        }
        *out = word;
    }
    return bytes_binary(seen);
}

void unpack_row(const Word* in, Index cols, Byte* out) {
    Index c = 0;
    for (; c + 8 <= cols; c += 8) {
        const Word spread = k_spread[(in[word_of(c)] >> bit_of(c)) & 0xFFU];
        std::memcpy(out + c, &spread, 8);
    }
    for (; c < cols; ++c)
        out[c] = bit(in, c) ? 1 : 0;
}

PackedRows::PackedRows(Index nrows, Index ncols)
    : nrows_(nrows), ncols_(nrows == 0 ? 0 : ncols), stride_(words_for(ncols_)),
      words_(nrows * stride_) {}

PackedRows::PackedRows(const PackedRows& other)
    : nrows_(other.nrows_), ncols_(other.ncols_), stride_(other.stride_),
      words_(block_copy(other.words_)) {}

PackedRows& PackedRows::operator=(const PackedRows& other) {
    if (this != &other) {
        PackedRows copy(other);
        *this = std::move(copy);
    }
    return *this;
}

PackedRows::PackedRows(PackedRows&& other) noexcept
    : nrows_(std::exchange(other.nrows_, 0)), ncols_(std::exchange(other.ncols_, 0)),
      stride_(std::exchange(other.stride_, 0)), words_(std::move(other.words_)) {
    other.words_.clear();
}

PackedRows& PackedRows::operator=(PackedRows&& other) noexcept {
    nrows_ = std::exchange(other.nrows_, 0);
    ncols_ = std::exchange(other.ncols_, 0);
    stride_ = std::exchange(other.stride_, 0);
    words_ = std::move(other.words_);
    other.words_.clear();
    return *this;
}

std::optional<PackedRows> PackedRows::pack(const Matrix& m) {
    if (m.is_packed())
        return m.packed_rows();
    const Index cols = m.ncols();
    for (const Row& row : m.byte_rows())
        if (row.size() != cols)
            return std::nullopt;
    PackedRows packed(m.nrows(), cols);
    for (Index r = 0; r < m.nrows(); ++r)
        if (!pack_row(m.row_unchecked(r).data(), cols, packed.row(r)))
            return std::nullopt;
    return packed;
}

bool PackedRows::is_zero_row(Index r) const {
    const Word* words = row(r);
    return std::all_of(words, words + stride_, [](Word w) { return w == 0; });
}

void PackedRows::permute(const std::vector<Index>& order) {
    // Cycle by cycle, with one row held aside.
    std::vector<bool> placed(nrows_, false);
    std::vector<Word> held(stride_);
    const std::size_t bytes = stride_ * sizeof(Word);
    for (Index start = 0; start < nrows_; ++start) {
        if (placed[start] || order[start] == start)
            continue;
        std::memcpy(held.data(), row(start), bytes);
        Index p = start;
        for (Index next = order[p]; next != start; p = next, next = order[p]) {
            std::memcpy(row(p), row(next), bytes);
            placed[p] = true;
        }
        std::memcpy(row(p), held.data(), bytes);
        placed[p] = true;
    }
}

PackedRows PackedRows::sub_rows(Index start, Index end) const {
    PackedRows out(end - start, ncols_);
    if (!out.words_.empty())
        std::memcpy(out.words_.data(), row(start), out.words_.size() * sizeof(Word));
    return out;
}

void PackedRows::pop_row() {
    --nrows_;
    words_.resize(words_.size() - stride_);
    if (nrows_ == 0)
        ncols_ = stride_ = 0;
}

Word* PackedRows::push_row() {
    const Index size = words_.size();
    if (size + stride_ > words_.capacity()) {
        // Twice the room, the words copied as one block: the vector's own
        // growth would move them one by one.
        std::vector<Word, UninitialisedAllocator<Word>> words;
        words.reserve(std::max(2 * size, size + stride_));
        words.resize(size + stride_);
        if (size != 0)
            std::memcpy(words.data(), words_.data(), size * sizeof(Word));
        words_ = std::move(words);
    } else {
        words_.resize(size + stride_);
    }
    ++nrows_;
    return row(nrows_ - 1);
}

void PackedRows::push_column(const Byte* v) {
    const Index c = ncols_;
    if (words_for(c + 1) != stride_) {
        // A new word per row: lay the rows out again at the wider stride.
        const Index wider = stride_ + 1;
        std::vector<Word, UninitialisedAllocator<Word>> words(nrows_ * wider);
        for (Index r = 0; r < nrows_; ++r) {
            Word* to = words.data() + r * wider;
            if (stride_ != 0)
                std::memcpy(to, row(r), stride_ * sizeof(Word));
            to[stride_] = 0;
        }
        words_ = std::move(words);
        stride_ = wider;
    }
    ncols_ = c + 1;
    const Index word = word_of(c);
    const unsigned place = bit_of(c);
    for (Index r = 0; r < nrows_; ++r)
        row(r)[word] |= Word{v[r]} << place;
}

bool operator==(const PackedRows& a, const PackedRows& b) {
    return a.nrows_ == b.nrows_ && a.ncols_ == b.ncols_ &&
           (a.words_.empty() ||
            std::memcmp(a.words_.data(), b.words_.data(), a.words_.size() * sizeof(Word)) == 0);
}

}  // namespace quorvel::packed
