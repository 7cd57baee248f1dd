#include "AlarmPicture.h"

#include <turbojpeg.h>

#include <fstream>
#include <iterator>

namespace gardivo {

namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

} // namespace

namespace {

std::vector<uint8_t> jpegOfBitmap(const std::string& bitmapPath, int quality, bool upperHalfOnly) {
    std::ifstream in(bitmapPath, std::ios::binary);
    const std::vector<uint8_t> bmp((std::istreambuf_iterator<char>(in)), {});
    if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M' || (bmp[28] | bmp[29] << 8) != 24)
        return {};
    const uint32_t offset = le32(bmp, 10);
    const auto width = static_cast<int32_t>(le32(bmp, 18));
    const auto height = static_cast<int32_t>(le32(bmp, 22)); // bottom-up: positive
    if (width <= 0 || height < 2 || width > 16384 || height > 32768)
        return {};
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t(3);
    const int half = upperHalfOnly ? height / 2 : height;
    if (offset > bmp.size() || bmp.size() - offset < stride * static_cast<size_t>(height))
        return {};
    // Rows go bottom-up: the upper half, the alarm picture, is the file's last rows.
    const uint8_t* upperHalf = bmp.data() + offset + stride * static_cast<size_t>(height - half);
    tjhandle handle = tjInitCompress();
    if (!handle)
        return {};
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> out;
    if (tjCompress2(handle, upperHalf, width, static_cast<int>(stride), half, TJPF_BGR, &jpeg, &size,
                    TJSAMP_420, quality, TJFLAG_BOTTOMUP) == 0)
        out.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);
    return out;
}

} // namespace

std::vector<uint8_t> alarmPictureJpeg(const std::string& bitmapPath, int quality) {
    return jpegOfBitmap(bitmapPath, quality, true);
}

std::vector<uint8_t> bitmapJpeg(const std::string& bitmapPath, int quality) {
    return jpegOfBitmap(bitmapPath, quality, false);
}

} // namespace gardivo
