// Compiled with -mavx2.
#include "BlockCompare.h"

#include <immintrin.h>

namespace gardivo::blockcompare {

bool blockChangedAvx2(const uint8_t* p, const uint8_t* q, size_t rowBytes, uint32_t lumaThreshold,
                      uint32_t pixelThreshold) {
    if (lumaThreshold >= 255)
        return false;
    const __m256i t = _mm256_set1_epi8(static_cast<char>(lumaThreshold));
    const __m256i zero = _mm256_setzero_si256();
    uint32_t k = 0;
    for (int line = 0; line < 16; ++line) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + line * rowBytes));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + line * rowBytes));
        const __m256i diff = _mm256_or_si256(_mm256_subs_epu8(x, y), _mm256_subs_epu8(y, x));
        const __m256i still = _mm256_cmpeq_epi8(_mm256_subs_epu8(diff, t), zero);
        const uint32_t quiet = static_cast<uint32_t>(_mm256_movemask_epi8(still));
        k += static_cast<uint32_t>(__builtin_popcount(~quiet & 0xAAAAAAAAu));
        if (k > pixelThreshold)
            return true;
    }
    return false;
}

} // namespace gardivo::blockcompare
