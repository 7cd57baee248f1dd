#include "Trv2Encoder.h"

#include "Trv2BitWriter.h"

#include <algorithm>
#include <cstring>

namespace gardivo::trv2 {

namespace {

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
        kernel.transform(mb, mbStride, params.multipliers.data(), scans);
        if (out.fullBytes() + worst <= capacity) {
            kernel.coder(scans, lastGroup, out);
            return true;
        }
        BitWriter aside = out.continuedIn(scratch);
        kernel.coder(scans, lastGroup, aside);
        if ((out.fullBytes() * 8 + aside.bits() + 31) / 32 * 4 > capacity)
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
    codeBlockScalar(scan, lastGroup, writer);
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
