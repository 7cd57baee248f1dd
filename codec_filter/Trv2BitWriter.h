#pragma once

// Least-significant-bit-first packing into little-endian 32-bit words, which is a plain
// least-significant-bit-first byte stream: every field goes into a 64-bit accumulator that is
// stored whole each time and moved on by the bytes it completed. Shared by the encoder and every
// kernel's coder.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace gardivo::trv2 {

class BitWriter {
public:
    explicit BitWriter(uint8_t* dst) : m_dst(dst) {}
    // Up to 56 bits a call. Every call stores the eight bytes from the first unfinished one on,
    // with no branch: the buffer needs eight bytes of room past the last bit.
    void put(uint64_t bits, unsigned length) {
        m_acc |= bits << m_fill;
        m_fill += length;
        std::memcpy(m_dst + m_bytes, &m_acc, 8);
        const unsigned whole = m_fill >> 3;
        m_bytes += whole;
        // Two shifts, so that eight whole bytes (which a fill of 64 cannot reach) never shift by 64.
        m_acc = (m_acc >> (whole * 4)) >> (whole * 4);
        m_fill &= 7;
    }
    // The frame size: whole words written, and the partial one counted as a whole word.
    size_t size() const { return (bits() + 31) / 32 * 4; }
    size_t fullBytes() const { return m_bytes; }
    unsigned pendingBits() const { return m_fill; }
    size_t bits() const { return m_bytes * 8 + m_fill; }
    // Writes the last bits and zeros up to the end of the last word.
    void finish() {
        const uint64_t acc = m_acc;
        std::memcpy(m_dst + m_bytes, &acc, size() - m_bytes);
    }
    // A writer that goes on from this one's bits into another buffer.
    BitWriter continuedIn(uint8_t* scratch) const {
        BitWriter w(scratch);
        w.m_acc = m_acc;
        w.m_fill = m_fill;
        return w;
    }
    // Takes over what a continued writer wrote, appending its whole bytes to this buffer.
    void append(const BitWriter& continued) {
        std::memcpy(m_dst + m_bytes, continued.m_dst, continued.m_bytes);
        m_bytes += continued.m_bytes;
        m_acc = continued.m_acc;
        m_fill = continued.m_fill;
    }

private:
    uint8_t* m_dst;
    size_t m_bytes = 0;
    uint64_t m_acc = 0; // the bits after the whole bytes: fewer than eight between calls
    unsigned m_fill = 0;
};

} // namespace gardivo::trv2
