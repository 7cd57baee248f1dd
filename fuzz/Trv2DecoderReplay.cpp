// Runs the fuzz target without libFuzzer: over the files named on the command line, or else over
// a fixed number of pseudo-random inputs (the same ones every run), some of them real frames with
// bytes flipped.

#include "codec_filter/Trv2Encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            std::ifstream in(argv[i], std::ios::binary);
            std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        }
        return 0;
    }
    std::mt19937 rng(2026);
    int runs = 0;
    for (; runs < 20000; ++runs) {
        std::vector<uint8_t> input(4 + rng() % 800);
        for (auto& b : input)
            b = static_cast<uint8_t>(rng());
        if (runs % 4 == 0) {
            // A real frame of the chosen size, then damaged.
            const int width = 2 + input[0] % 93, height = 1 + input[1] % 63;
            if (width % 2 == 0) {
                std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 2);
                for (auto& b : picture)
                    b = static_cast<uint8_t>(rng());
                std::vector<uint8_t> frame(gardivo::trv2::worstCaseFrameBytes(width, height));
                const size_t n = gardivo::trv2::encodeFrameWith(
                    picture.data(), width, height, frame.data(), frame.size(),
                    gardivo::trv2::makeQualityParameters(10, 52), gardivo::trv2::macroblockScalar);
                input.resize(4 + n);
                std::copy_n(frame.begin(), n, input.begin() + 4);
                for (int flips = 0; flips < 3 && n > 0; ++flips)
                    input[4 + rng() % n] ^= static_cast<uint8_t>(1u << (rng() % 8));
                input.resize(input.size() - rng() % (n / 2 + 1));
            }
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%d inputs decoded without a fault\n", runs);
    return 0;
}
