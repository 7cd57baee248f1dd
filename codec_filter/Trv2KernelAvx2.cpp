// Compiled with -mavx2: two blocks at a time, one in each 128-bit lane.
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

} // namespace gardivo::trv2
