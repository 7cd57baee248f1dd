// TRV2 encoding throughput at level 5 against libjpeg-turbo compressing the same frames from YUV
// planes (4:2:0, quality 75), and against our own scalar kernel.

#include "RatioReport.h"
#include "codec_filter/Trv2Encoder.h"

#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

using namespace gardivo::trv2;

namespace {

// Natural-looking content: smooth shading, edges of objects, texture and a little sensor noise.
struct Scene {
    int width, height;
    std::vector<uint8_t> uyvy;
    std::vector<uint8_t> planes; // I420 for libjpeg-turbo
    Scene(int w, int h) : width(w), height(h), uyvy(size_t(w) * h * 2), planes(size_t(w) * h * 3 / 2) {
        std::mt19937 rng(17);
        std::normal_distribution<double> noise(0.0, 2.0);
        std::vector<double> luma(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double v = 70 + 80.0 * y / h + 30 * std::sin(x * 0.02) * std::cos(y * 0.03);
                if (x > w / 4 && x < w / 2 && y > h / 3)
                    v = 180 + 10 * std::sin(x * 0.5) * std::sin(y * 0.5); // a cupboard with a grain
                if (std::hypot(x - 0.7 * w, y - 0.4 * h) < h / 6.0)
                    v = 40 + (x % 20); // a dark object
                luma[size_t(y) * w + x] = std::clamp(v + noise(rng), 16.0, 235.0);
            }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; x += 2) {
                uint8_t* p = &uyvy[(size_t(y) * w + x) * 2];
                p[0] = static_cast<uint8_t>(120 + 10 * std::sin(x * 0.01));
                p[1] = static_cast<uint8_t>(luma[size_t(y) * w + x]);
                p[2] = static_cast<uint8_t>(135 - 8 * std::cos(y * 0.02));
                p[3] = static_cast<uint8_t>(luma[size_t(y) * w + x + 1]);
            }
        uint8_t* Y = planes.data();
        uint8_t* U = Y + size_t(w) * h;
        uint8_t* V = U + size_t(w) * h / 4;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                Y[size_t(y) * w + x] = uyvy[(size_t(y) * w + x) * 2 + 1];
        for (int y = 0; y < h / 2; ++y)
            for (int x = 0; x < w / 2; ++x) {
                const uint8_t* top = &uyvy[(size_t(2 * y) * w + 2 * x) * 2];
                const uint8_t* bottom = top + size_t(w) * 2;
                U[size_t(y) * (w / 2) + x] = static_cast<uint8_t>((top[0] + bottom[0]) / 2);
                V[size_t(y) * (w / 2) + x] = static_cast<uint8_t>((top[2] + bottom[2]) / 2);
            }
    }
};

const Scene& scene(int w, int h) {
    static const Scene vga(640, 480), hd(1280, 720);
    return w == 640 ? vga : hd;
}

void Trv2(benchmark::State& state, MacroblockKernel kernel) {
    const Scene& s = scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const auto params = makeQualityParameters(10, 52);
    std::vector<uint8_t> out(worstCaseFrameBytes(s.width, s.height));
    size_t size = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            size = encodeFrameWith(s.uyvy.data(), s.width, s.height, out.data(), out.size(), params, kernel));
    state.counters["MP/s"] = benchmark::Counter(double(s.width) * s.height * state.iterations() / 1e6,
                                                benchmark::Counter::kIsRate);
    state.counters["bytes"] = static_cast<double>(size);
}

void LibJpegTurbo(benchmark::State& state, int flags) {
    const Scene& s = scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = tjAlloc(static_cast<int>(tjBufSize(s.width, s.height, TJSAMP_420)));
    unsigned long size = 0;
    for (auto _ : state) {
        size = tjBufSize(s.width, s.height, TJSAMP_420);
        tjCompressFromYUV(handle, s.planes.data(), s.width, 1, s.height, TJSAMP_420, &jpeg, &size, 75,
                          TJFLAG_NOREALLOC | flags);
    }
    state.counters["MP/s"] = benchmark::Counter(double(s.width) * s.height * state.iterations() / 1e6,
                                                benchmark::Counter::kIsRate);
    state.counters["bytes"] = static_cast<double>(size);
    tjFree(jpeg);
    tjDestroy(handle);
}

} // namespace

BENCHMARK_CAPTURE(Trv2, simd, activeKernel())->Args({640, 480})->Args({1280, 720});
BENCHMARK_CAPTURE(Trv2, scalar, macroblockScalar)->Args({640, 480})->Args({1280, 720});
// libjpeg-turbo's default transform, and its faster, less accurate one for a stricter comparison.
BENCHMARK_CAPTURE(LibJpegTurbo, default, 0)->Args({640, 480})->Args({1280, 720});
BENCHMARK_CAPTURE(LibJpegTurbo, fastdct, TJFLAG_FASTDCT)->Args({640, 480})->Args({1280, 720});

int main(int argc, char** argv) {
    std::printf("TRV2 kernel: %s\n", gardivo::simdLevelName(gardivo::detectSimdLevel()));
    return gardivo::bench::runAndPrintRatios(argc, argv,
                                             {{"Trv2/simd/640/480", "LibJpegTurbo/default/640/480"},
                                              {"Trv2/simd/1280/720", "LibJpegTurbo/default/1280/720"},
                                              {"Trv2/simd/640/480", "LibJpegTurbo/fastdct/640/480"},
                                              {"Trv2/simd/1280/720", "LibJpegTurbo/fastdct/1280/720"},
                                              {"Trv2/simd/640/480", "Trv2/scalar/640/480"},
                                              {"Trv2/simd/1280/720", "Trv2/scalar/1280/720"}});
}
