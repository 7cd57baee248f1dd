// Compiled with -mavx2: two blocks at a time, one in each 128-bit lane.
#include "Trv2Coding.h"
#include "Trv2Simd.h"

namespace gardivo::trv2 {

namespace {

inline void scanPair(const __m256i q[8], uint8_t first[64], uint8_t second[64]) {
    __m128i lo[8], hi[8];
    for (int i = 0; i < 8; ++i) {
        lo[i] = _mm256_castsi256_si128(q[i]);
        hi[i] = _mm256_extracti128_si256(q[i], 1);
    }
    scan128(lo, first);
    scan128(hi, second);
}

} // namespace

void macroblockAvx2(const uint8_t* src, size_t stride, const int16_t* multipliers, uint8_t scans[6][64]) {
    __m256i r[8];
    // A 32-byte picture row holds the row of the left block in its low lane and of the right
    // block in its high lane.
    for (int half = 0; half < 2; ++half) {
        const uint8_t* origin = src + static_cast<size_t>(8 * half) * stride;
        for (int y = 0; y < 8; ++y)
            r[y] = _mm256_srli_epi16(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(origin + y * stride)), 8);
        transformQuantize<Ops256>(r, multipliers);
        scanPair(r, scans[2 * half], scans[2 * half + 1]);
    }
    __m128i u[8], v[8];
    chromaRows128(src, stride, u, v);
    for (int i = 0; i < 8; ++i)
        r[i] = _mm256_set_m128i(v[i], u[i]);
    transformQuantize<Ops256>(r, multipliers);
    scanPair(r, scans[4], scans[5]);
}

void codeMacroblockAvx2(const uint8_t scans[6][64], int lastGroup, BitWriter& out) {
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    const __m256i low32 = _mm256_set1_epi64x(0xFFFFFFFF);
    // The DC byte (lane 0 of the first sixteen) has a code of its own.
    const __m256i notDc = _mm256_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    alignas(32) uint64_t values[16], lengths[16];
    for (int b = 0; b < 6; ++b) {
        const uint8_t* scan = scans[b];
        const uint64_t nonZero = nonZeroMask(scan);
        const int n = lastCodedGroup(nonZero, lastGroup);
        // Sixteen codes at a time, joined in the registers into pairs and then into whole groups.
        for (int i = 0; i <= n / 4; ++i) {
            __m256i code, length;
            valueCodes256(
                _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(scan + 16 * i))), code,
                length);
            if (i == 0) {
                code = _mm256_and_si256(code, notDc);
                length = _mm256_and_si256(length, notDc);
            }
            const __m256i firstLength = _mm256_and_si256(length, low16);
            const __m256i pair = _mm256_or_si256(_mm256_and_si256(code, low16),
                                                 _mm256_sllv_epi32(_mm256_srli_epi32(code, 16), firstLength));
            const __m256i pairLength = _mm256_add_epi32(firstLength, _mm256_srli_epi32(length, 16));
            const __m256i firstPairLength = _mm256_and_si256(pairLength, low32);
            const __m256i group =
                _mm256_or_si256(_mm256_and_si256(pair, low32),
                                _mm256_sllv_epi64(_mm256_srli_epi64(pair, 32), firstPairLength));
            const __m256i groupLength = _mm256_add_epi64(firstPairLength, _mm256_srli_epi64(pairLength, 32));
            _mm256_store_si256(reinterpret_cast<__m256i*>(values + 4 * i), group);
            _mm256_store_si256(reinterpret_cast<__m256i*>(lengths + 4 * i), groupLength);
        }
        putBlock(scan, nonZero | 1u, n, values, lengths, out);
    }
}

} // namespace gardivo::trv2
