#pragma once

// The per-macroblock pipeline of the encoder: sample extraction, forward DCT, quantisation and
// scan. Every variant computes exactly the 16-bit arithmetic of the scalar one.

#include "platform/SimdLevel.h"

#include <cstddef>
#include <cstdint>

namespace gardivo::trv2 {

// src points at the macroblock's first byte in a UYVY picture with the given row stride; the six
// scan buffers (Y0, Y1, Y2, Y3, U, V) receive 64 quantised bytes each in scan order.
using MacroblockKernel = void (*)(const uint8_t* src, size_t stride, const int16_t* multipliers,
                                  uint8_t scans[6][64]);

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
