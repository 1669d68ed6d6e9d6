// A replacement of the global operator new that fails on demand, for the
// allocation-failure tests: preloaded into an interpreter (LD_PRELOAD), it
// takes the place of the C++ runtime's operator new for the module, whose
// allocations the interpreter's own allocation hooks never see.
//
// Python drives it through ctypes:
//   quorvel_fail_new(k, alone)  from now on, allocation k (counting from 0)
//                               fails, alone or with every one after it;
//   quorvel_fail_new_off()      stops failing; returns how many allocations
//                               were made since quorvel_fail_new.
// Memory comes from malloc, so the runtime's own operator delete frees it.
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

bool g_armed = false;
bool g_alone = false;
long g_fail_at = 0;
long g_count = 0;

void* allocate(std::size_t size, std::size_t alignment) {
    if (g_armed) {
        const long k = g_count++;
        if (k == g_fail_at || (!g_alone && k > g_fail_at))
            return nullptr;
    }
    if (size == 0)
        size = 1;
    if (alignment <= alignof(std::max_align_t))
        return std::malloc(size);
    void* data = nullptr;
    return posix_memalign(&data, alignment, size) == 0 ? data : nullptr;
}

void* allocate_or_throw(std::size_t size, std::size_t alignment) {
    void* data = allocate(size, alignment);
    if (data == nullptr)
        throw std::bad_alloc();
    return data;
}

}  // namespace

extern "C" {
__attribute__((visibility("default"))) void quorvel_fail_new(long k, int alone) {
    g_fail_at = k;
    g_alone = alone != 0;
    g_count = 0;
    g_armed = true;
}

__attribute__((visibility("default"))) long quorvel_fail_new_off() {
    g_armed = false;
    return g_count;
}
}

#define QUORVEL_EXPORT __attribute__((visibility("default")))

QUORVEL_EXPORT void* operator new(std::size_t size) {
    return allocate_or_throw(size, alignof(std::max_align_t));
}
QUORVEL_EXPORT void* operator new[](std::size_t size) {
    return allocate_or_throw(size, alignof(std::max_align_t));
}
QUORVEL_EXPORT void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocate_or_throw(size, static_cast<std::size_t>(alignment));
}
QUORVEL_EXPORT void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocate_or_throw(size, static_cast<std::size_t>(alignment));
}
QUORVEL_EXPORT void* operator new(std::size_t size, const std::nothrow_t& /*unused*/) noexcept {
    return allocate(size, alignof(std::max_align_t));
}
QUORVEL_EXPORT void* operator new[](std::size_t size, const std::nothrow_t& /*unused*/) noexcept {
    return allocate(size, alignof(std::max_align_t));
}
