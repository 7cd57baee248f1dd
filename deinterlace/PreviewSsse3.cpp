// Compiled with -mssse3.
#include "Bt601Ssse3.h"
#include "PreviewKernels.h"

namespace gardivo::pixelconv {

namespace {

// Eight pixels from (Y - 16) << 7 and (C - 128) << 8 (see Bt601Ssse3.h) to 32 BGRx bytes.
inline void bgrx8(__m128i y7, __m128i c8, uint8_t* dst) {
    const auto [b, g, r] = yuvToBgr8(y7, c8);
    const __m128i bg = _mm_packus_epi16(b, g);                            // B0..B7 G0..G7
    const __m128i ra = _mm_packus_epi16(r, _mm_set1_epi16(255));          // R0..R7 FF..FF
    const __m128i bgPairs = _mm_unpacklo_epi8(bg, _mm_srli_si128(bg, 8)); // B0 G0 B1 G1 ...
    const __m128i raPairs = _mm_unpacklo_epi8(ra, _mm_srli_si128(ra, 8)); // R0 FF R1 FF ...
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_unpacklo_epi16(bgPairs, raPairs));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), _mm_unpackhi_epi16(bgPairs, raPairs));
}

// (Y - 16) << 7 from the low bytes of the lanes (YUY2).
inline __m128i lumaFromLow(__m128i in) {
    return _mm_sub_epi16(_mm_slli_epi16(_mm_and_si128(in, _mm_set1_epi16(0xFF)), 7), _mm_set1_epi16(2048));
}

void uyvySsse3(const uint8_t* src, uint8_t* dst, int width) {
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * x));
        bgrx8(uyvyLuma(in), uyvyChroma(in), dst + 4 * x);
    }
    packedRowToBgrxTail(src, dst, x, width, 1);
}

void yuy2Ssse3(const uint8_t* src, uint8_t* dst, int width) {
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * x));
        const __m128i c8 = _mm_xor_si128(_mm_and_si128(in, _mm_set1_epi16(-256)), _mm_set1_epi16(-32768));
        bgrx8(lumaFromLow(in), c8, dst + 4 * x);
    }
    packedRowToBgrxTail(src, dst, x, width, 0);
}

void i420Ssse3(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* dst, int width) {
    int x = 0;
    const __m128i zero = _mm_setzero_si128();
    for (; x + 8 <= width; x += 8) {
        const __m128i luma =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + x)), zero);
        int32_t uWord;
        int32_t vWord;
        __builtin_memcpy(&uWord, u + x / 2, 4);
        __builtin_memcpy(&vWord, v + x / 2, 4);
        // U0 V0 U1 V1 ... as the high bytes of the lanes: (C << 8).
        const __m128i uv = _mm_unpacklo_epi8(_mm_cvtsi32_si128(uWord), _mm_cvtsi32_si128(vWord));
        const __m128i c8 = _mm_xor_si128(_mm_unpacklo_epi8(zero, uv), _mm_set1_epi16(-32768));
        bgrx8(_mm_sub_epi16(_mm_slli_epi16(luma, 7), _mm_set1_epi16(2048)), c8, dst + 4 * x);
    }
    i420RowToBgrxTail(y, u, v, dst, x, width);
}

} // namespace

PreviewKernels ssse3PreviewKernels() {
    return {uyvySsse3, yuy2Ssse3, i420Ssse3};
}

} // namespace gardivo::pixelconv
