#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace gardivo {

// What a player needs to know of a TRV2 stream, read from an AVI file's headers.
struct Trv2StreamInfo {
    int width = 0;
    int height = 0;
    uint32_t packedQuality = 0;
    uint32_t rateNumerator = 0;
    uint32_t rateDenominator = 1;
    uint32_t frames = 0;
};

// Finds the first video stream coded as TRV2 in an AVI file; bounds-checked, so a damaged file
// gives nothing rather than nonsense. A picture no capture source gives (wider or higher than
// 8192 pixels, or larger than the file's largest chunk could describe) is refused, and why is
// said in the error text.
std::optional<Trv2StreamInfo> readTrv2StreamInfo(const std::string& path, std::string* error = nullptr);
// The same from the file's first bytes.
std::optional<Trv2StreamInfo> readTrv2StreamInfo(const uint8_t* data, size_t size,
                                                 std::string* error = nullptr);

} // namespace gardivo
