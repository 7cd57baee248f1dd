// TRV2 encoding at the default level against libjpeg-turbo (quality 75, 4:2:0, from YUV planes,
// with its accurate and its fast transform), and our SIMD kernel against its scalar twin, on
// natural photographs (with and without camera-like noise) and on a synthetic scene, at 640x480
// and 1280x720. Speed is always printed beside size and luma PSNR.
//
//   bench_trv2 [--rounds N] [--size 640x480|1280x720] [--corpus DIRECTORY]
//
// Times are the thread's CPU time, measured in interleaved rounds (each round runs every coder
// once on every picture) and taken as the median of the rounds. The photographs come from
// bench/fetch_corpus.sh (the build runs it); without them only the synthetic scene is measured.

#include "codec_filter/Trv2Decoder.h"
#include "codec_filter/Trv2Encoder.h"

#include <QDir>
#include <QImage>
#include <QLoggingCategory>
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace gardivo::trv2;

namespace {

struct Picture {
    std::string name;
    int width = 0;
    int height = 0;
    bool photo = false;
    bool upscaled = false;
    std::vector<uint8_t> uyvy;
    std::vector<uint8_t> planes; // I420, as libjpeg-turbo takes it
};

uint8_t clampByte(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// The I420 planes of a UYVY picture: luma as it is, chroma averaged over row pairs like TRV2 does.
void makePlanes(Picture& p) {
    const int w = p.width, h = p.height;
    p.planes.assign(size_t(w) * h * 3 / 2, 0);
    uint8_t* Y = p.planes.data();
    uint8_t* U = Y + size_t(w) * h;
    uint8_t* V = U + size_t(w) * h / 4;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Y[size_t(y) * w + x] = p.uyvy[(size_t(y) * w + x) * 2 + 1];
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) {
            const uint8_t* top = &p.uyvy[(size_t(2 * y) * w + 2 * x) * 2];
            const uint8_t* bottom = top + size_t(w) * 2;
            U[size_t(y) * (w / 2) + x] = static_cast<uint8_t>((top[0] + bottom[0]) / 2);
            V[size_t(y) * (w / 2) + x] = static_cast<uint8_t>((top[2] + bottom[2]) / 2);
        }
}

// A photograph scaled to cover the size and cropped to it, as a camera would give it: BT.601
// limited-range UYVY.
Picture fromPhoto(const QImage& photo, const std::string& name, int w, int h) {
    Picture p;
    p.name = name;
    p.width = w;
    p.height = h;
    p.photo = true;
    const QImage scaled = photo.scaled(w, h, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    p.upscaled = scaled.width() > photo.width() || scaled.height() > photo.height();
    const QImage rgb = scaled.copy((scaled.width() - w) / 2, (scaled.height() - h) / 2, w, h)
                           .convertToFormat(QImage::Format_RGB888);
    p.uyvy.resize(size_t(w) * h * 2);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = rgb.constScanLine(y);
        for (int x = 0; x < w; x += 2) {
            double yy[2], cb = 0, cr = 0;
            for (int k = 0; k < 2; ++k) {
                const double r = row[3 * (x + k)], g = row[3 * (x + k) + 1], b = row[3 * (x + k) + 2];
                yy[k] = 16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255;
                cb += 128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255;
                cr += 128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255;
            }
            uint8_t* out = &p.uyvy[(size_t(y) * w + x) * 2];
            out[0] = clampByte(cb / 2);
            out[1] = clampByte(yy[0]);
            out[2] = clampByte(cr / 2);
            out[3] = clampByte(yy[1]);
        }
    }
    makePlanes(p);
    return p;
}

// The same picture as a camera sensor would add to it: Gaussian noise of sigma 3 on every sample.
Picture withNoise(const Picture& clean) {
    Picture p = clean;
    p.name += "+noise";
    std::mt19937 rng(1234);
    std::normal_distribution<double> noise(0.0, 3.0);
    for (uint8_t& v : p.uyvy)
        v = clampByte(v + noise(rng));
    makePlanes(p);
    return p;
}

// The smooth synthetic scene the benchmark used to measure alone: shading, an object edge, a
// grain, a little noise. It flatters any transform coder.
Picture syntheticScene(int w, int h) {
    Picture p;
    p.name = "synthetic";
    p.width = w;
    p.height = h;
    p.uyvy.resize(size_t(w) * h * 2);
    std::mt19937 rng(17);
    std::normal_distribution<double> noise(0.0, 2.0);
    std::vector<double> luma(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double v = 70 + 80.0 * y / h + 30 * std::sin(x * 0.02) * std::cos(y * 0.03);
            if (x > w / 4 && x < w / 2 && y > h / 3)
                v = 180 + 10 * std::sin(x * 0.5) * std::sin(y * 0.5);
            if (std::hypot(x - 0.7 * w, y - 0.4 * h) < h / 6.0)
                v = 40 + (x % 20);
            luma[size_t(y) * w + x] = std::clamp(v + noise(rng), 16.0, 235.0);
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; x += 2) {
            uint8_t* q = &p.uyvy[(size_t(y) * w + x) * 2];
            q[0] = static_cast<uint8_t>(120 + 10 * std::sin(x * 0.01));
            q[1] = static_cast<uint8_t>(luma[size_t(y) * w + x]);
            q[2] = static_cast<uint8_t>(135 - 8 * std::cos(y * 0.02));
            q[3] = static_cast<uint8_t>(luma[size_t(y) * w + x + 1]);
        }
    makePlanes(p);
    return p;
}

double threadSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double lumaPsnr(const uint8_t* a, size_t aStep, const uint8_t* b, size_t bStep, size_t count) {
    double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        const double d = double(a[i * aStep]) - double(b[i * bStep]);
        sum += d * d;
    }
    const double mse = sum / double(count);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// One coder on one picture: the call, and what it gave.
struct Coder {
    const char* name;
    std::function<size_t(const Picture&)> code;
};

struct Result {
    std::vector<double> seconds[4];
    size_t trv2Bytes = 0, jpegBytes = 0;
    double trv2Psnr = 0, jpegPsnr = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double geomean(const std::vector<double>& v) {
    double log = 0;
    for (const double x : v)
        log += std::log(x);
    return v.empty() ? 0 : std::exp(log / double(v.size()));
}

} // namespace

int main(int argc, char** argv) {
    // libpng complains about the sRGB profile of some photographs; the pictures are fine.
    QLoggingCategory::setFilterRules("qt.gui.imageio*=false");
    int rounds = 5;
    std::string onlySize;
    std::string corpusDir = GARDIVO_TRV2_CORPUS;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--size" && i + 1 < argc)
            onlySize = argv[++i];
        else if (a == "--corpus" && i + 1 < argc)
            corpusDir = argv[++i];
    }
    std::printf("TRV2 kernel: %s; level 5 (a = 10, b = 52) against libjpeg-turbo q75 4:2:0 from planes\n",
                gardivo::simdLevelName(gardivo::detectSimdLevel()));

