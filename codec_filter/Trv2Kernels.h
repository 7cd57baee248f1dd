#pragma once

// The per-macroblock pipeline of the encoder: sample extraction, forward DCT, quantisation and
// scan, then the code of the six blocks. Every variant computes exactly the 16-bit arithmetic and
// writes exactly the bits of the scalar one.

#include "platform/SimdLevel.h"

#include <cstddef>
#include <cstdint>

namespace gardivo::trv2 {

class BitWriter;

// src points at the macroblock's first byte in a UYVY picture with the given row stride; the six
// scan buffers (Y0, Y1, Y2, Y3, U, V) receive 64 quantised bytes each in scan order.
using TransformFunction = void (*)(const uint8_t* src, size_t stride, const int16_t* multipliers,
                                   uint8_t scans[6][64]);
// The code of the six blocks of a macroblock, groups up to lastGroup, appended to out.
using CoderFunction = void (*)(const uint8_t scans[6][64], int lastGroup, BitWriter& out);

void codeMacroblockScalar(const uint8_t scans[6][64], int lastGroup, BitWriter& out);
// One block, the table-driven reference every vector coder is held to.
void codeBlockScalar(const uint8_t scan[64], int lastGroup, BitWriter& out);
#if defined(__x86_64__) || defined(__i386__)
void codeMacroblockSse2(const uint8_t scans[6][64], int lastGroup, BitWriter& out);
void codeMacroblockAvx2(const uint8_t scans[6][64], int lastGroup, BitWriter& out);
#endif

// A transform and the coder that goes with it. A bare transform (the scalar one in the tests)
// comes with the scalar coder.
struct MacroblockKernel {
    TransformFunction transform;
    CoderFunction coder;
    MacroblockKernel(TransformFunction t, CoderFunction c = codeMacroblockScalar) : transform(t), coder(c) {}
};

void macroblockScalar(const uint8_t* src, size_t stride, const int16_t* multipliers, uint8_t scans[6][64]);
#if defined(__x86_64__) || defined(__i386__)
void macroblockSse2(const uint8_t* src, size_t stride, const int16_t* multipliers, uint8_t scans[6][64]);
void macroblockAvx2(const uint8_t* src, size_t stride, const int16_t* multipliers, uint8_t scans[6][64]);
#endif

MacroblockKernel kernelFor(SimdLevel level);
MacroblockKernel activeKernel();

// The scalar forward DCT of one 8 x 8 block of samples (row-major, y then x), giving F(u, v) at
// index 8u + v. Exposed for the tests.
void forwardDct(const int16_t samples[64], int16_t out[64]);

} // namespace gardivo::trv2
