#include "BlockCompare.h"

namespace gardivo::blockcompare {

bool blockChangedScalar(const uint8_t* p, const uint8_t* q, size_t rowBytes, uint32_t lumaThreshold,
                        uint32_t pixelThreshold) {
    uint32_t k = 0;
    for (int line = 0; line < 16; ++line) {
        const uint8_t* a = p + line * rowBytes + 1;
        const uint8_t* b = q + line * rowBytes + 1;
        for (int m = 0; m < 16; ++m) {
            const int d = a[2 * m] - b[2 * m];
            if (static_cast<uint32_t>(d < 0 ? -d : d) > lumaThreshold && ++k > pixelThreshold)
                return true;
        }
    }
    return false;
}

BlockKernel kernelFor(SimdLevel level) {
#if defined(__x86_64__) || defined(__i386__)
    if (level >= SimdLevel::Avx2)
        return blockChangedAvx2;
    if (level >= SimdLevel::Sse2)
        return blockChangedSse2;
#endif
    (void)level;
    return blockChangedScalar;
}

BlockKernel activeKernel() {
    static const BlockKernel kernel = kernelFor(detectSimdLevel());
    return kernel;
}

} // namespace gardivo::blockcompare
