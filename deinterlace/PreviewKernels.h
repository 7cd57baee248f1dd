#pragma once

// The live picture's row kernels: the YUV layouts cameras and decoders give (UYVY, YUY2 and
// planar I420) to 32-bit BGRx, the byte order of Qt's RGB32 pictures on little-endian machines.
// They use the same BT.601 fixed-point steps as ConvertToRGB, so a pixel shows on screen in the
// colour it has in the evidence bitmaps; every SIMD kernel gives the scalar one's bytes exactly.

#include "ConvertKernels.h"

#include <cstdint>

namespace gardivo::pixelconv {

struct PreviewKernels {
    // Packed 4:2:2 rows; width pixels in, width BGRx pixels out. With an odd width the last
    // pixel has no V byte in the row; it is taken as neutral.
    void (*uyvy)(const uint8_t* src, uint8_t* dst, int width);
    void (*yuy2)(const uint8_t* src, uint8_t* dst, int width);
    // One row of Y with the half-width U and V rows that go with it.
    void (*i420)(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* dst, int width);
};

// One pixel, as every kernel computes it.
static inline void yuvToBgrx(int Y, int U, int V, uint8_t* out) {
    yuvToBgr(Y, U, V, out);
    out[3] = 255;
}

// Pixels [from, width) of packed rows; from must be even. yOffset is 1 for UYVY, 0 for YUY2.
static inline void packedRowToBgrxTail(const uint8_t* src, uint8_t* dst, int from, int width, int yOffset) {
    const int cOffset = 1 - yOffset;
    for (int x = from; x < width; x += 2) {
        const uint8_t* p = src + 2 * x;
        const int U = p[cOffset];
        const bool pair = x + 1 < width;
        const int V = pair ? p[cOffset + 2] : 128;
        yuvToBgrx(p[yOffset], U, V, dst + 4 * x);
        if (pair)
            yuvToBgrx(p[yOffset + 2], U, V, dst + 4 * x + 4);
    }
}

static inline void i420RowToBgrxTail(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* dst,
                                     int from, int width) {
    for (int x = from; x < width; ++x)
        yuvToBgrx(y[x], u[x / 2], v[x / 2], dst + 4 * x);
}

PreviewKernels scalarPreviewKernels();
#if defined(__x86_64__) || defined(__i386__)
PreviewKernels ssse3PreviewKernels();
#endif
// The kernels for a level (the best one at or below it that exists).
PreviewKernels previewKernelsFor(SimdLevel level);
// The kernels picked once for this process.
const PreviewKernels& activePreviewKernels();

} // namespace gardivo::pixelconv
