#pragma once

#include <cstddef>
#include <cstdint>

namespace gardivo::trv2 {

// No capture source gives a larger picture; a header that says otherwise is damaged or hostile,
// and believing it would make a player allocate gigabytes a frame.
inline constexpr int kMaxPictureSide = 8192;

// The fewest bytes a frame of that picture can take: every block at least 14 bits.
size_t minimumFrameBytes(int width, int height);

// Turns one TRV2 frame back into UYVY (width * 2 bytes a row, top row first) from the picture
// size and the packed quality parameters ((b << 8) | a) of its media type. Any byte string is
// safe to feed it: a frame that ends early or holds an impossible code gives false, with what
// could be decoded in the picture and the rest black. A picture larger than kMaxPictureSide on
// either side is refused at once.
bool DecodeFrame(const uint8_t* data, size_t size, int width, int height, uint32_t packedQuality,
                 uint8_t* uyvy);

} // namespace gardivo::trv2
