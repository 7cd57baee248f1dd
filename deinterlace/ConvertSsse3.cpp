// Compiled with -mssse3.
#include "Bt601Ssse3.h"

namespace gardivo::pixelconv {

namespace {

// Eight pixels: 16 UYVY bytes in, 24 BGR bytes out.
inline void convert8(const uint8_t* src, uint8_t* dst) {
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const auto [b, g, r] = yuvToBgr8(uyvyLuma(in), uyvyChroma(in));

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
