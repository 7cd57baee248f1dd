#include "AviReader.h"

#include "Trv2Decoder.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace gardivo {

namespace {

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool is(const uint8_t* p, const char* fourcc) {
    return std::memcmp(p, fourcc, 4) == 0;
}

// Walks the chunks of [begin, end), calling f(id, data, size) for each; LIST chunks are passed with
// their list type as id and their contents as data.
template <typename F>
void walk(const uint8_t* begin, const uint8_t* end, F f) {
    while (end - begin >= 8) {
        const uint32_t size = le32(begin + 4);
        const uint8_t* data = begin + 8;
        if (size > static_cast<size_t>(end - data))
            return;
        if (is(begin, "LIST") && size >= 4)
            f(data, data + 4, size - 4, true);
        else
            f(begin, data, size, false);
        begin = data + size + (size & 1);
    }
}

} // namespace

std::optional<Trv2StreamInfo> readTrv2StreamInfo(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> head(64 * 1024);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    return readTrv2StreamInfo(head.data(), head.size(), error);
}

std::optional<Trv2StreamInfo> readTrv2StreamInfo(const uint8_t* data, size_t size, std::string* error) {
    const auto fail = [&](const std::string& why) -> std::optional<Trv2StreamInfo> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (size < 12 || !is(data, "RIFF") || !is(data + 8, "AVI "))
        return fail("not an AVI file");
    std::optional<Trv2StreamInfo> found;
    uint32_t largestChunk = 0;
    walk(data + 12, data + size, [&](const uint8_t* id, const uint8_t* d1, uint32_t size1, bool list) {
        if (!list || !is(id, "hdrl") || found)
            return;
        walk(d1, d1 + size1, [&](const uint8_t* id2, const uint8_t* data2, uint32_t size2, bool list2) {
            if (!list2 || !is(id2, "strl") || found)
                return;
            Trv2StreamInfo info;
            bool video = false, trv2 = false;
            uint32_t suggested = 0;
            walk(data2, data2 + size2, [&](const uint8_t* id3, const uint8_t* d, uint32_t n, bool) {
                if (is(id3, "strh") && n >= 40) {
                    video = is(d, "vids");
                    info.rateDenominator = le32(d + 20);
                    info.rateNumerator = le32(d + 24);
                    info.frames = le32(d + 32);
                    suggested = le32(d + 36);
                } else if (is(id3, "strf") && n >= 40) {
                    info.width = static_cast<int32_t>(le32(d + 4));
                    info.height = static_cast<int32_t>(le32(d + 8));
                    trv2 = is(d + 16, "TRV2");
                    if (n >= 48 && le32(d) >= 48)
                        info.packedQuality = le32(d + 40);
                }
            });
            if (video && trv2) {
                found = info;
                largestChunk = suggested;
            }
        });
    });
    if (!found)
        return fail("no TRV2 video stream in the file");
    const Trv2StreamInfo& info = *found;
    char text[160];
    if (info.width <= 0 || info.height <= 0 || info.width > trv2::kMaxPictureSide ||
        info.height > trv2::kMaxPictureSide) {
        std::snprintf(text, sizeof text, "the file gives a picture of %dx%d; at most %dx%d is accepted",
                      info.width, info.height, trv2::kMaxPictureSide, trv2::kMaxPictureSide);
        return fail(text);
    }
    // The stream's largest chunk, when the file says it, bounds the picture a frame describes.
    if (largestChunk > 0 && trv2::minimumFrameBytes(info.width, info.height) > largestChunk) {
        std::snprintf(text, sizeof text,
                      "the file gives a picture of %dx%d, which no frame of at most %u bytes can describe",
                      info.width, info.height, largestChunk);
        return fail(text);
    }
    return found;
}

} // namespace gardivo
