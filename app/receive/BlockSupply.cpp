#include "BlockSupply.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace blocksupply {
namespace {

std::atomic<size_t> MappedBlocks{0};

void* Map() {
    void* p = ::mmap(nullptr, BlockBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

// The supply maps memory a chunk of blocks at a time, aligned to its size and in huge pages
// where the system has them: a block's first write then costs no fault of its own. Where memory
// is provided page by page when first written (a virtual machine that maps its memory from the
// host lazily), each fault of a small page on the window's thread cost more than the copy.
constexpr size_t ChunkBlocks = 8;
constexpr size_t ChunkBytes = ChunkBlocks * BlockBytes; // 2 MiB, a huge page on x86-64

// ChunkBytes aligned to ChunkBytes; null when none can be mapped.
void* MapChunk() {
    void* p =
        ::mmap(nullptr, 2 * ChunkBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    const auto at = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (at + ChunkBytes - 1) & ~uintptr_t(ChunkBytes - 1);
    const size_t head = aligned - at;
    if (head > 0)
        ::munmap(p, head);
    ::munmap(reinterpret_cast<void*>(aligned + ChunkBytes), ChunkBytes - head);
    void* chunk = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    ::madvise(chunk, ChunkBytes, MADV_HUGEPAGE); // a request: without huge pages, small ones
#endif
    return chunk;
}

// Makes the pages of fresh memory present by writing to each of them. Not by
// madvise(MADV_POPULATE_WRITE): that holds the address space's lock while the system clears the
// huge page, and on a virtual machine that backs memory lazily that is milliseconds in which
// every other thread's brk, mmap or munmap waits (the window's thread growing its heap by a few
// KiB measured 3-6 ms waits). A write faults under the mapping's own lock, and it also makes the
// page this thread's to pay for: the first store to each small page of it costs a virtual
// machine a trap, which the worker writing the received bytes no longer takes.
void Populate(void* memory, size_t size) {
    const size_t page = size_t(std::max(4096L, sysconf(_SC_PAGESIZE)));
    auto* bytes = static_cast<volatile unsigned char*>(memory);
    for (size_t at = 0; at < size; at += page)
        bytes[at] = 0; // writing one byte of each page makes the system provide it now
}

// The supply lives as long as the process, as the discarding thread does: a job thread still
// opening a file at exit may take a block after the static objects are gone.
class TSupply {
public:
    void* Take() {
        void* block = nullptr;
        {
            // Only tried: a caller must never wait for the supply's thread to
            // be given a core again.
            std::unique_lock lock(m_lock, std::try_to_lock);
            if (lock.owns_lock()) {
                if (!m_thread.joinable()) {
                    m_ready.reserve(ReadyBlocks);
                    m_thread = std::thread([this] { Run(); });
                }
                if (!m_ready.empty()) {
                    block = m_ready.back();
                    m_ready.pop_back();
                    ++m_takenReady;
                }
            }
        }
        m_wake.notify_one();
        if (block == nullptr)
            block = Map();
        if (block == nullptr)
            throw std::bad_alloc();
        MappedBlocks.fetch_add(1, std::memory_order_relaxed);
        return block;
    }

    size_t Ready() {
        std::lock_guard lock(m_lock);
        return m_ready.size();
    }
    size_t TakenReady() {
        std::lock_guard lock(m_lock);
        return m_takenReady;
    }

private:
    void Run() {
        pthread_setname_np(pthread_self(), "block supply");
        std::unique_lock lock(m_lock);
        for (;;) {
            m_wake.wait(lock, [this] { return m_ready.size() + ChunkBlocks <= ReadyBlocks; });
            lock.unlock();
            auto* chunk = static_cast<uint8_t*>(MapChunk());
            if (chunk != nullptr)
                Populate(chunk, ChunkBytes);
            lock.lock();
            if (chunk == nullptr) // out of memory: from now on Take maps (and fails) on its own
                return;
            // Each block of the chunk is released on its own, as any block is.
            for (size_t i = ChunkBlocks; i-- > 0;)
                m_ready.push_back(chunk + i * BlockBytes);
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<void*> m_ready;
    size_t m_takenReady = 0;
    std::thread m_thread;
};

TSupply& Supply() {
    static TSupply* const supply = new TSupply;
    return *supply;
}

// The discarding thread. It lives as long as the process: a job thread still running at exit
// may let go of a store after the static objects are gone, and what is queued then is the
// system's to take back.
class TDiscard {
public:
    void Add(std::function<void()>& work) {
        {
            std::lock_guard lock(m_lock);
            if (!m_thread.joinable())
                m_thread = std::thread([this] { Run(); });
            m_queue.push_back(std::move(work));
            ++m_added;
        }
        m_wake.notify_all();
    }

    void Settle() {
        std::unique_lock lock(m_lock);
        const uint64_t target = m_added;
        m_wake.wait(lock, [&] { return m_done >= target; });
    }

private:
    void Run() {
        pthread_setname_np(pthread_self(), "discard");
        std::unique_lock lock(m_lock);
        for (;;) {
            m_wake.wait(lock, [this] { return !m_queue.empty(); });
            std::vector<std::function<void()>> batch;
            batch.swap(m_queue);
            lock.unlock();
            for (std::function<void()>& work : batch) {
                work();
                work = nullptr; // what it held goes here too
            }
            const size_t n = batch.size();
            batch.clear();
            lock.lock();
            m_done += n;
            m_wake.notify_all();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<std::function<void()>> m_queue;
    uint64_t m_added = 0, m_done = 0;
    std::thread m_thread;
};

TDiscard& Discarder() {
    static TDiscard* const discard = new TDiscard;
    return *discard;
}

} // namespace

void* Take() {
    return Supply().Take();
}

void Release(void* block) noexcept {
    if (block == nullptr)
        return;
    ::munmap(block, BlockBytes);
    MappedBlocks.fetch_sub(1, std::memory_order_relaxed);
}

void Discard(std::shared_ptr<void> garbage) noexcept {
    if (garbage != nullptr)
        AfterDiscards([garbage = std::move(garbage)]() mutable { garbage.reset(); });
}

void AfterDiscards(std::function<void()> work) noexcept {
    try {
        Discarder().Add(work);
    } catch (...) { // no thread or no memory for the queue: the work is done here
        if (work) {
            try {
                work();
            } catch (...) {
            }
        }
    }
}

void Settle() {
    Discarder().Settle();
}

size_t Mapped() {
    return MappedBlocks.load(std::memory_order_relaxed);
}

size_t Ready() {
    return Supply().Ready();
}

size_t TakenReady() {
    return Supply().TakenReady();
}

TBytes::TBytes(const TBytes& other) {
    append(other.m_data, other.m_size);
}

void TBytes::Reallocate(size_t capacity) {
    uint8_t* data;
    if (capacity == BlockBytes) {
        data = static_cast<uint8_t*>(Take());
    } else {
        data = static_cast<uint8_t*>(std::malloc(std::max<size_t>(capacity, 1)));
        if (data == nullptr)
            throw std::bad_alloc();
    }
    if (m_size > 0)
        std::memcpy(data, m_data, m_size);
    Free();
    m_data = data;
    m_capacity = capacity;
}

void TBytes::Free() noexcept {
    if (m_capacity == BlockBytes)
        Release(m_data);
    else
        std::free(m_data);
    m_data = nullptr;
    m_capacity = 0;
}

void TBytes::reserve(size_t n) {
    if (n > m_capacity)
        Reallocate(n);
}

void TBytes::resize(size_t n) {
    if (n > m_capacity)
        Reallocate(std::max(n, 2 * m_capacity));
    if (n > m_size)
        std::memset(m_data + m_size, 0, n - m_size);
    m_size = n;
}

void TBytes::append(const uint8_t* bytes, size_t n) {
    if (n == 0)
        return;
    if (m_size + n > m_capacity)
        Reallocate(std::max(m_size + n, 2 * m_capacity));
    std::memcpy(m_data + m_size, bytes, n);
    m_size += n;
}

void TBytes::shrink_to_fit() {
    if (m_size == m_capacity)
        return;
    if (m_size == 0) {
        Free();
        return;
    }
    const size_t size = m_size;
    Reallocate(size);
}

// A packed block begins with its head; every object is preceded by a pointer to the head (or
// null for one allocated on its own).
struct TPacker::THead {
    // Objects not yet released, and one more while the packer still takes from the block.
    std::atomic<size_t> Live{1};
};

namespace {
constexpr size_t PackAlign = 64;
constexpr size_t PackHead = (sizeof(void*) + PackAlign - 1) / PackAlign * PackAlign;
constexpr size_t BlockHead = PackAlign; // THead, rounded up
} // namespace

TPacker::TPacker(size_t objectBytes)
    : m_slot((objectBytes + PackHead + PackAlign - 1) / PackAlign * PackAlign),
      m_slots((BlockBytes - BlockHead) / m_slot) {}

TPacker::~TPacker() {
    Leave();
}

void TPacker::Leave() noexcept {
    if (m_block != nullptr && m_block->Live.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        m_block->~THead();
        blocksupply::Release(m_block);
    }
    m_block = nullptr;
}

void* TPacker::Take(size_t bytes) {
    uint8_t* at;
    void* head = nullptr;
    if (m_slots < 2 || bytes + PackHead > m_slot) {
        at = static_cast<uint8_t*>(::operator new(bytes + PackHead, std::align_val_t(PackAlign)));
    } else {
        if (m_block == nullptr || m_next == m_slots) {
            Leave();
            m_block = new (blocksupply::Take()) THead;
            m_next = 0;
        }
        m_block->Live.fetch_add(1, std::memory_order_relaxed);
        at = reinterpret_cast<uint8_t*>(m_block) + BlockHead + m_next++ * m_slot;
        head = m_block;
    }
    std::memcpy(at + PackHead - sizeof(void*), &head, sizeof head);
    return at + PackHead;
}

void TPacker::Release(void* object) noexcept {
    if (object == nullptr)
        return;
    uint8_t* at = static_cast<uint8_t*>(object) - PackHead;
    void* head;
    std::memcpy(&head, at + PackHead - sizeof(void*), sizeof head);
    if (head == nullptr) {
        ::operator delete(at, std::align_val_t(PackAlign));
        return;
    }
    auto* block = static_cast<THead*>(head);
    if (block->Live.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        block->~THead();
        blocksupply::Release(block);
    }
}

} // namespace blocksupply
