// SPDX-License-Identifier: GPL-3.0-or-later
// Fixed-size rings for the audio thread: nothing allocated once built, nothing locked.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace pulsewerk {

// A bounded queue from one producing thread to one consuming thread, neither of which
// ever waits for the other: a full queue refuses, an empty one has nothing to give.
template <typename T, std::size_t N> class SpscRing {
    static_assert(N > 0 && (N & (N - 1)) == 0, "a power of two");

public:
    // The producer. False when full: the item is not queued.
    bool push(const T &item)
    {
        const std::size_t write = m_write.load(std::memory_order_relaxed);
        if (write - m_read.load(std::memory_order_acquire) == N)
            return false;
        m_items[write % N] = item;
        m_write.store(write + 1, std::memory_order_release);
        return true;
    }
    // The consumer. False when empty.
    bool pop(T &item)
    {
        const std::size_t read = m_read.load(std::memory_order_relaxed);
        if (read == m_write.load(std::memory_order_acquire))
            return false;
        item = m_items[read % N];
        m_read.store(read + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<T, N> m_items{};
    alignas(64) std::atomic<std::size_t> m_write{0};
    alignas(64) std::atomic<std::size_t> m_read{0};
};

// The last N items of one thread, oldest first: a full ring drops its oldest.
template <typename T, std::size_t N> class FixedRing {
public:
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const T &operator[](std::size_t i) const { return m_items[(m_first + i) % N]; }
    const T &front() const { return (*this)[0]; }
    const T &back() const { return (*this)[m_size - 1]; }
    void push_back(const T &item)
    {
        if (m_size == N)
            pop_front();
        m_items[(m_first + m_size++) % N] = item;
    }
    void pop_front()
    {
        m_first = (m_first + 1) % N;
        --m_size;
    }
    void clear() { m_first = m_size = 0; }

private:
    std::array<T, N> m_items{};
    std::size_t m_first = 0;
    std::size_t m_size = 0;
};

} // namespace pulsewerk
