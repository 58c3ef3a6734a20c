#pragma once
// Memory for the receive store's blocks (received bytes, and the lines of an opened file), made
// present ahead of need.
//
// A flood fills a new 256 KiB block every few milliseconds, and the first
// write to each page of fresh memory is a page fault: on the window's thread
// that was a third of its work while receiving. A thread of its own keeps a
// few blocks mapped and present, in huge pages where the system has them, so
// the window's thread finds them ready.
// When it has none ready the block is mapped on the spot, as before.
//
// What a store lets go of at once (a Clear after a long session: gigabytes, thousands of
// blocks) is destroyed on a thread of its own, so that unmapping it never holds the thread that
// cleared.
//
// Both threads run at the window's priority, never below: mapping, unmapping and making pages
// present hold the process's memory map lock, which the window's thread needs for its own page
// faults and allocations. A thread of the lowest priority (SCHED_IDLE) that the scheduler kept
// off both cores while it held the lock left the window's thread asleep behind it for up to
// 9 ms under a flood.
//
// Threads: every function may be called from any thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>

namespace blocksupply {

constexpr size_t BlockBytes = size_t(1) << 18;
// Blocks kept ready, at most: 4 MiB (made ready 2 MiB at a time).
constexpr size_t ReadyBlocks = 16;

// BlockBytes of zeroed memory; throws std::bad_alloc when none can be mapped.
void* Take();
// Gives a block from Take back to the system.
void Release(void* block) noexcept;
// Destroys garbage on the discarding thread, after whatever was discarded before it; where no
// thread can be had, at once.
void Discard(std::shared_ptr<void> garbage) noexcept;
// Moves what a container holds to the discarding thread and leaves it empty; where no memory can
// be had to hand it over, it is destroyed here.
template <class TContainer>
void DiscardContents(TContainer& container) {
    if (container.empty())
        return;
    try {
        Discard(std::make_shared<TContainer>(std::move(container)));
    } catch (const std::bad_alloc&) {
    }
    TContainer().swap(container);
}
// Runs work on the discarding thread once what was discarded before it is destroyed.
void AfterDiscards(std::function<void()> work) noexcept;
// Waits until everything discarded so far is destroyed (for the tests).
void Settle();
// Blocks taken and not yet released.
size_t Mapped();
// Blocks ready now, and how many Take calls found one ready (for the tests
// and the benchmarks).
size_t Ready();
size_t TakenReady();

// A growable byte buffer, as std::vector<uint8_t> but copying with memcpy,
// whose allocations of exactly BlockBytes come from the supply.
class TBytes {
public:
    TBytes() = default;
    TBytes(const TBytes& other);
    TBytes& operator=(const TBytes&) = delete;
    ~TBytes() { Free(); }

    uint8_t* data() { return m_data; }
    const uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }
    size_t capacity() const { return m_capacity; }
    void reserve(size_t n);
    // New bytes are zero.
    void resize(size_t n);
    void append(const uint8_t* bytes, size_t n);
    void shrink_to_fit();

private:
    void Reallocate(size_t capacity);
    void Free() noexcept;

    uint8_t* m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

// Objects of one size packed into the supply's blocks one after another, for an owner that makes
// many of them and lets them go in about the order it made them (a plot series' chunks). A block
// goes back to the system once every object taken from it has been released, and once its packer
// has moved on from it or is gone.
// Threads: Take on the owner's thread; Release on any thread.
class TPacker {
public:
    // For objects of at most objectBytes; where fewer than two fit in a block, every object is
    // allocated on its own.
    explicit TPacker(size_t objectBytes);
    TPacker(const TPacker&) = delete;
    TPacker& operator=(const TPacker&) = delete;
    ~TPacker();

    // Room for an object of at most the packer's size, aligned to 64 bytes; throws
    // std::bad_alloc when no memory can be had.
    void* Take(size_t bytes);
    static void Release(void* object) noexcept;

private:
    struct THead;
    void Leave() noexcept;

    size_t m_slot;  // bytes an object takes in a block, its back pointer included
    size_t m_slots; // objects in a block
    THead* m_block = nullptr;
    size_t m_next = 0; // the next object's place in m_block
};

// An allocator for std::allocate_shared that takes its objects from a packer.
template <class T> class TPackedAllocator {
public:
    using value_type = T;
    explicit TPackedAllocator(TPacker& packer) : m_packer(&packer) {}
    template <class U>
    TPackedAllocator(const TPackedAllocator<U>& other) : m_packer(other.Packer()) {}
    T* allocate(size_t n) { return static_cast<T*>(m_packer->Take(n * sizeof(T))); }
    void deallocate(T* p, size_t) noexcept { TPacker::Release(p); }
    TPacker* Packer() const { return m_packer; }
    template <class U> bool operator==(const TPackedAllocator<U>& other) const {
        return m_packer == other.Packer();
    }

private:
    TPacker* m_packer;
};

} // namespace blocksupply
