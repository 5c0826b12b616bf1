#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

// Memory for the engine's large arrays that are written in full (a chunk's
// columns, the bytes of its rows), in large pages where the system grants
// them.
//
// Such an array is new to the process and written over once: taken in
// small pages, that is a fault per 4 KB, which on a virtual machine costs
// more than the writing itself; in large pages, a fault per 2 MB. A block
// of at least kFrom bytes starts on a large page. Below a large page,
// blocks share large pages in slots; above, a block is mapped on its own,
// the whole large pages inside it advised, its last part in small pages.
// Only what is touched is brought in, but a large page is brought in whole:
// an array that is written only in part belongs in small pages. Where the
// advice is refused, the pages come small as before.
namespace largepages {

constexpr std::size_t kFrom = std::size_t{1} << 19;

// Blocks below kFrom come from operator new (all blocks do under the
// address sanitizer). Take throws std::bad_alloc when there is no memory;
// Give must get the size Take got.
void* Take(std::size_t bytes);
void Give(void* block, std::size_t bytes) noexcept;

// How many bytes a block of `bytes` occupies: room the caller may use.
std::size_t Mapped(std::size_t bytes);

// Gives a block back, for a unique_ptr that holds one: a block of Take's,
// or (large false) of operator new's.
struct Giver {
    std::size_t bytes = 0;
    bool large = true;
    void operator()(void* block) const noexcept {
        if (large) {
            Give(block, bytes);
        } else {
            ::operator delete(block);
        }
    }
};

// One block that several arrays are cut from, given back when the last of
// them lets go: arrays sized together (a chunk's columns) share their large
// pages, and only the block's very end is a part page.
class CArena {
public:
    explicit CArena(std::size_t bytes);
    ~CArena();
    CArena(const CArena&) = delete;
    CArena& operator=(const CArena&) = delete;
    // The next `bytes` of the block, or null when they are not there.
    void* Cut(std::size_t bytes);
    bool Holds(const void* p) const;

private:
    uint8_t* block;
    std::size_t size;
    std::size_t used = 0;
};

// Arrays from an arena when they are given one and it has room, on their
// own otherwise. A copy of an array takes memory of its own.
template <class T>
struct Allocator {
    using value_type = T;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;
    Allocator() = default;
    explicit Allocator(std::shared_ptr<CArena> from) : arena(std::move(from)) {}
    template <class U>
    Allocator(const Allocator<U>& other) noexcept : arena(other.arena) {}
    Allocator select_on_container_copy_construction() const { return Allocator(); }

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        if (arena) {
            if (void* p = arena->Cut(n * sizeof(T))) return static_cast<T*>(p);
        }
        return static_cast<T*>(Take(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (arena && arena->Holds(p)) return;
        Give(p, n * sizeof(T));
    }
    template <class U>
    bool operator==(const Allocator<U>& other) const noexcept {
        return arena == other.arena;
    }

    std::shared_ptr<CArena> arena;
};

template <class T>
using Vector = std::vector<T, Allocator<T>>;

}  // namespace largepages
