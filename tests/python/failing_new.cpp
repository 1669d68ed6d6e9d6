// An operator new that fails on demand, for the allocation-failure tests
// (test_nomemory.py): preloaded into an interpreter, it takes the place of the
// C++ runtime's for the module, and for the runtime's other operators new,
// which call it.  quorvel_fail_new(k, alone) makes allocation k from then on
// fail, alone or with every one after it; quorvel_fail_new_off() stops that
// and returns the number of allocations made meanwhile.  Memory comes from
// malloc, which the runtime's operator delete frees.
#include <cstdlib>
#include <new>

#define EXPORT __attribute__((visibility("default")))

namespace {
bool g_armed = false;
bool g_alone = false;
long g_fail_at = 0;
long g_count = 0;
}  // namespace

extern "C" EXPORT void quorvel_fail_new(long k, int alone) {
    g_fail_at = k;
    g_alone = alone != 0;
    g_count = 0;
    g_armed = true;
}

extern "C" EXPORT long quorvel_fail_new_off() {
    g_armed = false;
    return g_count;
}

EXPORT void* operator new(std::size_t size) {
    const long k = g_count;
    g_count += g_armed ? 1 : 0;
    void* data = g_armed && (k == g_fail_at || (!g_alone && k > g_fail_at)) ? nullptr : std::malloc(size + (size == 0));
    if (data == nullptr)
        throw std::bad_alloc();
    return data;
}
