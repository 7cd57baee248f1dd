#include "Trv2Encoder.h"

#include <algorithm>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace gardivo::trv2 {

namespace {

// Least-significant-bit-first packing into little-endian 32-bit words, eight bytes at a time.
class BitWriter {
public:
    BitWriter(uint8_t* dst) : m_dst(dst) {}
    // Up to 64 bits a call.
    void put(uint64_t bits, unsigned length) {
        m_acc |= static_cast<unsigned __int128>(bits) << m_count;
        m_count += length;
        if (m_count >= 64) {
            const uint64_t low = static_cast<uint64_t>(m_acc);
            std::memcpy(m_dst + m_bytes, &low, 8);
            m_bytes += 8;
            m_acc >>= 64;
            m_count -= 64;
        }
    }
    // The frame size: whole words written, and the partial one counted as a whole word.
    size_t size() const { return m_bytes + 4 * ((m_count + 31) / 32); }
    size_t fullBytes() const { return m_bytes; }
    unsigned pendingBits() const { return m_count; }
    void finish() {
        const uint64_t low = static_cast<uint64_t>(m_acc);
        std::memcpy(m_dst + m_bytes, &low, 4 * ((m_count + 31) / 32));
    }
    // A writer that goes on from this one's bits into another buffer.
    BitWriter continuedIn(uint8_t* scratch) const {
        BitWriter w(scratch);
        w.m_acc = m_acc;
        w.m_count = m_count;
        return w;
    }
    // Takes over what a continued writer wrote, appending its whole bytes to this buffer.
    void append(const BitWriter& continued) {
        std::memcpy(m_dst + m_bytes, continued.m_dst, continued.m_bytes);
        m_bytes += continued.m_bytes;
        m_acc = continued.m_acc;
        m_count = continued.m_count;
    }

private:
    uint8_t* m_dst;
    size_t m_bytes = 0;
    unsigned __int128 m_acc = 0;
    unsigned m_count = 0;
};

// Bit 4g + k set when scan byte 4g + k is not zero.
inline uint64_t nonZeroBits(const uint8_t* scan) {
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    uint64_t bits = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(scan + 16 * i));
        bits |= uint64_t(~_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)) & 0xFFFF) << (16 * i);
    }
    return bits;
#else
    uint64_t bits = 0;
    for (int i = 0; i < 64; ++i)
        bits |= uint64_t(scan[i] != 0) << i;
    return bits;
#endif
}

// The value codes of the non-zero bytes of one group, in position order, after what is in word.
inline void appendValues(const uint8_t* group, unsigned mask, uint64_t& word, unsigned& length) {
    for (; mask; mask &= mask - 1) {
        const Code& c = kValueCodes[group[__builtin_ctz(mask)]];
        word |= uint64_t(c.bits) << length;
        length += c.length;
    }
}

void codeBlock(const uint8_t scan[64], int lastGroup, BitWriter& out) {
    const uint64_t nonZero = nonZeroBits(scan) | 1u; // the DC byte counts as non-zero
    const uint64_t coded = lastGroup >= 15 ? nonZero : nonZero & ((uint64_t(1) << (4 * (lastGroup + 1))) - 1);
    const int n = (63 - __builtin_clzll(coded)) / 4;

    // n, the DC byte and the first group's prefix and values: at most 4 + 8 + 4 + 39 bits.
    const unsigned first = static_cast<unsigned>(nonZero >> 1) & 7u;
    uint64_t word = uint64_t(n) | uint64_t(scan[0]) << 4 | uint64_t(kFirstGroupPrefix[first].bits) << 12;
    unsigned length = 12 + kFirstGroupPrefix[first].length;
    appendValues(scan, first << 1, word, length);
    out.put(word, length);
    for (int g = 1; g <= n; ++g) {
        const unsigned mask = static_cast<unsigned>(nonZero >> (4 * g)) & 15u;
        word = kGroupPrefix[mask].bits;
        length = kGroupPrefix[mask].length;
        appendValues(scan + 4 * g, mask, word, length);
        out.put(word, length);
    }
}

// Worst case of one macroblock coded up to group L, in bytes, rounded up.
constexpr size_t worstMacroblockBytes(int lastGroup) {
    const size_t blockBits = 4 + 8 + 2 + 3 * 13 + static_cast<size_t>(lastGroup) * (4 + 4 * 13);
    return (6 * blockBits + 7) / 8;
}

// A 16 x 16 UYVY area painted black with neutral chroma, for the macroblocks at the edges.
struct EdgeArea {
    uint8_t bytes[16 * 32];
    void clear() {
        for (size_t i = 0; i < sizeof bytes; i += 2) {
            bytes[i] = 0x80;
            bytes[i + 1] = 0x00;
        }
    }
};

