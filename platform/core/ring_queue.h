// SPDX-License-Identifier: MIT
// A first-in, first-out queue over a ring that grows when full, so that a
// queue in steady use allocates nothing.
#pragma once

#include <cstddef>
#include <vector>

template <class T> class CRingQueue {
public:
    explicit CRingQueue(std::size_t nCapacity = 64) : m_ring(nCapacity) {}

    void Push(const T& item)
    {
        if (m_nCount == m_ring.size()) {
            std::vector<T> larger(m_ring.size() * 2);
            for (std::size_t i = 0; i < m_nCount; ++i)
                larger[i] = At(i);
            m_ring.swap(larger);
            m_nHead = 0;
        }
        m_ring[(m_nHead + m_nCount) % m_ring.size()] = item;
        ++m_nCount;
    }

    // The oldest item; the queue must not be empty.
    const T& Front() const { return m_ring[m_nHead]; }
    void Pop()
    {
        m_nHead = (m_nHead + 1) % m_ring.size();
        --m_nCount;
    }

    // Item i from the oldest.
    T& At(std::size_t i) { return m_ring[(m_nHead + i) % m_ring.size()]; }
    std::size_t Size() const { return m_nCount; }
    bool Empty() const { return m_nCount == 0; }

private:
    std::vector<T> m_ring;
    std::size_t m_nHead = 0;
    std::size_t m_nCount = 0;
};
