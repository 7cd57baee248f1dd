#include "deinterlace/ConvertKernels.h"
#include "deinterlace/PreviewKernels.h"
#include "deinterlace/deinterlace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <dlfcn.h>
#include <random>
#include <vector>

using namespace gardivo;
using namespace gardivo::pixelconv;

namespace {

std::vector<SimdLevel> availableLevels() {
    std::vector<SimdLevel> levels{SimdLevel::Scalar};
    const SimdLevel best = detectSimdLevel();
    for (SimdLevel l : {SimdLevel::Ssse3, SimdLevel::Avx2})
        if (best >= l)
            levels.push_back(l);
    return levels;
}

std::vector<uint8_t> randomFrame(std::mt19937& rng, int width, int height) {
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 2);
    for (auto& b : frame)
        b = static_cast<uint8_t>(rng());
    return frame;
}

std::vector<uint8_t> convert(RowKernel kernel, const std::vector<uint8_t>& src, int width, int height) {
    // Guard bytes after the picture catch a kernel that writes past its rows.
    std::vector<uint8_t> dst(static_cast<size_t>(bitmapStride(width)) * height + 64, 0xA5);
    convertPicture(kernel, src.data(), dst.data(), width, height);
    return dst;
}

TEST(ConvertToRgb, EverySimdKernelMatchesTheScalarOneOnOddSizes) {
    std::mt19937 rng(1234);
    const std::vector<std::pair<int, int>> sizes = {
        {1, 1},   {2, 1},  {3, 3},  {7, 5},  {8, 2},     {15, 4},   {16, 3},  {17, 9},
        {23, 11}, {31, 2}, {33, 7}, {47, 5}, {320, 240}, {321, 13}, {639, 3}, {640, 480}};
    for (const auto& [w, h] : sizes) {
        const auto src = randomFrame(rng, w, h);
        const auto expected = convert(uyvyRowToBgrScalar, src, w, h);
        for (SimdLevel level : availableLevels()) {
            const auto got = convert(rowKernelFor(level), src, w, h);
            ASSERT_EQ(got, expected) << simdLevelName(level) << " at " << w << "x" << h;
        }
        // Row padding is zero and nothing past the picture was touched.
        const int stride = bitmapStride(w);
        for (int row = 0; row < h; ++row)
            for (int pad = w * 3; pad < stride; ++pad)
                EXPECT_EQ(expected[static_cast<size_t>(row * stride + pad)], 0);
        for (size_t i = static_cast<size_t>(stride) * h; i < expected.size(); ++i)
            ASSERT_EQ(expected[i], 0xA5);
    }
}

// Reference BT.601 limited-range conversion in floating point.
void reference(int Y, int U, int V, double out[3]) {
    const double y = 1.164 * (Y - 16);
    out[0] = std::clamp(y + 2.018 * (U - 128), 0.0, 255.0);
    out[1] = std::clamp(y - 0.813 * (V - 128) - 0.391 * (U - 128), 0.0, 255.0);
    out[2] = std::clamp(y + 1.596 * (V - 128), 0.0, 255.0);
}

TEST(ConvertToRgb, ColoursFollowBt601LimitedRange) {
    for (SimdLevel level : availableLevels()) {
        // Known colours: black, white, mid grey, and the 75% colour bars.
        struct Case {
            uint8_t y, u, v, b, g, r;
        };
        const Case cases[] = {{16, 128, 128, 0, 0, 0},
                              {235, 128, 128, 255, 255, 255},
                              {126, 128, 128, 128, 128, 128},
                              {65, 100, 212, 1, 0, 191} /* red */,
                              {112, 72, 58, 0, 191, 0} /* green */,
                              {35, 212, 114, 192, 0, 0} /* blue */};
        for (const auto& c : cases) {
            std::vector<uint8_t> src(16 * 2);
            for (int x = 0; x < 16; x += 2) {
                src[2 * x] = c.u;
                src[2 * x + 1] = c.y;
                src[2 * x + 2] = c.v;
                src[2 * x + 3] = c.y;
            }
            const auto out = convert(rowKernelFor(level), src, 16, 1);
            for (int x = 0; x < 16; ++x) {
                EXPECT_NEAR(out[3 * x], c.b, 1) << simdLevelName(level) << " Y=" << int(c.y);
                EXPECT_NEAR(out[3 * x + 1], c.g, 1) << simdLevelName(level) << " Y=" << int(c.y);
                EXPECT_NEAR(out[3 * x + 2], c.r, 1) << simdLevelName(level) << " Y=" << int(c.y);
            }
        }
        // And within one level of the exact formula across the whole input range.
        for (int Y = 0; Y < 256; Y += 5) {
            for (int U = 0; U < 256; U += 15) {
                for (int V = 0; V < 256; V += 15) {
                    const std::vector<uint8_t> src = {uint8_t(U), uint8_t(Y), uint8_t(V), uint8_t(Y)};
                    const auto out = convert(rowKernelFor(level), src, 2, 1);
                    double want[3];
                    reference(Y, U, V, want);
                    for (int k = 0; k < 3; ++k)
                        ASSERT_NEAR(out[k], want[k], 1.01)
                            << "Y=" << Y << " U=" << U << " V=" << V << " k=" << k;
                }
            }
        }
    }
}

