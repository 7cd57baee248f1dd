// Compiled with -msse2.
#include "BlockCompare.h"

#include <emmintrin.h>

namespace gardivo::blockcompare {

bool blockChangedSse2(const uint8_t* p, const uint8_t* q, size_t rowBytes, uint32_t lumaThreshold,
                      uint32_t pixelThreshold) {
    if (lumaThreshold >= 255)
        return false; // no byte difference can exceed it
    const __m128i t = _mm_set1_epi8(static_cast<char>(lumaThreshold));
    const __m128i zero = _mm_setzero_si128();
    uint32_t k = 0;
    for (int line = 0; line < 16; ++line) {
        const uint8_t* a = p + line * rowBytes;
        const uint8_t* b = q + line * rowBytes;
        uint32_t quiet = 0;
        for (int half = 0; half < 2; ++half) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16 * half));
            const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * half));
            const __m128i diff = _mm_or_si128(_mm_subs_epu8(x, y), _mm_subs_epu8(y, x));
            // Lanes where diff <= t become zero after the saturating subtraction.
            const __m128i still = _mm_cmpeq_epi8(_mm_subs_epu8(diff, t), zero);
            quiet |= static_cast<uint32_t>(_mm_movemask_epi8(still)) << (16 * half);
        }
        k += static_cast<uint32_t>(__builtin_popcount(~quiet & 0xAAAAAAAAu)); // odd bytes are luma
        if (k > pixelThreshold)
            return true;
    }
    return false;
}

} // namespace gardivo::blockcompare
