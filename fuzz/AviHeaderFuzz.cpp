// Fuzz target for the AVI header reader that tells a player the size and quality of a TRV2
// clip: a clip is a file anyone may hand it. Whatever it accepts must be a picture the decoder
// can hold.

#include "codec_filter/AviReader.h"
#include "codec_filter/AviWriter.h"
#include "codec_filter/Trv2Decoder.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string why;
    const auto info = gardivo::readTrv2StreamInfo(data, size, &why);
    if (info) {
        if (info->width <= 0 || info->height <= 0 || info->width > gardivo::trv2::kMaxPictureSide ||
            info->height > gardivo::trv2::kMaxPictureSide)
            std::abort();
    } else if (why.empty()) {
        std::abort(); // a refusal always says why
    }
    return 0;
}

std::vector<std::string> fuzzSeeds() {
    // A real clip's first bytes: the writer's headers and two small frames.
    char pattern[] = "/tmp/gardivo-fuzz-avi-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd < 0)
        return {};
    ::close(fd);
    gardivo::AviVideoFormat format;
    format.width = 64;
    format.height = 48;
    format.format = gardivo::trv2BitmapInfo(64, 48, 0x340A);
    gardivo::AviWriter writer;
    std::vector<uint8_t> frame(300, 7);
    if (writer.open(pattern, format, gardivo::AviAudioFormat{}) &&
        writer.writeVideoFrame(frame.data(), frame.size()))
        writer.writeVideoFrame(frame.data(), frame.size());
    writer.close();
    std::string bytes;
    if (FILE* f = std::fopen(pattern, "rb")) {
        char buffer[65536];
        bytes.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
        std::fclose(f);
    }
    ::unlink(pattern);
    return {bytes};
}
