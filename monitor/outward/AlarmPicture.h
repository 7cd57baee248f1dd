#pragma once

// The alarm picture of an evidence bitmap (its upper half: the alarm above the reference) as a
// JPEG, small enough for a phone's notification and a home automation dashboard.

#include <cstdint>
#include <string>
#include <vector>

namespace gardivo {

// Empty when the file is no 24-bit bitmap of the engine's kind.
std::vector<uint8_t> alarmPictureJpeg(const std::string& bitmapPath, int quality = 85);
// The whole bitmap (the alarm above the reference) as a JPEG.
std::vector<uint8_t> bitmapJpeg(const std::string& bitmapPath, int quality = 85);

} // namespace gardivo
