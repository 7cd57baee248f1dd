#pragma once

// The BT.601 steps of the SSSE3 kernels, for eight pixels at a time; included only by sources
// compiled with -mssse3. The steps are those of the scalar yuvToBgr, so every kernel built on
// them gives the scalar one's bytes.

#include "ConvertKernels.h"

#include <tmmintrin.h>

namespace gardivo::pixelconv {

// From (Y - 16) << 7 in every 16-bit lane and (C - 128) << 8 with U in the even lanes and V in
// the odd ones, to blue, green and red, each a 16-bit lane per pixel before packing.
struct Bgr8 {
    __m128i b, g, r;
};

inline Bgr8 yuvToBgr8(__m128i y7, __m128i c8) {
    const __m128i yv = _mm_add_epi16(_mm_mulhrs_epi16(y7, _mm_set1_epi16(kYScale)), _mm_set1_epi16(32));
    // Blue terms in the U lanes, red terms in the V lanes; green's two terms summed per pair.
    const __m128i br = _mm_mulhrs_epi16(c8, _mm_set1_epi32((kVtoR << 16) | kUtoB));
    const __m128i gg =
        _mm_madd_epi16(_mm_mulhrs_epi16(c8, _mm_set1_epi32((kVtoG << 16) | kUtoG)), _mm_set1_epi16(1));
    const __m128i evens = _mm_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13);
    const __m128i odds = _mm_setr_epi8(2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15);
    return {_mm_srai_epi16(_mm_adds_epi16(yv, _mm_shuffle_epi8(br, evens)), 6),
            _mm_srai_epi16(_mm_sub_epi16(yv, _mm_shuffle_epi8(gg, evens)), 6),
            _mm_srai_epi16(_mm_add_epi16(yv, _mm_shuffle_epi8(br, odds)), 6)};
}

// (Y - 16) << 7 from the high bytes of UYVY lanes, and (C - 128) << 8 from their low bytes.
inline __m128i uyvyLuma(__m128i in) {
    return _mm_sub_epi16(_mm_srli_epi16(_mm_and_si128(in, _mm_set1_epi16(-256)), 1), _mm_set1_epi16(2048));
}
inline __m128i uyvyChroma(__m128i in) {
    return _mm_xor_si128(_mm_slli_epi16(in, 8), _mm_set1_epi16(-32768));
}

} // namespace gardivo::pixelconv
