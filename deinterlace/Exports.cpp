#include "deinterlace.h"

#include "ConvertKernels.h"

#include <cstring>

namespace {

bool describesBitmap(const GardivoBitmapInfoHeader* header) {
    return header && header->biWidth > 0 && header->biHeight > 0 && header->biBitCount == 24 &&
           header->biWidth <= (1 << 15) && header->biHeight <= (1 << 15);
}

} // namespace

extern "C" __attribute__((visibility("default"))) int ConvertToRGB(const GardivoBitmapInfoHeader* header,
                                                                   void* destination, const void* source) {
    if (!describesBitmap(header) || !destination || !source)
        return -1;
    using namespace gardivo::pixelconv;
    convertPicture(activeRowKernel(), static_cast<const uint8_t*>(source), static_cast<uint8_t*>(destination),
                   header->biWidth, header->biHeight);
    return 0;
}

extern "C" __attribute__((visibility("default"))) int ConvertToYUY2(const GardivoBitmapInfoHeader* header,
                                                                    void* destination, const void* source) {
    if (!header || header->biWidth <= 0 || header->biHeight <= 0 || !destination || !source)
        return -1;
    const auto* in = static_cast<const uint8_t*>(source);
    auto* out = static_cast<uint8_t*>(destination);
    const size_t bytes = static_cast<size_t>(header->biWidth) * 2 * static_cast<size_t>(header->biHeight);
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        out[i] = in[i + 1];
        out[i + 1] = in[i];
    }
    return 0;
}

extern "C" __attribute__((visibility("default"))) void memcpyMMX(void* destination, const void* source,
                                                                 size_t bytes) {
    std::memcpy(destination, source, bytes);
}
