#include "Trv2BitWriter.h"
#include "Trv2Kernels.h"
#include "Trv2Tables.h"

#include <algorithm>

namespace gardivo::trv2 {

namespace {

// 16-bit arithmetic as the packed-word instructions do it: sums wrap, products keep the high half.
inline int16_t w(int v) {
    return static_cast<int16_t>(static_cast<uint16_t>(v));
}
inline int16_t mulhi(int16_t x, int c) {
    return static_cast<int16_t>((int32_t(x) * c) >> 16);
}
inline int16_t shl(int16_t x, int n) {
    return w(static_cast<int>(static_cast<uint16_t>(x) << n));
}

template <bool FirstPass>
void butterfly(int16_t x0, int16_t x1, int16_t x2, int16_t x3, int16_t x4, int16_t x5, int16_t x6, int16_t x7,
               int16_t out[8]) {
    const auto m0707 = [](int16_t x) {
        return FirstPass ? mulhi(shl(x, 1), 23170) : shl(mulhi(x, 23170), 1);
    };
    const auto m0541 = [](int16_t x) {
        return FirstPass ? mulhi(shl(x, 1), 17734) : shl(mulhi(x, 17734), 1);
    };
    const auto m1306 = [](int16_t x) {
        return FirstPass ? mulhi(shl(x, 2), 21407) : shl(mulhi(x, 21407), 2);
    };
    const auto m0382 = [](int16_t x) { return mulhi(x, 25076); };
    const int16_t t0 = w(x0 + x7), t7 = w(x0 - x7), t1 = w(x1 + x6), t6 = w(x1 - x6);
    const int16_t t2 = w(x2 + x5), t5 = w(x2 - x5), t3 = w(x3 + x4), t4 = w(x3 - x4);
    const int16_t e0 = w(t0 + t3), e3 = w(t0 - t3), e1 = w(t1 + t2), e2 = w(t1 - t2);
    out[0] = w(e0 + e1);
    out[4] = w(e0 - e1);
    const int16_t z1 = m0707(w(e2 + e3));
    out[2] = w(e3 + z1);
    out[6] = w(e3 - z1);
    const int16_t o0 = w(t4 + t5), o1 = w(t5 + t6), o2 = w(t6 + t7);
    const int16_t z5 = m0382(w(o2 - o0));
    const int16_t z2 = w(m0541(o0) - z5);
    const int16_t z4 = w(m1306(o2) - z5);
    const int16_t z3 = m0707(o1);
    const int16_t z11 = w(t7 + z3), z13 = w(t7 - z3);
    out[1] = w(z11 + z4);
    out[7] = w(z11 - z4);
    out[5] = w(z13 + z2);
    out[3] = w(z13 - z2);
}

void quantizeAndScan(const int16_t f[64], const int16_t* m, uint8_t scan[64]) {
    uint8_t q[64];
    for (int i = 0; i < 64; ++i) {
        const int32_t v = std::clamp((int32_t(f[i]) * m[i] + 32768) >> 16, -32768, 32767);
        q[i] = i == 0 ? static_cast<uint8_t>(v & 0xFF)
                      : static_cast<uint8_t>(static_cast<int8_t>(std::clamp(v, -128, 127)));
    }
    for (int g = 0; g < 16; ++g)
        for (int k = 0; k < 4; ++k) {
            const int at = kScanGroups[static_cast<size_t>(g)][static_cast<size_t>(k)];
            scan[4 * g + k] = at < 0 ? 0 : q[at];
        }
}

// The value codes of the non-zero bytes of one group, in position order, after what is in word.
inline void appendValues(const uint8_t* group, unsigned mask, uint64_t& word, unsigned& length) {
    for (; mask; mask &= mask - 1) {
        const Code& c = kValueCodes[group[__builtin_ctz(mask)]];
        word |= uint64_t(c.bits) << length;
        length += c.length;
    }
}

} // namespace

void codeBlockScalar(const uint8_t scan[64], int lastGroup, BitWriter& out) {
    uint64_t nonZero = 1; // the DC byte counts as non-zero
    for (int i = 1; i < 64; ++i)
        nonZero |= uint64_t(scan[i] != 0) << i;
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

void codeMacroblockScalar(const uint8_t scans[6][64], int lastGroup, BitWriter& out) {
    for (int b = 0; b < 6; ++b)
        codeBlockScalar(scans[b], lastGroup, out);
}

void forwardDct(const int16_t samples[64], int16_t out[64]) {
    int16_t a[8][8];
    // Down each column: vertical frequency v lands in row v.
    for (int c = 0; c < 8; ++c) {
        int16_t col[8];
        const auto s = [&](int r) { return shl(samples[8 * r + c], 1); };
        butterfly<true>(s(0), s(1), s(2), s(3), s(4), s(5), s(6), s(7), col);
        for (int v = 0; v < 8; ++v)
            a[v][c] = col[v];
    }
    // Transposed, the same again: row u of the result holds horizontal frequency u.
    for (int v = 0; v < 8; ++v) {
        int16_t row[8];
        butterfly<false>(a[v][0], a[v][1], a[v][2], a[v][3], a[v][4], a[v][5], a[v][6], a[v][7], row);
        for (int u = 0; u < 8; ++u)
            out[8 * u + v] = row[u];
    }
}

void macroblockScalar(const uint8_t* src, size_t stride, const int16_t* multipliers, uint8_t scans[6][64]) {
    int16_t samples[64], coefficients[64];
    for (int b = 0; b < 4; ++b) {
        const uint8_t* origin =
            src + static_cast<size_t>(8 * (b / 2)) * stride + static_cast<size_t>(16 * (b % 2)) + 1;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                samples[8 * y + x] = origin[static_cast<size_t>(y) * stride + 2 * static_cast<size_t>(x)];
        forwardDct(samples, coefficients);
        quantizeAndScan(coefficients, multipliers, scans[b]);
    }
    for (int chroma = 0; chroma < 2; ++chroma) {
        for (int i = 0; i < 8; ++i) {
            const uint8_t* top = src + static_cast<size_t>(2 * i) * stride + 2 * chroma;
            const uint8_t* bottom = top + stride;
            for (int j = 0; j < 8; ++j)
                samples[8 * i + j] = static_cast<int16_t>((top[4 * j] + bottom[4 * j]) >> 1);
        }
        forwardDct(samples, coefficients);
        quantizeAndScan(coefficients, multipliers, scans[4 + chroma]);
    }
}

MacroblockKernel kernelFor(SimdLevel level) {
#if defined(__x86_64__) || defined(__i386__)
    if (level >= SimdLevel::Avx2)
        return {macroblockAvx2, codeMacroblockAvx2};
    if (level >= SimdLevel::Sse2)
        return {macroblockSse2, codeMacroblockSse2};
#endif
    (void)level;
    return {macroblockScalar, codeMacroblockScalar};
}

MacroblockKernel activeKernel() {
    static const MacroblockKernel kernel = kernelFor(detectSimdLevel());
    return kernel;
}

} // namespace gardivo::trv2
