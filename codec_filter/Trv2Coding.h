#pragma once

// The coding stage in vector registers: the value codes and lengths of all 64 scan bytes of a
// block at once, arithmetically and without a branch per coefficient, then the groups put
// together from them. The bits are exactly those of the table-driven scalar coder.
//
// For a non-zero byte c with a = |c|: when a <= 31, k = floor(log2 a) and p = 2^k; the code is
// p + (a - p) * 2p + sign * 2p^2 (the one bit, the k low bits of a - p, the sign bit, least
// significant first) in 2k + 2 bits. Otherwise the byte itself after five zero bits, 13 bits.
// Included only by the kernel files, each compiled for its instruction set.

#include "Trv2BitWriter.h"
#include "Trv2Tables.h"

#include <immintrin.h>

namespace gardivo::trv2 {
namespace {

// Bit 4g + k set when scan byte 4g + k is not zero.
inline uint64_t nonZeroMask(const uint8_t* scan) {
    const __m128i zero = _mm_setzero_si128();
    uint64_t bits = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(scan + 16 * i));
        bits |= uint64_t(~_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)) & 0xFFFF) << (16 * i);
    }
    return bits;
}

// n, the last group the block codes: the last one up to lastGroup holding a non-zero byte, the
// DC byte always counting as non-zero.
inline int lastCodedGroup(uint64_t nonZero, int lastGroup) {
    const uint64_t coded = lastGroup >= 15 ? nonZero : nonZero & ((uint64_t(1) << (4 * (lastGroup + 1))) - 1);
    return (63 - __builtin_clzll(coded | 1u)) / 4;
}

// Value codes and lengths of eight coefficients (16-bit lanes).
inline void valueCodes128(__m128i c, __m128i& code, __m128i& length) {
    const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi16(1);
    const __m128i a = _mm_max_epi16(c, _mm_sub_epi16(zero, c));
    const __m128i sign = _mm_srli_epi16(c, 15);
    const __m128i ge2 = _mm_cmpgt_epi16(a, _mm_set1_epi16(1)), ge4 = _mm_cmpgt_epi16(a, _mm_set1_epi16(3));
    const __m128i ge8 = _mm_cmpgt_epi16(a, _mm_set1_epi16(7)), ge16 = _mm_cmpgt_epi16(a, _mm_set1_epi16(15));
    // Each comparison that holds doubles p and adds one to k.
    const __m128i p = _mm_mullo_epi16(_mm_mullo_epi16(_mm_sub_epi16(one, ge2), _mm_sub_epi16(one, ge4)),
                                      _mm_mullo_epi16(_mm_sub_epi16(one, ge8), _mm_sub_epi16(one, ge16)));
    const __m128i k = _mm_sub_epi16(_mm_sub_epi16(zero, _mm_add_epi16(ge2, ge4)), _mm_add_epi16(ge8, ge16));
    const __m128i p2 = _mm_add_epi16(p, p);
    const __m128i small = _mm_add_epi16(_mm_add_epi16(p, _mm_mullo_epi16(_mm_sub_epi16(a, p), p2)),
                                        _mm_mullo_epi16(sign, _mm_mullo_epi16(p2, p)));
    const __m128i smallLength = _mm_add_epi16(_mm_add_epi16(k, k), _mm_set1_epi16(2));
    const __m128i escape = _mm_cmpgt_epi16(a, _mm_set1_epi16(31));
    const __m128i big = _mm_slli_epi16(_mm_and_si128(c, _mm_set1_epi16(0xFF)), 5);
    const __m128i present = _mm_cmpgt_epi16(a, zero);
    code = _mm_and_si128(present, _mm_or_si128(_mm_and_si128(escape, big), _mm_andnot_si128(escape, small)));
    length = _mm_and_si128(present, _mm_or_si128(_mm_and_si128(escape, _mm_set1_epi16(13)),
                                                 _mm_andnot_si128(escape, smallLength)));
}

#ifdef __AVX2__
// The same for sixteen coefficients.
inline void valueCodes256(__m256i c, __m256i& code, __m256i& length) {
    const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi16(1);
    const __m256i a = _mm256_abs_epi16(c);
    const __m256i sign = _mm256_srli_epi16(c, 15);
    const __m256i ge2 = _mm256_cmpgt_epi16(a, _mm256_set1_epi16(1));
    const __m256i ge4 = _mm256_cmpgt_epi16(a, _mm256_set1_epi16(3));
    const __m256i ge8 = _mm256_cmpgt_epi16(a, _mm256_set1_epi16(7));
    const __m256i ge16 = _mm256_cmpgt_epi16(a, _mm256_set1_epi16(15));
    const __m256i p =
        _mm256_mullo_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(one, ge2), _mm256_sub_epi16(one, ge4)),
                           _mm256_mullo_epi16(_mm256_sub_epi16(one, ge8), _mm256_sub_epi16(one, ge16)));
    const __m256i k =
        _mm256_sub_epi16(_mm256_sub_epi16(zero, _mm256_add_epi16(ge2, ge4)), _mm256_add_epi16(ge8, ge16));
    const __m256i p2 = _mm256_add_epi16(p, p);
    const __m256i small =
        _mm256_add_epi16(_mm256_add_epi16(p, _mm256_mullo_epi16(_mm256_sub_epi16(a, p), p2)),
                         _mm256_mullo_epi16(sign, _mm256_mullo_epi16(p2, p)));
    const __m256i smallLength = _mm256_add_epi16(_mm256_add_epi16(k, k), _mm256_set1_epi16(2));
    const __m256i escape = _mm256_cmpgt_epi16(a, _mm256_set1_epi16(31));
    const __m256i big = _mm256_slli_epi16(_mm256_and_si256(c, _mm256_set1_epi16(0xFF)), 5);
    const __m256i present = _mm256_cmpgt_epi16(a, zero);
    code = _mm256_and_si256(present, _mm256_blendv_epi8(small, big, escape));
    length = _mm256_and_si256(present, _mm256_blendv_epi8(smallLength, _mm256_set1_epi16(13), escape));
}
#endif

// The first group's word and the group words 1..n, put into the stream.
inline void putBlock(const uint8_t scan[64], uint64_t nonZero, int n, const uint64_t values[16],
                     const uint64_t lengths[16], BitWriter& out) {
    const unsigned first = static_cast<unsigned>(nonZero >> 1) & 7u;
    const Code& fp = kFirstGroupPrefix[first];
    out.put(uint64_t(n) | uint64_t(scan[0]) << 4 | uint64_t(fp.bits) << 12 | values[0] << (12 + fp.length),
            12 + fp.length + static_cast<unsigned>(lengths[0]));
    for (int g = 1; g <= n; ++g) {
        const Code& gp = kGroupPrefix[static_cast<unsigned>(nonZero >> (4 * g)) & 15u];
        out.put(uint64_t(gp.bits) | values[g] << gp.length, gp.length + static_cast<unsigned>(lengths[g]));
    }
}

} // namespace
} // namespace gardivo::trv2
