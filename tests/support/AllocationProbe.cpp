#include "AllocationProbe.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Linked into a test program only when it uses the probe; then every
// operator new of the program comes through here.
namespace {

std::atomic<bool> watching{false};
std::atomic<std::size_t> largest{0};

void* Allocate(std::size_t n) {
    if (watching.load(std::memory_order_relaxed)) {
        std::size_t seen = largest.load();
        while (n > seen && !largest.compare_exchange_weak(seen, n)) {
        }
    }
    void* p = std::malloc(n == 0 ? 1 : n);
    if (!p) throw std::bad_alloc();
    return p;
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
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace testsupport {

std::size_t LargestAllocationDuring(const std::function<void()>& f) {
    largest.store(0);
    watching.store(true);
    try {
        f();
    } catch (...) {
    }
    watching.store(false);
    return largest.load();
}

}  // namespace testsupport
