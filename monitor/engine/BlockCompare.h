#pragma once

// The inner loop of the detector: does a 16 x 16 block hold more than pixelThreshold pixels
// whose luma moved by more than lumaThreshold? Every variant stops once the answer is yes and
// gives the same answer; the SIMD ones decide after each line of 16 pixels, which cannot change
// the outcome because the count only grows.

#include "platform/SimdLevel.h"

#include <cstddef>
#include <cstdint>

namespace gardivo::blockcompare {

// p and q point at the block's first U byte in two UYVY frames; rowBytes is the frames' stride.
using BlockKernel = bool (*)(const uint8_t* p, const uint8_t* q, size_t rowBytes, uint32_t lumaThreshold,
                             uint32_t pixelThreshold);

bool blockChangedScalar(const uint8_t* p, const uint8_t* q, size_t rowBytes, uint32_t lumaThreshold,
                        uint32_t pixelThreshold);
#if defined(__x86_64__) || defined(__i386__)
bool blockChangedSse2(const uint8_t* p, const uint8_t* q, size_t rowBytes, uint32_t lumaThreshold,
                      uint32_t pixelThreshold);
bool blockChangedAvx2(const uint8_t* p, const uint8_t* q, size_t rowBytes, uint32_t lumaThreshold,
                      uint32_t pixelThreshold);
#endif

BlockKernel kernelFor(SimdLevel level);
BlockKernel activeKernel();

} // namespace gardivo::blockcompare
