// Compiled with -msse2.
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

} // namespace gardivo::trv2
