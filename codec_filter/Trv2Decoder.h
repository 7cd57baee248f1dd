#pragma once

#include <cstddef>
#include <cstdint>

namespace gardivo::trv2 {

// Turns one TRV2 frame back into UYVY (width * 2 bytes a row, top row first) from the picture
// size and the packed quality parameters ((b << 8) | a) of its media type. Any byte string is
// safe to feed it: a frame that ends early or holds an impossible code gives false, with what
// could be decoded in the picture and the rest black.
bool DecodeFrame(const uint8_t* data, size_t size, int width, int height, uint32_t packedQuality,
                 uint8_t* uyvy);

} // namespace gardivo::trv2
