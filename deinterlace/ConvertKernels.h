#pragma once

// The UYVY to BGR row kernels behind ConvertToRGB. Every SIMD kernel computes exactly what the
// scalar one does: the same 16-bit fixed-point steps, so the output is identical byte for byte.

#include "platform/SimdLevel.h"

#include <cstddef>
#include <cstdint>

namespace gardivo::pixelconv {

// BT.601 limited-range coefficients. Luma is scaled by 1.164 in Q14 from (Y - 16) << 7; chroma
// terms use Q13 from (C - 128) << 8, so every product fits 16 bits. Products are taken with a
// rounding high multiply (the scalar twin of pmulhrsw) and all results are scaled by 64.
inline constexpr int kYScale = 19070; // 1.164 in Q14
inline constexpr int kUtoB = 16531;   // 2.018 in Q13
inline constexpr int kVtoR = 13074;   // 1.596 in Q13
inline constexpr int kUtoG = 3203;    // 0.391 in Q13
inline constexpr int kVtoG = 6660;    // 0.813 in Q13

static inline int mulhrs(int a, int b) {
    return (a * b + 0x4000) >> 15;
}

static inline uint8_t clampToByte(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Blue can pass 16 bits only where it clamps to 255 anyway, so the saturating adds of the SIMD
// kernels give the same bytes as this plain sum.
static inline void yuvToBgr(int Y, int U, int V, uint8_t* out) {
    const int yv = mulhrs((Y - 16) * 128, kYScale) + 32;
    const int u = (U - 128) * 256;
    const int v = (V - 128) * 256;
    out[0] = clampToByte((yv + mulhrs(u, kUtoB)) >> 6);
    out[1] = clampToByte((yv - (mulhrs(u, kUtoG) + mulhrs(v, kVtoG))) >> 6);
    out[2] = clampToByte((yv + mulhrs(v, kVtoR)) >> 6);
}

// Converts pixels [from, width) of one row. from must be even. With an odd width the last pixel
// has no V byte in the row; it is taken as neutral.
static inline void uyvyRowToBgrTail(const uint8_t* src, uint8_t* dst, int from, int width) {
    for (int x = from; x < width; x += 2) {
        const uint8_t* p = src + 2 * x;
        const int U = p[0];
        const bool pair = x + 1 < width;
        const int V = pair ? p[2] : 128;
        yuvToBgr(p[1], U, V, dst + 3 * x);
        if (pair)
            yuvToBgr(p[3], U, V, dst + 3 * x + 3);
    }
}

using RowKernel = void (*)(const uint8_t* src, uint8_t* dst, int width);

void uyvyRowToBgrScalar(const uint8_t* src, uint8_t* dst, int width);
#if defined(__x86_64__) || defined(__i386__)
void uyvyRowToBgrSsse3(const uint8_t* src, uint8_t* dst, int width);
void uyvyRowToBgrAvx2(const uint8_t* src, uint8_t* dst, int width);
#endif

// The kernel for a level (falling back to the best one below it that exists).
RowKernel rowKernelFor(SimdLevel level);
// The kernel picked once for this process.
RowKernel activeRowKernel();

// Whole-picture conversion with a given kernel: top-down UYVY in, bottom-up BGR rows out.
void convertPicture(RowKernel kernel, const uint8_t* src, uint8_t* dst, int width, int height);

inline int bitmapStride(int width) {
    return ((24 * width + 31) & ~31) / 8;
}

} // namespace gardivo::pixelconv