    const auto params = makeQualityParameters(10, 52);
    const uint32_t packed = (52u << 8) | 10u;
    std::vector<uint8_t> out;
    std::vector<uint8_t> decoded;
    tjhandle compressor = tjInitCompress();
    tjhandle decompressor = tjInitDecompress();
    unsigned char* jpeg = nullptr;
    std::vector<uint8_t> jpegPlanes;

    const auto trv2 = [&](MacroblockKernel kernel) {
        return [&, kernel](const Picture& p) {
            return encodeFrameWith(p.uyvy.data(), p.width, p.height, out.data(), out.size(), params, kernel);
        };
    };
    const auto libjpeg = [&](int flags) {
        return [&, flags](const Picture& p) {
            unsigned long size = tjBufSize(p.width, p.height, TJSAMP_420);
            tjCompressFromYUV(compressor, p.planes.data(), p.width, 1, p.height, TJSAMP_420, &jpeg, &size, 75,
                              TJFLAG_NOREALLOC | flags);
            return static_cast<size_t>(size);
        };
    };
    const Coder coders[4] = {{"trv2-simd", trv2(activeKernel())},
                             {"trv2-scalar", trv2(macroblockScalar)},
                             {"jpeg", libjpeg(0)},
                             {"jpeg-fastdct", libjpeg(TJFLAG_FASTDCT)}};

