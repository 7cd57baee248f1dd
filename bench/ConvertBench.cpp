// ConvertToRGB against libyuv doing the same job in its two steps (UYVY to ARGB, ARGB to RGB24),
// and against our own scalar kernel.

#include "RatioReport.h"
#include "deinterlace/ConvertKernels.h"

#include <libyuv.h>

#include <random>
#include <vector>

using namespace gardivo::pixelconv;

namespace {

struct Frames {
    int width, height;
    std::vector<uint8_t> uyvy, argb, bgr;
    Frames(int w, int h)
        : width(w), height(h), uyvy(size_t(w) * h * 2), argb(size_t(w) * h * 4),
          bgr(size_t(bitmapStride(w)) * h) {
        std::mt19937 rng(3);
        for (auto& b : uyvy)
            b = static_cast<uint8_t>(rng());
    }
};

void Ours(benchmark::State& state, RowKernel kernel) {
    Frames f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        convertPicture(kernel, f.uyvy.data(), f.bgr.data(), f.width, f.height);
        benchmark::DoNotOptimize(f.bgr.data());
    }
    state.SetItemsProcessed(state.iterations() * f.width * f.height);
}

void LibYuv(benchmark::State& state) {
    Frames f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        // A negative height flips the picture, as a bottom-up bitmap needs.
        libyuv::UYVYToARGB(f.uyvy.data(), f.width * 2, f.argb.data(), f.width * 4, f.width, f.height);
        libyuv::ARGBToRGB24(f.argb.data(), f.width * 4, f.bgr.data(), bitmapStride(f.width), f.width,
                            -f.height);
        benchmark::DoNotOptimize(f.bgr.data());
    }
    state.SetItemsProcessed(state.iterations() * f.width * f.height);
}

} // namespace

BENCHMARK_CAPTURE(Ours, dispatched, activeRowKernel())->Args({320, 240})->Args({640, 480});
BENCHMARK_CAPTURE(Ours, scalar, uyvyRowToBgrScalar)->Args({320, 240})->Args({640, 480});
BENCHMARK(LibYuv)->Args({320, 240})->Args({640, 480});

int main(int argc, char** argv) {
    std::printf("dispatched kernel: %s\n", gardivo::simdLevelName(gardivo::detectSimdLevel()));
    return gardivo::bench::runAndPrintRatios(argc, argv,
                                             {{"Ours/dispatched/320/240", "LibYuv/320/240"},
                                              {"Ours/dispatched/640/480", "LibYuv/640/480"},
                                              {"Ours/dispatched/640/480", "Ours/scalar/640/480"}});
}
