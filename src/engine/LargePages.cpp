#include "engine/LargePages.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

namespace largepages {

namespace {

constexpr std::size_t kLargePage = std::size_t{1} << 21;
constexpr std::size_t kSmallPage = 4096;
// Blocks smaller than a large page share them, in slots of this size: a
// block of a chunk's bytes (a million points, a megabyte) would otherwise
// hold a whole large page and double what the engine keeps.
constexpr std::size_t kSlot = kFrom / 4;
constexpr std::size_t kSlots = kLargePage / kSlot;
static_assert(kSlots <= 32 && kLargePage % kSlot == 0);

// Under the address sanitizer every block comes from operator new, where
// it is watched: the sanitizer does not see past the end of a mapping.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMapBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMapBlocks = false;
#else
constexpr bool kMapBlocks = true;
#endif
#else
constexpr bool kMapBlocks = true;
#endif

// More than the address space could hold: refused before any rounding.
constexpr std::size_t kMost = static_cast<std::size_t>(PTRDIFF_MAX) / 2;

std::size_t RoundUp(std::size_t bytes, std::size_t to) { return (bytes + to - 1) / to * to; }

// `length` bytes starting on a large page's boundary, asked to be backed by
// large pages: the whole large pages inside it are, a last part shorter
// than a large page comes in small pages.
void* MapLarge(std::size_t length) {
    // Map a large page's more than needed and give back what lies before the
    // boundary and after the block.
    const std::size_t span = length + kLargePage;
    void* mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const auto at = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t begin = RoundUp(at, kLargePage);
    if (begin > at) munmap(mapped, begin - at);
    const std::uintptr_t end = begin + length;
    if (at + span > end) munmap(reinterpret_cast<void*>(end), at + span - end);
#if defined(MADV_HUGEPAGE)
    // Advice only: refused, the pages come small.
    madvise(reinterpret_cast<void*>(begin), length, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(begin);
}

// The large pages that blocks below a large page share: a bit per slot in
// use. A page is given back when its last block is.
class CSharedPages {
public:
    void* Take(std::size_t bytes) {
        const std::size_t n = RoundUp(bytes, kSlot) / kSlot;
        const uint32_t run = static_cast<uint32_t>((uint64_t{1} << n) - 1);
        std::lock_guard<std::mutex> lock(mutex);
        // The fullest page the block fits in, so that room for large
        // blocks stays whole in the others.
        Page* best = nullptr;
        std::size_t bestFirst = 0;
        int bestFree = static_cast<int>(kSlots) + 1;
        for (Page& page : pages) {
            const int free = static_cast<int>(kSlots) - __builtin_popcount(page.used);
            if (free < static_cast<int>(n) || free >= bestFree) continue;
            for (std::size_t first = 0; first + n <= kSlots; ++first) {
                if (page.used & (run << first)) continue;
                best = &page;
                bestFirst = first;
                bestFree = free;
                break;
            }
        }
        if (best) {
            best->used |= run << bestFirst;
            return reinterpret_cast<void*>(best->base + bestFirst * kSlot);
        }
        Page page{reinterpret_cast<std::uintptr_t>(MapLarge(kLargePage)), run};
        pages.push_back(page);
        return reinterpret_cast<void*>(page.base);
    }

    void Give(void* block, std::size_t bytes) noexcept {
        const auto at = reinterpret_cast<std::uintptr_t>(block);
        const std::uintptr_t base = at & ~(kLargePage - 1);
        const std::size_t n = RoundUp(bytes, kSlot) / kSlot;
        const uint32_t run = static_cast<uint32_t>((uint64_t{1} << n) - 1) << ((at - base) / kSlot);
        std::lock_guard<std::mutex> lock(mutex);
        for (std::size_t i = 0; i < pages.size(); ++i) {
            if (pages[i].base != base) continue;
            pages[i].used &= ~run;
            if (pages[i].used == 0) {
                munmap(reinterpret_cast<void*>(base), kLargePage);
                pages[i] = pages.back();
                pages.pop_back();
            } else {
                // The page stays for its other blocks; the memory of this
                // one goes back now (the page is split into small ones), or
                // memory given back to save it, as for a large chunk's
                // second group, would stay held.
                madvise(block, RoundUp(bytes, kSlot), MADV_DONTNEED);
            }
            return;
        }
    }

private:
    struct Page {
        std::uintptr_t base;
        uint32_t used;
    };
    std::mutex mutex;
    std::vector<Page> pages;
};

CSharedPages& Shared() {
    // Never destroyed: blocks may be given back by objects that outlive
    // the statics.
    static CSharedPages* shared = new CSharedPages;
    return *shared;
}

}  // namespace

std::size_t Mapped(std::size_t bytes) {
    if (!kMapBlocks || bytes < kFrom || bytes > kMost) return bytes;
    // Rounding the last part up to a large page would save its small-page
    // faults but hold up to 2 MB more per block, which the largest chunks
    // cannot afford.
    return RoundUp(bytes, bytes < kLargePage ? kSlot : kSmallPage);
}

void* Take(std::size_t bytes) {
    if (bytes > kMost) throw std::bad_alloc();
    if (!kMapBlocks || bytes < kFrom) return ::operator new(bytes);
    if (bytes < kLargePage) return Shared().Take(bytes);
    return MapLarge(Mapped(bytes));
}

void Give(void* block, std::size_t bytes) noexcept {
    if (!block) return;
    if (!kMapBlocks || bytes < kFrom) {
        ::operator delete(block);
    } else if (bytes < kLargePage) {
        Shared().Give(block, bytes);
    } else {
        munmap(block, Mapped(bytes));
    }
}

CArena::CArena(std::size_t bytes) : block(static_cast<uint8_t*>(Take(Mapped(bytes)))), size(Mapped(bytes)) {}

CArena::~CArena() { Give(block, size); }

void* CArena::Cut(std::size_t bytes) {
    // Each array on a cache line of its own.
    constexpr std::size_t kAlign = 64;
    if (bytes > size - used) return nullptr;
    void* at = block + used;
    used = std::min(size, RoundUp(used + bytes, kAlign));
    return at;
}

bool CArena::Holds(const void* p) const {
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    const auto begin = reinterpret_cast<std::uintptr_t>(block);
    return at >= begin && at < begin + size;
}

}  // namespace largepages
