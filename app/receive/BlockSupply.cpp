#include "BlockSupply.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace blocksupply {
namespace {

void* Map() {
    void* p = ::mmap(nullptr, BlockBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

class TSupply {
public:
    ~TSupply() {
        {
            std::lock_guard lock(m_lock);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        for (void* block : m_ready)
            ::munmap(block, BlockBytes);
    }

    void* Take() {
        void* block = nullptr;
        {
            // Only tried: the supply's thread runs at the lowest priority, and
            // a caller must never wait for it to be given a core again.
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
        sched_param param{};
        if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) != 0)
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
        const size_t page = size_t(std::max(4096L, sysconf(_SC_PAGESIZE)));
        std::unique_lock lock(m_lock);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || m_ready.size() < ReadyBlocks; });
            if (m_stop)
                return;
            lock.unlock();
            // Writing one byte of each page makes the system provide it now.
            auto* block = static_cast<volatile unsigned char*>(Map());
            if (block != nullptr)
                for (size_t at = 0; at < BlockBytes; at += page)
                    block[at] = 0;
            lock.lock();
            if (block == nullptr) { // out of memory: let Take map (and fail) on its own
                m_wake.wait(lock, [this] { return m_stop; });
                return;
            }
            m_ready.push_back(const_cast<unsigned char*>(block));
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<void*> m_ready;
    size_t m_takenReady = 0;
    bool m_stop = false;
    std::thread m_thread;
};

TSupply& Supply() {
    static TSupply supply;
    return supply;
}

} // namespace

void* Take() {
    return Supply().Take();
}

void Release(void* block) noexcept {
    if (block != nullptr)
        ::munmap(block, BlockBytes);
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

} // namespace blocksupply
