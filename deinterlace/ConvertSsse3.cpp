// Compiled with -mssse3.
#include "ConvertKernels.h"

#include <tmmintrin.h>

namespace gardivo::pixelconv {

namespace {

// Eight pixels: 16 UYVY bytes in, 24 BGR bytes out.
inline void convert8(const uint8_t* src, uint8_t* dst) {
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    // (Y - 16) << 7 from the high byte of each 16-bit lane.
    const __m128i y7 =
        _mm_sub_epi16(_mm_srli_epi16(_mm_and_si128(in, _mm_set1_epi16(-256)), 1), _mm_set1_epi16(2048));
    const __m128i yv = _mm_add_epi16(_mm_mulhrs_epi16(y7, _mm_set1_epi16(kYScale)), _mm_set1_epi16(32));
    // (C - 128) << 8 for U in even lanes and V in odd lanes.
    const __m128i c8 = _mm_xor_si128(_mm_slli_epi16(in, 8), _mm_set1_epi16(-32768));
    // Blue terms in the U lanes, red terms in the V lanes.
    const __m128i br = _mm_mulhrs_epi16(c8, _mm_set1_epi32((kVtoR << 16) | kUtoB));
    // Green: both terms of a pair summed into its U lane.
    const __m128i gg =
        _mm_madd_epi16(_mm_mulhrs_epi16(c8, _mm_set1_epi32((kVtoG << 16) | kUtoG)), _mm_set1_epi16(1));
    const __m128i evens = _mm_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13);
    const __m128i odds = _mm_setr_epi8(2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15);
    const __m128i b = _mm_srai_epi16(_mm_adds_epi16(yv, _mm_shuffle_epi8(br, evens)), 6);
    const __m128i r = _mm_srai_epi16(_mm_add_epi16(yv, _mm_shuffle_epi8(br, odds)), 6);
    const __m128i g = _mm_srai_epi16(_mm_sub_epi16(yv, _mm_shuffle_epi8(gg, evens)), 6);

    const __m128i bg = _mm_packus_epi16(b, g); // B0..B7 G0..G7
    const __m128i rr = _mm_packus_epi16(r, r); // R0..R7 R0..R7
    const __m128i out0 = _mm_or_si128(
        _mm_shuffle_epi8(bg, _mm_setr_epi8(0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5)),
        _mm_shuffle_epi8(rr, _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1)));
    const __m128i out1 = _mm_or_si128(
        _mm_shuffle_epi8(bg, _mm_setr_epi8(13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1)),
        _mm_shuffle_epi8(rr, _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), out0);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), out1);
}

} // namespace

void uyvyRowToBgrSsse3(const uint8_t* src, uint8_t* dst, int width) {
    int x = 0;
    for (; x + 8 <= width; x += 8)
        convert8(src + 2 * x, dst + 3 * x);
    uyvyRowToBgrTail(src, dst, x, width);
}

} // namespace gardivo::pixelconv
