// Fuzz target for the TRV2 decoder: any bytes, any picture size, any quality must be safe.
//   clang++ -fsanitize=fuzzer,address ...   (cmake -DGARDIVO_BUILD_FUZZERS=ON with clang)
// Built without libFuzzer, the same target runs under a small driver (FuzzDriver.cpp).

#include "codec_filter/Trv2Decoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5)
        return 0;
    // The first bytes choose the picture: up to 94 x 63 pixels, even widths and odd ones.
    const int width = 2 + data[0] % 93;
    const int height = 1 + data[1] % 63;
    const uint32_t quality = uint32_t(data[2]) | uint32_t(data[3]) << 8;
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 2);
    gardivo::trv2::DecodeFrame(data + 4, size - 4, width, height, quality, picture.data());
    return 0;
}