    const QDir photos(QString::fromStdString(corpusDir + "/skimage/data"));
    const char* names[] = {"astronaut.png",       "coffee.png", "chelsea.png",
                           "motorcycle_left.png", "rocket.jpg", "hubble_deep_field.jpg",
                           "retina.jpg"};
    std::vector<QImage> loaded;
    std::vector<std::string> loadedNames;
    for (const char* name : names) {
        QImage image(photos.filePath(name));
        if (!image.isNull()) {
            loaded.push_back(image);
            loadedNames.push_back(QString(name).section('.', 0, 0).toStdString());
        }
    }
    if (loaded.empty())
        std::printf("No photographs in %s (bench/fetch_corpus.sh fetches them): the synthetic scene only.\n",
                    corpusDir.c_str());

    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{640, 480}, {1280, 720}}) {
        if (!onlySize.empty() && onlySize != std::to_string(w) + "x" + std::to_string(h))
            continue;
        std::vector<Picture> pictures;
        for (size_t i = 0; i < loaded.size(); ++i) {
            pictures.push_back(fromPhoto(loaded[i], loadedNames[i], w, h));
            pictures.push_back(withNoise(pictures.back()));
        }
        pictures.push_back(syntheticScene(w, h));
        out.assign(worstCaseFrameBytes(w, h), 0);
        decoded.assign(size_t(w) * h * 2, 0);
        jpeg = tjAlloc(static_cast<int>(tjBufSize(w, h, TJSAMP_420)));
        jpegPlanes.assign(size_t(w) * h * 3 / 2, 0);

        std::vector<Result> results(pictures.size());
        // Quality first: sizes, and the luma each coder gives back.
        for (size_t i = 0; i < pictures.size(); ++i) {
            const Picture& p = pictures[i];
            Result& r = results[i];
            r.trv2Bytes = coders[0].code(p);
            DecodeFrame(out.data(), r.trv2Bytes, w, h, packed, decoded.data());
            r.trv2Psnr = lumaPsnr(decoded.data() + 1, 2, p.uyvy.data() + 1, 2, size_t(w) * h);
            r.jpegBytes = coders[2].code(p);
            tjDecompressToYUV2(decompressor, jpeg, r.jpegBytes, jpegPlanes.data(), w, 1, h, 0);
            r.jpegPsnr = lumaPsnr(jpegPlanes.data(), 1, p.planes.data(), 1, size_t(w) * h);
        }
        // Speed: every coder on every picture in each round, the order turning round by round.
        for (int round = 0; round < rounds; ++round)
            for (size_t i = 0; i < pictures.size(); ++i)
                for (int k = 0; k < 4; ++k) {
                    const Coder& coder = coders[(k + round) % 4];
                    const Picture& p = pictures[i];
                    int calls = 0;
                    const double start = threadSeconds();
                    double now = start;
                    // At least 60 ms of work a measurement.
                    do {
                        benchmark::DoNotOptimize(coder.code(p));
                        ++calls;
                        now = threadSeconds();
                    } while (now - start < 0.06);
                    results[i].seconds[(k + round) % 4].push_back((now - start) / calls);
                }
        tjFree(jpeg);

        std::printf("\n%dx%d        ms a frame (CPU)                          TRV2 / JPEG speed       "
                    "TRV2                 JPEG q75\n",
                    w, h);
        std::printf("%-28s %7s %7s %7s %7s   %7s %7s %7s   %8s %6s   %8s %6s\n", "picture", "simd", "scalar",
                    "jpeg", "jpegF", "xjpeg", "xjpegF", "simd/sc", "bytes", "PSNR", "bytes", "PSNR");
        std::vector<double> overJpeg, overFast, overScalar;
        for (size_t i = 0; i < pictures.size(); ++i) {
            const Picture& p = pictures[i];
            const Result& r = results[i];
            const double simd = median(r.seconds[0]), scalar = median(r.seconds[1]);
            const double jpegAccurate = median(r.seconds[2]), jpegFast = median(r.seconds[3]);
            std::printf("%-28s %7.2f %7.2f %7.2f %7.2f   %6.2fx %6.2fx %6.2fx   %8zu %6.2f   %8zu %6.2f\n",
                        (p.name + (p.upscaled ? " (up)" : "")).c_str(), simd * 1e3, scalar * 1e3,
                        jpegAccurate * 1e3, jpegFast * 1e3, jpegAccurate / simd, jpegFast / simd,
                        scalar / simd, r.trv2Bytes, r.trv2Psnr, r.jpegBytes, r.jpegPsnr);
            if (p.photo) {
                overJpeg.push_back(jpegAccurate / simd);
                overFast.push_back(jpegFast / simd);
                overScalar.push_back(scalar / simd);
            }
        }
        if (!overJpeg.empty())
            std::printf("%-28s %31s   %6.2fx %6.2fx %6.2fx   (geometric mean over %zu photographs)\n",
                        "photographs", "", geomean(overJpeg), geomean(overFast), geomean(overScalar),
                        overJpeg.size());
    }
    tjDestroy(compressor);
    tjDestroy(decompressor);
    return 0;
}
