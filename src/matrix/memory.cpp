#include "memory.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

#ifdef __linux__
#include <sys/mman.h>
#endif
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(data, bytes) ((void)(data), (void)(bytes))
#define ASAN_UNPOISON_MEMORY_REGION(data, bytes) ((void)(data), (void)(bytes))
#endif

namespace quorvel {
namespace {

constexpr std::uintptr_t k_page = 4096;

// A block of `bytes` bytes from operator new that starts at one of four
// places a quarter of a page apart, taken in turn (memory.hpp); the bytes
// before it hold the address that operator new gave.
void* new_block(std::size_t bytes) {
    static std::atomic<unsigned> turn{0};
    const std::uintptr_t place = turn.fetch_add(1, std::memory_order_relaxed) % 4 * (k_page / 4);
    void* given = ::operator new(bytes + 2 * k_page);
    const std::uintptr_t after = reinterpret_cast<std::uintptr_t>(given) + sizeof given;
    char* data = reinterpret_cast<char*>(((after + k_page - 1) & ~(k_page - 1)) + place);
    std::memcpy(data - sizeof given, &given, sizeof given);
    return data;
}

void delete_block(void* data) noexcept {
    void* given = nullptr;
    std::memcpy(&given, static_cast<char*>(data) - sizeof given, sizeof given);
    ::operator delete(given);
}

// The kept blocks (memory.hpp), the most recently freed last.  Every call
// holds the interpreter's lock today; the mutex keeps the cache sound
// without it, and is taken only for blocks whose allocation costs far more.
// Under AddressSanitizer a kept block is poisoned, so that a read or write
// through a freed buffer is still reported.
class BlockCache {
public:
    // A kept block of `bytes` bytes, or null.
    void* take(std::size_t bytes) {
        const std::lock_guard lock(mutex_);
        for (std::size_t k = count_; k-- > 0;) {
            if (blocks_[k].bytes == bytes) {
                void* data = blocks_[k].data;
                remove(k);
                ASAN_UNPOISON_MEMORY_REGION(data, bytes);
                return data;
            }
        }
        return nullptr;
    }

    // Keeps a block, freeing the oldest ones until it fits.
    void keep(void* data, std::size_t bytes) noexcept {
        const std::lock_guard lock(mutex_);
        while (count_ == k_cached_blocks || bytes_ + bytes > k_cached_bytes) {
            ASAN_UNPOISON_MEMORY_REGION(blocks_[0].data, blocks_[0].bytes);
            delete_block(blocks_[0].data);
            remove(0);
        }
        ASAN_POISON_MEMORY_REGION(data, bytes);
        blocks_[count_++] = {data, bytes};
        bytes_ += bytes;
    }

private:
    struct Block {
        void* data;
        std::size_t bytes;
    };

    void remove(std::size_t k) noexcept {
        bytes_ -= blocks_[k].bytes;
        for (; k + 1 < count_; ++k)
            blocks_[k] = blocks_[k + 1];
        --count_;
    }

    std::mutex mutex_;
    std::array<Block, k_cached_blocks> blocks_{};
    std::size_t count_ = 0;
    std::size_t bytes_ = 0;  // of the kept blocks
};

// Never destroyed: matrices may still be freed while the process exits,
// after static destructors have run.
BlockCache& block_cache() {
    static auto* const cache = new BlockCache;
    return *cache;
}

}  // namespace

void* take_block(std::size_t bytes) {
    if (bytes <= k_cached_max)
        if (void* data = block_cache().take(bytes))
            return data;
    return new_block(bytes);
}

void give_block(void* data, std::size_t bytes) noexcept {
    if (bytes <= k_cached_max)
        block_cache().keep(data, bytes);
    else
        delete_block(data);
}

void advise_huge_pages(void* data, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t page = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + page - 1) & ~(page - 1);
    const std::uintptr_t end = (begin + bytes) & ~(page - 1);
    if (first < end)
        (void)madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

}  // namespace quorvel
