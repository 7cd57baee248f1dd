#include "Trv2Encoder.h"

#include <algorithm>
#include <cstring>

namespace gardivo::trv2 {

namespace {

// Least-significant-bit-first packing into little-endian 32-bit words.
class BitWriter {
public:
    BitWriter(uint8_t* dst) : m_dst(dst) {}
    void put(uint32_t bits, unsigned length) {
        m_acc |= uint64_t(bits) << m_count;
        m_count += length;
        if (m_count >= 32) {
            const uint32_t word = static_cast<uint32_t>(m_acc);
            std::memcpy(m_dst + m_bytes, &word, 4);
            m_bytes += 4;
            m_acc >>= 32;
            m_count -= 32;
        }
    }
    // Bytes written so far plus the partial word, as the frame size counts them.
    size_t size() const { return m_bytes + (m_count ? 4 : 0); }
    size_t fullBytes() const { return m_bytes; }
    unsigned pendingBits() const { return m_count; }
    void finish() {
        if (m_count) {
            const uint32_t word = static_cast<uint32_t>(m_acc);
            std::memcpy(m_dst + m_bytes, &word, 4);
        }
    }

private:
    uint8_t* m_dst;
    size_t m_bytes = 0;
    uint64_t m_acc = 0;
    unsigned m_count = 0;
};

inline unsigned nonZeroMask(const uint8_t* group) {
    return unsigned(group[0] != 0) | unsigned(group[1] != 0) << 1 | unsigned(group[2] != 0) << 2 |
           unsigned(group[3] != 0) << 3;
}

void codeBlock(const uint8_t scan[64], int lastGroup, BitWriter& out) {
    int n = 0;
    for (int g = lastGroup; g > 0; --g) {
        if (nonZeroMask(scan + 4 * g)) {
            n = g;
            break;
        }
    }
    out.put(static_cast<uint32_t>(n), 4);
    out.put(scan[0], 8); // the DC byte, which counts as non-zero
    const unsigned first = nonZeroMask(scan) >> 1;
    out.put(kFirstGroupPrefix[first].bits, kFirstGroupPrefix[first].length);
    for (int k = 1; k < 4; ++k)
        if (scan[k])
            out.put(kValueCodes[scan[k]].bits, kValueCodes[scan[k]].length);
    for (int g = 1; g <= n; ++g) {
        const uint8_t* group = scan + 4 * g;
        const unsigned mask = nonZeroMask(group);
        out.put(kGroupPrefix[mask].bits, kGroupPrefix[mask].length);
        for (int k = 0; k < 4; ++k)
            if (group[k])
                out.put(kValueCodes[group[k]].bits, kValueCodes[group[k]].length);
    }
}

// Worst case of one macroblock coded up to group L, in bytes, rounded up.
size_t worstMacroblockBytes(int lastGroup) {
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
    const size_t reserve = worstMacroblockBytes(lastGroup) + 4;
    uint8_t scans[6][64];
    EdgeArea edge;
    const auto code = [&](const uint8_t* mb, size_t mbStride) {
        if (out.fullBytes() + reserve > capacity)
            return false;
        kernel(mb, mbStride, params.multipliers.data(), scans);
        for (auto& scan : scans)
            codeBlock(scan, lastGroup, out);
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
