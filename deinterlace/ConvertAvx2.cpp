// Compiled with -mavx2.
#include "ConvertKernels.h"

#include <immintrin.h>

namespace gardivo::pixelconv {

namespace {

// Sixteen pixels: 32 UYVY bytes in, 48 BGR bytes out. Each 128-bit lane does eight pixels the
// way the SSSE3 kernel does.
inline void convert16(const uint8_t* src, uint8_t* dst) {
    const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i y7 = _mm256_sub_epi16(_mm256_srli_epi16(_mm256_and_si256(in, _mm256_set1_epi16(-256)), 1),
                                        _mm256_set1_epi16(2048));
    const __m256i yv =
        _mm256_add_epi16(_mm256_mulhrs_epi16(y7, _mm256_set1_epi16(kYScale)), _mm256_set1_epi16(32));
    const __m256i c8 = _mm256_xor_si256(_mm256_slli_epi16(in, 8), _mm256_set1_epi16(-32768));
    const __m256i br = _mm256_mulhrs_epi16(c8, _mm256_set1_epi32((kVtoR << 16) | kUtoB));
    const __m256i gg = _mm256_madd_epi16(_mm256_mulhrs_epi16(c8, _mm256_set1_epi32((kVtoG << 16) | kUtoG)),
                                         _mm256_set1_epi16(1));
    const __m256i evens = _mm256_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13, 0, 1, 0, 1, 4,
                                           5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13);
    const __m256i odds = _mm256_setr_epi8(2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15, 2, 3, 2, 3,
                                          6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15);
    const __m256i b = _mm256_srai_epi16(_mm256_adds_epi16(yv, _mm256_shuffle_epi8(br, evens)), 6);
    const __m256i r = _mm256_srai_epi16(_mm256_add_epi16(yv, _mm256_shuffle_epi8(br, odds)), 6);
    const __m256i g = _mm256_srai_epi16(_mm256_sub_epi16(yv, _mm256_shuffle_epi8(gg, evens)), 6);

    const __m256i bg = _mm256_packus_epi16(b, g);
    const __m256i rr = _mm256_packus_epi16(r, r);
    const __m256i out0 = _mm256_or_si256(
        _mm256_shuffle_epi8(bg, _mm256_setr_epi8(0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5, 0, 8,
                                                 -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5)),
        _mm256_shuffle_epi8(rr, _mm256_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1,
                                                 -1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1)));
    const __m256i out1 =
        _mm256_or_si256(_mm256_shuffle_epi8(bg, _mm256_setr_epi8(13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1,
                                                                 -1, -1, -1, -1, 13, -1, 6, 14, -1, 7, 15, -1,
                                                                 -1, -1, -1, -1, -1, -1, -1, -1)),
                        _mm256_shuffle_epi8(rr, _mm256_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1,
                                                                 -1, -1, -1, -1, -1, 5, -1, -1, 6, -1, -1, 7,
                                                                 -1, -1, -1, -1, -1, -1, -1, -1)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(out0));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), _mm256_castsi256_si128(out1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 24), _mm256_extracti128_si256(out0, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 40), _mm256_extracti128_si256(out1, 1));
}

} // namespace

void uyvyRowToBgrAvx2(const uint8_t* src, uint8_t* dst, int width) {
    int x = 0;
    for (; x + 16 <= width; x += 16)
        convert16(src + 2 * x, dst + 3 * x);
    if (x + 8 <= width) {
        uyvyRowToBgrSsse3(src + 2 * x, dst + 3 * x, 8);
        x += 8;
    }
    uyvyRowToBgrTail(src, dst, x, width);
}

} // namespace gardivo::pixelconv
