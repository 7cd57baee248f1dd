#pragma once

#include "Trv2Kernels.h"
#include "Trv2Tables.h"

#include <cstddef>
#include <cstdint>

namespace gardivo::trv2 {

// Detects the processor's kernel once and sets the start parameters (a = 10, b = 64).
void BuildEncoderTables();
// The process-wide quality, as every encoder in the process uses it from its next frame on.
void SetQualityParameters(int a, int b);
uint32_t ApplyQualityLevel(int level);

// The largest macroblock and frame a picture can give: 893 bits a block, six blocks a macroblock.
size_t worstCaseMacroblockBytes();
size_t worstCaseFrameBytes(int width, int height);

// Encodes one UYVY frame (top row first, width * 2 bytes a row) into dst and returns the size in
// bytes, a multiple of 4. Nothing is written at or past dst + capacity, and a frame whose code
// fits is always coded whole. When it would not fit, it is coded again with fewer coefficient
// groups (the stream stays decodable with the same quality parameters), down to the DC terms
// alone; 0 when even that does not fit.
size_t EncodeFrame(const uint8_t* source, int width, int height, uint8_t* dst, size_t capacity);

// The code of one block from its scan buffer, into out (zeroed, at least 120 bytes); returns its
// length in bits.
size_t codeBlockBits(const uint8_t scan[64], int lastGroup, uint8_t* out);

// The same with explicit parameters and kernel (tests and benchmarks).
size_t encodeFrameWith(const uint8_t* source, int width, int height, uint8_t* dst, size_t capacity,
                       const QualityParameters& params, MacroblockKernel kernel);

} // namespace gardivo::trv2
