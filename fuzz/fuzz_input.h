// SPDX-License-Identifier: MIT
// The fuzzer's bytes read as a script: one byte at a time (0 once they run
// out) or a run of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_offset >= m_size; }
    uint8_t Byte() { return m_offset < m_size ? m_data[m_offset++] : 0; }
    // Copies up to wanted bytes into out; returns how many there were.
    size_t Take(uint8_t* out, size_t wanted)
    {
        const size_t n = wanted < m_size - m_offset ? wanted : m_size - m_offset;
        if (n != 0)
            std::memcpy(out, m_data + m_offset, n);
        m_offset += n;
        return n;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
};
