// Memory helpers: the huge-page hint for large working buffers, and the
// allocator of the buffers that are written before they are read.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace quorvel {

/// Asks for transparent huge pages on the whole 2 MiB pages inside
/// [data, data + bytes): a buffer of tens of megabytes that is written once
/// then costs a few hundred page faults instead of tens of thousands.  Only a
/// hint: it changes no contents and does nothing where it is not supported.
void advise_huge_pages(void* data, std::size_t bytes) noexcept;

/// Buffers from this size on are worth the hint.
inline constexpr std::size_t k_huge_buffer = std::size_t{8} << 20;

/// An allocator that leaves new elements of trivial types uninitialised, so
/// that growing a buffer that is about to be written does not clear it
/// first, and that asks for huge pages for large buffers.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    T* allocate(std::size_t count) {
        T* data = std::allocator<T>::allocate(count);
        if (count >= k_huge_buffer / sizeof(T))
            advise_huge_pages(data, count * sizeof(T));
        return data;
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
};

}  // namespace quorvel