// The live picture's kernels: one picture in each of the three layouts, converted row by row
// into BGRx with guard bytes after every row.
struct YuvPicture {
    int width;
    int height;
    std::vector<uint8_t> packed;  // UYVY, or YUY2 with the same samples
    std::vector<uint8_t> y, u, v; // I420
};

YuvPicture randomYuv(std::mt19937& rng, int width, int height) {
    YuvPicture p{width, height, {}, {}, {}, {}};
    const int chromaWidth = (width + 1) / 2;
    p.y.resize(static_cast<size_t>(width) * height);
    p.u.resize(static_cast<size_t>(chromaWidth) * ((height + 1) / 2));
    p.v.resize(p.u.size());
    for (auto* plane : {&p.y, &p.u, &p.v})
        for (auto& b : *plane)
            b = static_cast<uint8_t>(rng());
    p.packed.resize(static_cast<size_t>(width) * height * 2);
    for (auto& b : p.packed)
        b = static_cast<uint8_t>(rng());
    return p;
}

enum class Layout { Uyvy, Yuy2, I420 };

std::vector<uint8_t> preview(const PreviewKernels& kernels, Layout layout, const YuvPicture& p) {
    const int rowBytes = p.width * 4 + 16;
    std::vector<uint8_t> out(static_cast<size_t>(rowBytes) * p.height, 0xA5);
    const int chromaWidth = (p.width + 1) / 2;
    for (int row = 0; row < p.height; ++row) {
        uint8_t* dst = out.data() + static_cast<ptrdiff_t>(row) * rowBytes;
        const uint8_t* packed = p.packed.data() + static_cast<ptrdiff_t>(row) * p.width * 2;
        if (layout == Layout::Uyvy)
            kernels.uyvy(packed, dst, p.width);
        else if (layout == Layout::Yuy2)
            kernels.yuy2(packed, dst, p.width);
        else
            kernels.i420(p.y.data() + static_cast<ptrdiff_t>(row) * p.width,
                         p.u.data() + static_cast<ptrdiff_t>(row / 2) * chromaWidth,
                         p.v.data() + static_cast<ptrdiff_t>(row / 2) * chromaWidth, dst, p.width);
    }
    return out;
}

TEST(PreviewKernels, EverySimdKernelMatchesTheScalarOneAndStaysInItsRow) {
    std::mt19937 rng(99);
    const auto scalar = scalarPreviewKernels();
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1, 1},
                                                               {2, 2},
                                                               {3, 3},
                                                               {7, 5},
                                                               {8, 2},
                                                               {9, 3},
                                                               {15, 4},
                                                               {16, 3},
                                                               {17, 9},
                                                               {33, 7},
                                                               {321, 13},
                                                               {640, 4}}) {
        const YuvPicture picture = randomYuv(rng, w, h);
        for (Layout layout : {Layout::Uyvy, Layout::Yuy2, Layout::I420}) {
            const auto expected = preview(scalar, layout, picture);
            for (int row = 0; row < h; ++row) {
                const size_t end = static_cast<size_t>(row) * (w * 4 + 16) + static_cast<size_t>(w) * 4;
                for (size_t i = end; i < end + 16; ++i)
                    ASSERT_EQ(expected[i], 0xA5) << "scalar wrote past its row at " << w << "x" << h;
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(expected[end - static_cast<size_t>(w) * 4 + static_cast<size_t>(x) * 4 + 3],
                              255);
            }
            for (SimdLevel level : availableLevels())
                ASSERT_EQ(preview(previewKernelsFor(level), layout, picture), expected)
                    << simdLevelName(level) << " layout " << int(layout) << " at " << w << "x" << h;
        }
    }
}