// One attempt at the whole frame with groups up to lastGroup; false when it would not fit.
bool encodeAttempt(const uint8_t* src, int width, int height, BitWriter& out, size_t capacity,
                   const QualityParameters& params, int lastGroup, MacroblockKernel kernel) {
    const size_t stride = static_cast<size_t>(width) * 2;
    const int W = width / 16, H = height / 16, rx = width % 16, ry = height % 16;
    // The writer may run ahead of the bits by one 8-byte store.
    const size_t worst = worstMacroblockBytes(lastGroup) + 16;
    uint8_t scans[6][64];
    uint8_t scratch[worstMacroblockBytes(15) + 16];
    EdgeArea edge;
    // Codes a macroblock straight into the frame while a worst-case one has room; near the end of
    // the buffer it is coded aside and taken only if the frame could still end after it.
    const auto code = [&](const uint8_t* mb, size_t mbStride) {
        kernel(mb, mbStride, params.multipliers.data(), scans);
        if (out.fullBytes() + worst <= capacity) {
            for (auto& scan : scans)
                codeBlock(scan, lastGroup, out);
            return true;
        }
        BitWriter aside = out.continuedIn(scratch);
        for (auto& scan : scans)
            codeBlock(scan, lastGroup, aside);
        if (out.fullBytes() + aside.size() > capacity)
            return false;
        out.append(aside);
        return true;
    };
    for (int r = 0; r < H; ++r)
        for (int c = 0; c < W; ++c)
            if (!code(src + static_cast<size_t>(r) * 16 * stride + static_cast<size_t>(c) * 32, stride))
                return false;
    if (rx > 0) {
        for (int r = 0; r < H; ++r) {
            edge.clear();
            for (int y = 0; y < 16; ++y)
                std::memcpy(edge.bytes + 32 * y, src + (static_cast<size_t>(r) * 16 + y) * stride + W * 32,
                            static_cast<size_t>(rx) * 2);
            if (!code(edge.bytes, 32))
                return false;
        }
    }
    if (ry > 0) {
        for (int c = 0; c < W; ++c) {
            edge.clear();
            for (int y = 0; y < ry; ++y)
                std::memcpy(edge.bytes + 32 * y, src + (static_cast<size_t>(H) * 16 + y) * stride + c * 32,
                            32);
            if (!code(edge.bytes, 32))
                return false;
        }
        if (rx > 0) {
            edge.clear();
            for (int y = 0; y < ry; ++y)
                std::memcpy(edge.bytes + 32 * y, src + (static_cast<size_t>(H) * 16 + y) * stride + W * 32,
                            static_cast<size_t>(rx) * 2);
            if (!code(edge.bytes, 32))
                return false;
        }
    }
    return true;
}

} // namespace

void BuildEncoderTables() {
    activeKernel();
    EncoderState::instance().SetQualityParameters(10, 64);
}

void SetQualityParameters(int a, int b) {
    EncoderState::instance().SetQualityParameters(a, b);
}

uint32_t ApplyQualityLevel(int level) {
    return EncoderState::instance().ApplyQualityLevel(level);
}

size_t codeBlockBits(const uint8_t scan[64], int lastGroup, uint8_t* out) {
    BitWriter writer(out);
    codeBlock(scan, lastGroup, writer);
    writer.finish();
    return writer.fullBytes() * 8 + writer.pendingBits();
}

size_t worstCaseMacroblockBytes() {
    return worstMacroblockBytes(15);
}

size_t worstCaseFrameBytes(int width, int height) {
    const size_t macroblocks =
        static_cast<size_t>((width + 15) / 16) * static_cast<size_t>((height + 15) / 16);
    return macroblocks * worstMacroblockBytes(15) + 4;
}

size_t encodeFrameWith(const uint8_t* source, int width, int height, uint8_t* dst, size_t capacity,
                       const QualityParameters& params, MacroblockKernel kernel) {
    if (width <= 0 || height <= 0 || width % 2 != 0 || !source || !dst)
        return 0;
    // Fewer groups each time the frame does not fit: the coarsest attempt keeps only the DC terms.
    for (int lastGroup = params.lastGroup;; lastGroup = std::max(0, lastGroup - 3)) {
        BitWriter out(dst);
        if (encodeAttempt(source, width, height, out, capacity, params, lastGroup, kernel)) {
            out.finish();
            return out.size();
        }
        if (lastGroup == 0)
            return 0;
    }
}

size_t EncodeFrame(const uint8_t* source, int width, int height, uint8_t* dst, size_t capacity) {
    // The parameters are taken once per frame: a quality change applies from the next frame.
    const QualityParameters params = EncoderState::instance().snapshot();
    return encodeFrameWith(source, width, height, dst, capacity, params, activeKernel());
}

} // namespace gardivo::trv2
