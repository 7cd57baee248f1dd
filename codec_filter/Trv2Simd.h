#pragma once

// The vector form of the macroblock pipeline, written once for 128-bit and 256-bit registers.
// Included only by the kernel files, each compiled for its instruction set; everything here has
// internal linkage so that no copy built for one set can stand in for another.

#include "Trv2Kernels.h"

#include <immintrin.h>

namespace gardivo::trv2 {
namespace {

struct Ops128 {
    using V = __m128i;
    static V add(V a, V b) { return _mm_add_epi16(a, b); }
    static V sub(V a, V b) { return _mm_sub_epi16(a, b); }
    static V mulhi(V a, short c) { return _mm_mulhi_epi16(a, _mm_set1_epi16(c)); }
    template <int N>
    static V shl(V a) {
        return _mm_slli_epi16(a, N);
    }
    // 8 x 8 transpose of 16-bit words, within each 128-bit lane.
    static void transpose(V r[8]) {
        const V a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
        const V a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
        const V a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
        const V a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
        const V b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
        const V b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
        const V b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
        const V b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
        r[0] = _mm_unpacklo_epi64(b0, b4);
        r[1] = _mm_unpackhi_epi64(b0, b4);
        r[2] = _mm_unpacklo_epi64(b1, b5);
        r[3] = _mm_unpackhi_epi64(b1, b5);
        r[4] = _mm_unpacklo_epi64(b2, b6);
        r[5] = _mm_unpackhi_epi64(b2, b6);
        r[6] = _mm_unpacklo_epi64(b3, b7);
        r[7] = _mm_unpackhi_epi64(b3, b7);
    }
    // (f * m + 32768) >> 16, saturated to 16 bits.
    static V quantize(V f, V m) {
        const V lo = _mm_mullo_epi16(f, m), hi = _mm_mulhi_epi16(f, m);
        const V half = _mm_set1_epi32(32768);
        const V p0 = _mm_srai_epi32(_mm_add_epi32(_mm_unpacklo_epi16(lo, hi), half), 16);
        const V p1 = _mm_srai_epi32(_mm_add_epi32(_mm_unpackhi_epi16(lo, hi), half), 16);
        return _mm_packs_epi32(p0, p1);
    }
    static V load(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
};

#ifdef __AVX2__
struct Ops256 {
    using V = __m256i;
    static V add(V a, V b) { return _mm256_add_epi16(a, b); }
    static V sub(V a, V b) { return _mm256_sub_epi16(a, b); }
    static V mulhi(V a, short c) { return _mm256_mulhi_epi16(a, _mm256_set1_epi16(c)); }
    template <int N>
    static V shl(V a) {
        return _mm256_slli_epi16(a, N);
    }
    static void transpose(V r[8]) {
        const V a0 = _mm256_unpacklo_epi16(r[0], r[1]), a1 = _mm256_unpackhi_epi16(r[0], r[1]);
        const V a2 = _mm256_unpacklo_epi16(r[2], r[3]), a3 = _mm256_unpackhi_epi16(r[2], r[3]);
        const V a4 = _mm256_unpacklo_epi16(r[4], r[5]), a5 = _mm256_unpackhi_epi16(r[4], r[5]);
        const V a6 = _mm256_unpacklo_epi16(r[6], r[7]), a7 = _mm256_unpackhi_epi16(r[6], r[7]);
        const V b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
        const V b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
        const V b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
        const V b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
        r[0] = _mm256_unpacklo_epi64(b0, b4);
        r[1] = _mm256_unpackhi_epi64(b0, b4);
        r[2] = _mm256_unpacklo_epi64(b1, b5);
        r[3] = _mm256_unpackhi_epi64(b1, b5);
        r[4] = _mm256_unpacklo_epi64(b2, b6);
        r[5] = _mm256_unpackhi_epi64(b2, b6);
        r[6] = _mm256_unpacklo_epi64(b3, b7);
        r[7] = _mm256_unpackhi_epi64(b3, b7);
    }
    static V quantize(V f, V m) {
        const V lo = _mm256_mullo_epi16(f, m), hi = _mm256_mulhi_epi16(f, m);
        const V half = _mm256_set1_epi32(32768);
        const V p0 = _mm256_srai_epi32(_mm256_add_epi32(_mm256_unpacklo_epi16(lo, hi), half), 16);
        const V p1 = _mm256_srai_epi32(_mm256_add_epi32(_mm256_unpackhi_epi16(lo, hi), half), 16);
        return _mm256_packs_epi32(p0, p1);
    }
    // The same multiplier row for both lanes.
    static V load(const int16_t* p) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
};
#endif

// One butterfly over eight row vectors, as the scalar transform does it per column.
template <typename Ops, bool FirstPass>
void butterfly(typename Ops::V x[8]) {
    using V = typename Ops::V;
    const auto m0707 = [](V v) {
        return FirstPass ? Ops::mulhi(Ops::template shl<1>(v), 23170)
                         : Ops::template shl<1>(Ops::mulhi(v, 23170));
    };
    const auto m0541 = [](V v) {
        return FirstPass ? Ops::mulhi(Ops::template shl<1>(v), 17734)
                         : Ops::template shl<1>(Ops::mulhi(v, 17734));
    };
    const auto m1306 = [](V v) {
        return FirstPass ? Ops::mulhi(Ops::template shl<2>(v), 21407)
                         : Ops::template shl<2>(Ops::mulhi(v, 21407));
    };
    const V t0 = Ops::add(x[0], x[7]), t7 = Ops::sub(x[0], x[7]), t1 = Ops::add(x[1], x[6]),
            t6 = Ops::sub(x[1], x[6]);
    const V t2 = Ops::add(x[2], x[5]), t5 = Ops::sub(x[2], x[5]), t3 = Ops::add(x[3], x[4]),
            t4 = Ops::sub(x[3], x[4]);
    const V e0 = Ops::add(t0, t3), e3 = Ops::sub(t0, t3), e1 = Ops::add(t1, t2), e2 = Ops::sub(t1, t2);
    x[0] = Ops::add(e0, e1);
    x[4] = Ops::sub(e0, e1);
    const V z1 = m0707(Ops::add(e2, e3));
    x[2] = Ops::add(e3, z1);
    x[6] = Ops::sub(e3, z1);
    const V o0 = Ops::add(t4, t5), o1 = Ops::add(t5, t6), o2 = Ops::add(t6, t7);
    const V z5 = Ops::mulhi(Ops::sub(o2, o0), 25076);
    const V z2 = Ops::sub(m0541(o0), z5);
    const V z4 = Ops::sub(m1306(o2), z5);
    const V z3 = m0707(o1);
    const V z11 = Ops::add(t7, z3), z13 = Ops::sub(t7, z3);
    x[1] = Ops::add(z11, z4);
    x[7] = Ops::sub(z11, z4);
    x[5] = Ops::add(z13, z2);
    x[3] = Ops::sub(z13, z2);
}

// Rows of samples in, rows of quantised coefficients (row u, lanes v) out.
template <typename Ops>
void transformQuantize(typename Ops::V r[8], const int16_t* multipliers) {
    for (int i = 0; i < 8; ++i)
        r[i] = Ops::template shl<1>(r[i]);
    butterfly<Ops, true>(r);
    Ops::transpose(r);
    butterfly<Ops, false>(r);
    for (int u = 0; u < 8; ++u)
        r[u] = Ops::quantize(r[u], Ops::load(multipliers + 8 * u));
}

// Quantised rows (16-bit) of one block to its scan buffer. Rows u and u + 1, packed to bytes and
// interleaved by 16-bit units, hold four whole 2 x 2 groups (v = 0-1, 2-3, 4-5, 6-7); each goes
// to its place in the scan.
inline void scan128(const __m128i q[8], uint8_t scan[64]) {
    const int dc = _mm_extract_epi16(q[0], 0) & 0xFF;
    const auto groups = [&](int u) {
        const __m128i bytes = _mm_packs_epi16(q[u], q[u + 1]);
        return _mm_unpacklo_epi16(bytes, _mm_srli_si128(bytes, 8));
    };
    const auto put = [&](int group, __m128i v) {
        const int word = _mm_cvtsi128_si32(v);
        __builtin_memcpy(scan + 4 * group, &word, 4);
    };
    const __m128i g01 = groups(0), g23 = groups(2), g45 = groups(4), g67 = groups(6);
    // Rows 0-1: groups 0, 1, 5, 9; rows 2-3: 2, 3, 8, 12; rows 4-5: 4, 7, 11, 14; rows 6-7: 6, 10.
    _mm_storel_epi64(reinterpret_cast<__m128i*>(scan), g01); // groups 0 and 1
    put(5, _mm_srli_si128(g01, 8));
    put(9, _mm_srli_si128(g01, 12));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(scan + 8), g23); // groups 2 and 3
    put(8, _mm_srli_si128(g23, 8));
    put(12, _mm_srli_si128(g23, 12));
    put(4, g45);
    put(7, _mm_srli_si128(g45, 4));
    put(11, _mm_srli_si128(g45, 8));
    put(14, _mm_srli_si128(g45, 12));
    put(6, g67);
    put(10, _mm_srli_si128(g67, 4));
    __builtin_memset(scan + 52, 0, 4); // group 13
    __builtin_memset(scan + 60, 0, 4); // group 15
    scan[0] = static_cast<uint8_t>(dc);
}

// The eight 16-bit rows of a luma block from UYVY rows (16 bytes of the picture per row).
inline void lumaRows128(const uint8_t* src, size_t stride, __m128i r[8]) {
    for (int y = 0; y < 8; ++y)
        r[y] = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + y * stride)), 8);
}

// The U and V blocks of a macroblock: row i averages picture rows 2i and 2i + 1.
inline void chromaRows128(const uint8_t* src, size_t stride, __m128i u[8], __m128i v[8]) {
    const __m128i low = _mm_set1_epi16(0xFF);
    for (int i = 0; i < 8; ++i) {
        const uint8_t* top = src + 2 * i * stride;
        const uint8_t* bottom = top + stride;
        __m128i half[2];
        for (int k = 0; k < 2; ++k) {
            const __m128i t =
                _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 16 * k)), low);
            const __m128i b =
                _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 16 * k)), low);
            half[k] = _mm_srli_epi16(_mm_add_epi16(t, b), 1); // U0 V0 U1 V1 ...
        }
        u[i] = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(half[0], 16), 16),
                               _mm_srai_epi32(_mm_slli_epi32(half[1], 16), 16));
        v[i] = _mm_packs_epi32(_mm_srai_epi32(half[0], 16), _mm_srai_epi32(half[1], 16));
    }
}

} // namespace
} // namespace gardivo::trv2