TEST(PreviewKernels, ThePictureOnScreenHasTheColoursOfTheEvidence) {
    // One pixel pair in each layout gives the bytes ConvertToRGB gives that pair, plus opaque alpha.
    std::mt19937 rng(5);
    for (SimdLevel level : availableLevels()) {
        const PreviewKernels kernels = previewKernelsFor(level);
        for (int n = 0; n < 200; ++n) {
            const uint8_t U = rng(), Y0 = rng(), V = rng(), Y1 = rng();
            std::vector<uint8_t> uyvy(32), yuy2(32), luma(16), us(8, U), vs(8, V);
            for (int x = 0; x < 16; x += 2) {
                const uint8_t q[4] = {U, Y0, V, Y1};
                std::copy(q, q + 4, uyvy.begin() + 2 * x);
                const uint8_t r[4] = {Y0, U, Y1, V};
                std::copy(r, r + 4, yuy2.begin() + 2 * x);
                luma[x] = Y0;
                luma[x + 1] = Y1;
            }
            std::vector<uint8_t> bgr(48);
            uyvyRowToBgrScalar(uyvy.data(), bgr.data(), 16);
            std::vector<uint8_t> a(64), b(64), c(64);
            kernels.uyvy(uyvy.data(), a.data(), 16);
            kernels.yuy2(yuy2.data(), b.data(), 16);
            kernels.i420(luma.data(), us.data(), vs.data(), c.data(), 16);
            for (int x = 0; x < 16; ++x)
                for (int k = 0; k < 3; ++k) {
                    ASSERT_EQ(a[4 * x + k], bgr[3 * x + k]) << simdLevelName(level);
                    ASSERT_EQ(b[4 * x + k], bgr[3 * x + k]) << simdLevelName(level);
                    ASSERT_EQ(c[4 * x + k], bgr[3 * x + k]) << simdLevelName(level);
                }
        }
    }
}

TEST(ConvertToRgb, TheTopRowEndsUpLastLikeABottomUpBitmap) {
    const int w = 4, h = 3;
    std::vector<uint8_t> src(w * h * 2);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            src[(row * w + x) * 2] = 128;
            src[(row * w + x) * 2 + 1] = row == 0 ? 235 : 16; // white top row, black below
        }
    const auto out = convert(activeRowKernel(), src, w, h);
    const int stride = bitmapStride(w);
    EXPECT_EQ(stride, 12);
    EXPECT_EQ(out[0], 0);                                       // first row in memory: black
    EXPECT_EQ(out[static_cast<size_t>((h - 1) * stride)], 255); // last row: the white top row
}

GardivoBitmapInfoHeader makeHeader(int width, int height, uint16_t bits = 24) {
    GardivoBitmapInfoHeader h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bits;
    return h;
}

// The module as gardivo loads it.
class DeinterlaceModule : public ::testing::Test {
protected:
    void SetUp() override {
        m_handle = ::dlopen(GARDIVO_PROGRAM_DIR "/libdeinterlace.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_handle, nullptr) << ::dlerror();
    }
    void TearDown() override {
        if (m_handle)
            ::dlclose(m_handle);
    }
    template <typename F>
    F entry(const char* name) {
        return reinterpret_cast<F>(::dlsym(m_handle, name));
    }
    void* m_handle = nullptr;
};

TEST_F(DeinterlaceModule, ExportsItsThreeEntriesWithTheirContract) {
    using Convert = int (*)(const GardivoBitmapInfoHeader*, void*, const void*);
    using Copy = void (*)(void*, const void*, size_t);
    const auto toRgb = entry<Convert>("ConvertToRGB");
    const auto toYuy2 = entry<Convert>("ConvertToYUY2");
    const auto copy = entry<Copy>("memcpyMMX");
    ASSERT_TRUE(toRgb && toYuy2 && copy);

    std::mt19937 rng(99);
    const int w = 37, h = 21;
    const auto src = randomFrame(rng, w, h);
    const GardivoBitmapInfoHeader header = makeHeader(w, h);
    std::vector<uint8_t> out(static_cast<size_t>(bitmapStride(w)) * h);
    EXPECT_EQ(toRgb(&header, out.data(), src.data()), 0);
    auto expected = convert(uyvyRowToBgrScalar, src, w, h);
    expected.resize(out.size());
    EXPECT_EQ(out, expected);

    // A header that is not a 24-bit picture writes nothing.
    std::vector<uint8_t> untouched(out.size(), 7);
    for (auto bad : {makeHeader(0, h), makeHeader(w, -h), makeHeader(w, h, 32)}) {
        EXPECT_EQ(toRgb(&bad, untouched.data(), src.data()), -1);
        EXPECT_EQ(untouched, std::vector<uint8_t>(out.size(), 7));
    }
    EXPECT_EQ(toRgb(nullptr, untouched.data(), src.data()), -1);

    const std::vector<uint8_t> uyvy = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<uint8_t> yuy2(8);
    const GardivoBitmapInfoHeader small = makeHeader(2, 2);
    EXPECT_EQ(toYuy2(&small, yuy2.data(), uyvy.data()), 0);
    EXPECT_EQ(yuy2, (std::vector<uint8_t>{2, 1, 4, 3, 6, 5, 8, 7}));
    std::vector<uint8_t> copied(8);
    copy(copied.data(), uyvy.data(), 8);
    EXPECT_EQ(copied, uyvy);
}

} // namespace
