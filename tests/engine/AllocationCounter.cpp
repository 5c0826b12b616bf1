// The engine tests' own operator new: it remembers the largest request, so
// a test can tell that damaged input was refused before anything was sized
// from it (an allocation that merely succeeds, because memory is lazy, would
// otherwise go unnoticed). Only this test program uses it.
#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> largest{0};

void* Allocate(std::size_t n) {
    std::size_t seen = largest.load(std::memory_order_relaxed);
    while (n > seen && !largest.compare_exchange_weak(seen, n, std::memory_order_relaxed)) {
    }
    if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace testsupport {

std::size_t LargestAllocation(const std::function<void()>& f) {
    largest.store(0);
    f();
    return largest.load();
}

}  // namespace testsupport
