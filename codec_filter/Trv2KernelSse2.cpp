// Compiled with -msse2.
#include "Trv2Coding.h"
#include "Trv2Simd.h"

namespace gardivo::trv2 {

void macroblockSse2(const uint8_t* src, size_t stride, const int16_t* multipliers, uint8_t scans[6][64]) {
    __m128i r[8];
    for (int b = 0; b < 4; ++b) {
        lumaRows128(src + static_cast<size_t>(8 * (b / 2)) * stride + static_cast<size_t>(16 * (b % 2)),
                    stride, r);
        transformQuantize<Ops128>(r, multipliers);
        scan128(r, scans[b]);
    }
    __m128i u[8], v[8];
    chromaRows128(src, stride, u, v);
    transformQuantize<Ops128>(u, multipliers);
    scan128(u, scans[4]);
    transformQuantize<Ops128>(v, multipliers);
    scan128(v, scans[5]);
}

void codeMacroblockSse2(const uint8_t scans[6][64], int lastGroup, BitWriter& out) {
    alignas(16) uint16_t codes[64], lengths[64];
    uint64_t values[16], groupLengths[16];
    for (int b = 0; b < 6; ++b) {
        const uint8_t* scan = scans[b];
        const uint64_t nonZero = nonZeroMask(scan);
        const int n = lastCodedGroup(nonZero, lastGroup);
        // Eight codes at a time, as far as the coded groups reach.
        for (int i = 0; i < (n + 2) / 2; ++i) {
            const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(scan + 8 * i));
            __m128i code, length;
            valueCodes128(_mm_srai_epi16(_mm_unpacklo_epi8(bytes, bytes), 8), code, length);
            _mm_store_si128(reinterpret_cast<__m128i*>(codes + 8 * i), code);
            _mm_store_si128(reinterpret_cast<__m128i*>(lengths + 8 * i), length);
        }
        codes[0] = lengths[0] = 0; // the DC byte has a code of its own
        for (int g = 0; g <= n; ++g) {
            uint64_t word = 0;
            unsigned length = 0;
            for (int k = 0; k < 4; ++k) {
                word |= uint64_t(codes[4 * g + k]) << length;
                length += lengths[4 * g + k];
            }
            values[g] = word;
            groupLengths[g] = length;
        }
        putBlock(scan, nonZero | 1u, n, values, groupLengths, out);
    }
}

} // namespace gardivo::trv2
