#include "PreviewKernels.h"

namespace gardivo::pixelconv {

namespace {

void uyvyScalar(const uint8_t* src, uint8_t* dst, int width) {
    packedRowToBgrxTail(src, dst, 0, width, 1);
}

void yuy2Scalar(const uint8_t* src, uint8_t* dst, int width) {
    packedRowToBgrxTail(src, dst, 0, width, 0);
}

void i420Scalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* dst, int width) {
    i420RowToBgrxTail(y, u, v, dst, 0, width);
}

} // namespace

PreviewKernels scalarPreviewKernels() {
    return {uyvyScalar, yuy2Scalar, i420Scalar};
}

PreviewKernels previewKernelsFor(SimdLevel level) {
#if defined(__x86_64__) || defined(__i386__)
    if (level >= SimdLevel::Ssse3)
        return ssse3PreviewKernels();
#endif
    (void)level;
    return scalarPreviewKernels();
}

const PreviewKernels& activePreviewKernels() {
    static const PreviewKernels kernels = previewKernelsFor(detectSimdLevel());
    return kernels;
}

} // namespace gardivo::pixelconv
