#include "ConvertKernels.h"

namespace gardivo::pixelconv {

void uyvyRowToBgrScalar(const uint8_t* src, uint8_t* dst, int width) {
    uyvyRowToBgrTail(src, dst, 0, width);
}

RowKernel rowKernelFor(SimdLevel level) {
#if defined(__x86_64__) || defined(__i386__)
    if (level >= SimdLevel::Avx2)
        return uyvyRowToBgrAvx2;
    if (level >= SimdLevel::Ssse3)
        return uyvyRowToBgrSsse3;
#endif
    (void)level;
    return uyvyRowToBgrScalar;
}

RowKernel activeRowKernel() {
    static const RowKernel kernel = rowKernelFor(detectSimdLevel());
    return kernel;
}

void convertPicture(RowKernel kernel, const uint8_t* src, uint8_t* dst, int width, int height) {
    const int stride = bitmapStride(width);
    for (int row = 0; row < height; ++row) {
        uint8_t* out = dst + static_cast<ptrdiff_t>(height - 1 - row) * stride;
        kernel(src + static_cast<ptrdiff_t>(row) * width * 2, out, width);
        for (int pad = width * 3; pad < stride; ++pad)
            out[pad] = 0;
    }
}

} // namespace gardivo::pixelconv
