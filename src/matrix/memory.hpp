// Memory helpers: the huge-page hint for large working buffers, the cache of
// freed blocks of a few hundred KiB, and the allocator of the buffers that
// are written before they are read.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace quorvel {

/// Asks for transparent huge pages on the whole 2 MiB pages inside
/// [data, data + bytes): a buffer of tens of megabytes that is written once
/// then costs a few hundred page faults instead of tens of thousands.  Only a
/// hint: it changes no contents and does nothing where it is not supported.
void advise_huge_pages(void* data, std::size_t bytes) noexcept;

/// Buffers from this size on are worth the hint.
inline constexpr std::size_t k_huge_buffer = std::size_t{8} << 20;

// Blocks of a few hundred KiB are what a loop over calls makes and drops
// again and again: the copy of the rows that each call of a streaming
// reduction returns, the room that appending a row grows them into, a copy.
// glibc gives a freed block of that size back to the system, or the top of
// its heap that the block leaves free, and the next call takes page faults
// to get it back, which costs several times the copy itself.  So a freed
// block from k_large_block to k_cached_max bytes is kept for the next
// request of its size, up to k_cached_blocks blocks and k_cached_bytes bytes
// in all, the oldest given back first: the memory held beyond the live
// matrices is at most 4 MiB, and two pages for each of the four blocks.
// Requests in that range are rounded up to one of eight sizes per doubling
// (at most 1/8 more), so that rows that grow by a row per call still find
// the block that the call before freed.
//
// Every block from k_large_block on starts at a quarter of a page, the four
// places taken in turn.  glibc's memcpy of such sizes (rep movsb) runs some
// twenty times slower on some processors (AMD's, for one) when the
// destination lies a few bytes past the source modulo 4 KiB, and where
// glibc puts a block depends on how its heap lies: between these blocks a
// copy never meets that, and mostly not the smaller cost of the same place
// in both pages either.

/// Blocks from this size on are placed so, and are kept up to k_cached_max.
inline constexpr std::size_t k_large_block = std::size_t{64} << 10;
inline constexpr std::size_t k_cached_max = std::size_t{2} << 20;
/// At most this many blocks, and this many bytes in all, are kept.
inline constexpr std::size_t k_cached_blocks = 4;
inline constexpr std::size_t k_cached_bytes = std::size_t{4} << 20;

/// The size of the block that serves a request of `bytes`, at least
/// k_large_block: up to k_cached_max, `bytes` rounded up to a multiple of an
/// eighth of its power of two.
[[nodiscard]] constexpr std::size_t large_block_size(std::size_t bytes) {
    const std::size_t step = std::bit_floor(bytes) / 8;
    return bytes > k_cached_max ? bytes : (bytes + step - 1) / step * step;
}

/// A block of `bytes` bytes (a large_block_size()) that starts at a quarter
/// of a page: a kept one of that size, else one from operator new, whose
/// failure it passes on.
[[nodiscard]] void* take_block(std::size_t bytes);
/// Gives back a block from take_block(bytes): kept for the next request of
/// its size if it is small enough, the oldest kept block freed if there is
/// no room.
void give_block(void* data, std::size_t bytes) noexcept;

/// An allocator that leaves new elements of trivial types uninitialised, so
/// that growing a buffer that is about to be written does not clear it
/// first, that takes buffers from k_large_block on as blocks placed at a
/// quarter of a page that may come from the cache, and that asks for huge
/// pages for large buffers.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    T* allocate(std::size_t count) {
        if (!large(count))
            return std::allocator<T>::allocate(count);
        if (count > std::numeric_limits<std::ptrdiff_t>::max() / sizeof(T))
            throw std::bad_array_new_length();
        auto* data = static_cast<T*>(take_block(large_block_size(count * sizeof(T))));
        if (count >= k_huge_buffer / sizeof(T))
            advise_huge_pages(data, count * sizeof(T));
        return data;
    }
    void deallocate(T* data, std::size_t count) noexcept {
        if (large(count))
            give_block(data, large_block_size(count * sizeof(T)));
        else
            std::allocator<T>::deallocate(data, count);
    }
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

private:
    // Whether a buffer of `count` elements is a large block.
    static bool large(std::size_t count) {
        return count >= k_large_block / sizeof(T);
    }
};

/// A copy of `from` made as one block: the vector's own copy would construct
/// the elements one by one through the allocator.
template <class T>
[[nodiscard]] std::vector<T, UninitialisedAllocator<T>> block_copy(
    const std::vector<T, UninitialisedAllocator<T>>& from) {
    std::vector<T, UninitialisedAllocator<T>> copy(from.size());
    if (!copy.empty())
        std::memcpy(copy.data(), from.data(), copy.size() * sizeof(T));
    return copy;
}

}  // namespace quorvel
