#include "codec_filter/Trv2BitWriter.h"
#include "codec_filter/Trv2Decoder.h"
#include "codec_filter/Trv2Encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

using namespace gardivo;
using namespace gardivo::trv2;

namespace {

std::vector<uint8_t> flatFrame(int w, int h, uint8_t y, uint8_t u = 128, uint8_t v = 128) {
    std::vector<uint8_t> f(static_cast<size_t>(w) * h * 2);
    for (size_t i = 0; i < f.size(); i += 4) {
        f[i] = u;
        f[i + 1] = y;
        f[i + 2] = v;
        f[i + 3] = y;
    }
    return f;
}

// Smooth content: gentle gradients and a soft blob, like a camera's picture of a room.
std::vector<uint8_t> smoothFrame(int w, int h) {
    std::vector<uint8_t> f(static_cast<size_t>(w) * h * 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double d = std::hypot(x - w * 0.6, y - h * 0.4) / (w * 0.3);
            const double luma = 60 + 100.0 * x / w + 40.0 * y / h + 50 * std::exp(-d * d);
            uint8_t* p = &f[(static_cast<size_t>(y) * w + x) * 2];
            p[0] = static_cast<uint8_t>(x % 2 == 0 ? 110 + 30.0 * y / h : 140 - 20.0 * x / w); // U or V
            p[1] = static_cast<uint8_t>(std::clamp(luma, 16.0, 235.0));
        }
    return f;
}

std::vector<uint8_t> randomFrame(std::mt19937& rng, int w, int h) {
    std::vector<uint8_t> f(static_cast<size_t>(w) * h * 2);
    for (auto& b : f)
        b = static_cast<uint8_t>(rng());
    return f;
}

std::vector<uint8_t> encode(const std::vector<uint8_t>& frame, int w, int h, int level,
                            MacroblockKernel kernel = macroblockScalar) {
    const auto row = kQualityTable[static_cast<size_t>(level)];
    std::vector<uint8_t> out(worstCaseFrameBytes(w, h));
    const size_t n = encodeFrameWith(frame.data(), w, h, out.data(), out.size(),
                                     makeQualityParameters(row.scale, row.count), kernel);
    out.resize(n);
    return out;
}

double lumaPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double se = 0;
    size_t n = 0;
    for (size_t i = 1; i < a.size(); i += 2, ++n)
        se += (a[i] - b[i]) * double(a[i] - b[i]);
    return se == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * n / se);
}

uint32_t bitsAt(const std::vector<uint8_t>& s, size_t pos, unsigned n) {
    uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i, ++pos)
        v |= uint32_t((s[pos / 8] >> (pos % 8)) & 1) << i;
    return v;
}

TEST(Trv2Tables, QualityRowsPackAndMultipliersHaveTheirTellingValues) {
    EXPECT_EQ(ApplyQualityLevel(10), 0x7341u);
    EXPECT_EQ(ApplyQualityLevel(5), 0x340Au);
    EXPECT_EQ(ApplyQualityLevel(7), 0x4010u);
    EXPECT_EQ(ApplyQualityLevel(11), 0x340Au); // beyond the table: row 5
    EXPECT_EQ(ApplyQualityLevel(-1), 0x340Au);

    const auto m = [](const QualityParameters& p, int u, int v) {
        return p.multipliers[static_cast<size_t>(8 * u + v)];
    };
    const auto level5 = makeQualityParameters(10, 52);
    EXPECT_EQ(m(level5, 0, 0), 512);
    EXPECT_EQ(m(level5, 0, 1), 231);
    EXPECT_EQ(m(level5, 1, 1), 166);
    EXPECT_EQ(m(level5, 7, 7), 810);
    EXPECT_EQ(level5.lastGroup, 12);
    const auto level9 = makeQualityParameters(24, 64);
    EXPECT_EQ(m(level9, 0, 1), 554);
    EXPECT_EQ(m(level9, 7, 7), 1945);
    EXPECT_EQ(m(level9, 0, 0), 512);
    EXPECT_EQ(m(makeQualityParameters(4, 40), 0, 1), 92);
    EXPECT_EQ(makeQualityParameters(4, 40).lastGroup, 9);
    const auto level10 = makeQualityParameters(65, 115);
    EXPECT_EQ(level10.count, 64);
    EXPECT_EQ(level10.lastGroup, 15);
    EXPECT_EQ(makeQualityParameters(0, 52).scale, 10);
    EXPECT_DOUBLE_EQ(descale(0, 0), 0.125);
}

TEST(Trv2Tables, ValueCodesFollowTheRule) {
    const auto code = [](int c) { return kValueCodes[static_cast<uint8_t>(static_cast<int8_t>(c))]; };
    EXPECT_EQ(code(5).bits, 0x0C);
    EXPECT_EQ(code(5).length, 6);
    EXPECT_EQ(code(-1).bits, 0x3);
    EXPECT_EQ(code(-1).length, 2);
    EXPECT_EQ(code(1).bits, 0x1);
    EXPECT_EQ(code(64).bits, 0x800);
    EXPECT_EQ(code(64).length, 13);
    EXPECT_EQ(code(-127).bits, 0x1020);
    EXPECT_EQ(code(-128).bits, 0x1000);
    EXPECT_EQ(code(31).length, 10);
    EXPECT_EQ(code(-16).length, 10);
    EXPECT_EQ(code(32).length, 13);
    EXPECT_EQ(kValueCodes[0].length, 0);
}

// Both prefix sets are complete prefix codes: no code begins another, and they fill the space.
TEST(Trv2Tables, PrefixCodesAreCompleteAndPrefixFree) {
    const auto check = [](const auto& table) {
        double kraft = 0;
        for (size_t i = 0; i < table.size(); ++i) {
            kraft += std::ldexp(1.0, -table[i].length);
            for (size_t j = 0; j < table.size(); ++j) {
                if (i == j || table[j].length < table[i].length)
                    continue;
                const uint32_t low = table[j].bits & ((1u << table[i].length) - 1);
                EXPECT_NE(low, table[i].bits) << i << " begins " << j;
            }
        }
        EXPECT_DOUBLE_EQ(kraft, 1.0);
    };
    check(kFirstGroupPrefix);
    check(kGroupPrefix);
    // Spot checks against the listed rows: nothing but position 1 non-zero (2 and 3 zero) is 5
    // in 3 bits; a group with only position 1 zero is 31 in 5 bits.
    EXPECT_EQ(kFirstGroupPrefix[0b001].bits, 5);
    EXPECT_EQ(kFirstGroupPrefix[0b001].length, 3);
    EXPECT_EQ(kFirstGroupPrefix[0].bits, 2);
    EXPECT_EQ(kGroupPrefix[0b1101].bits, 31);
    EXPECT_EQ(kGroupPrefix[0b1101].length, 5);
    EXPECT_EQ(kGroupPrefix[0b1111].bits, 3);
}

TEST(Trv2Encoder, AGreyMacroblockIsTwelveBytes) {
    const auto frame = flatFrame(16, 16, 128);
    for (SimdLevel level : {SimdLevel::Scalar, SimdLevel::Sse2, SimdLevel::Avx2}) {
        if (detectSimdLevel() < level)
            continue;
        const auto out = encode(frame, 16, 16, 5, kernelFor(level));
        EXPECT_EQ(out, (std::vector<uint8_t>{0x00, 0x28, 0x00, 0x0a, 0x80, 0x02, 0xa0, 0x00, 0x28, 0x00, 0x0a,
                                             0x00}))
            << simdLevelName(level);
    }
}

TEST(Trv2Encoder, TheFlatBlockTransformsToItsScaledMean) {
    int16_t samples[64], out[64];
    std::fill(samples, samples + 64, 200);
    forwardDct(samples, out);
    EXPECT_EQ(out[0], 128 * 200);
    for (int i = 1; i < 64; ++i)
        EXPECT_EQ(out[i], 0) << i;
}

TEST(Trv2Encoder, SingleCoefficientBlocksCodeAsDerivedByHand) {
    uint8_t scan[64] = {};
    uint8_t out[128] = {};
    scan[0] = 100;
    scan[1] = 5;
    // n = 0 (4 bits), DC 100 (8), only position 1 non-zero: prefix 5 (3), then +5: 0x0C (6).
    EXPECT_EQ(codeBlockBits(scan, 12, out), 21u);
    const uint32_t expected = 0 | 100u << 4 | 5u << 12 | 0x0Cu << 15;
    EXPECT_EQ(out[0] | out[1] << 8 | out[2] << 16, static_cast<int>(expected));

    // One value in group 2: n = 2, group 1 empty (00), group 2 with only position 3 non-zero
    // (positions 0..2 zero: 55 in 6 bits) and -1 (11).
    std::fill(std::begin(scan), std::end(scan), 0);
    std::fill(std::begin(out), std::end(out), 0);
    scan[0] = 7;
    scan[11] = static_cast<uint8_t>(-1);
    EXPECT_EQ(codeBlockBits(scan, 12, out), 4u + 8 + 2 + 2 + 6 + 2);
    const uint32_t expected2 = 2u | 7u << 4 | 2u << 12 | 0u << 14 | 55u << 16 | 3u << 22;
    EXPECT_EQ(out[0] | out[1] << 8 | out[2] << 16, static_cast<int>(expected2));

    // A value beyond the last group of the quality is lost: the block codes as n = 0.
    std::fill(std::begin(scan), std::end(scan), 0);
    scan[0] = 7;
    scan[4 * 14] = 9;
    EXPECT_EQ(codeBlockBits(scan, 12, out), 14u);
    // With L = 15: groups 1..13 empty (2 bits each), group 14 with only position 0 (6 in 3 bits)
    // and +9 (8 bits).
    EXPECT_EQ(codeBlockBits(scan, 15, out), 4u + 8 + 2 + 13 * 2 + 3 + 8);
}

TEST(Trv2Encoder, EdgeMacroblocksComeRightColumnThenBottomRowThenCorner) {
    // 40 x 24: two full macroblocks, one on the right edge, two on the bottom, one corner. Each
    // 16 x 16 region gets its own grey so that the DC of its first block tells it apart.
    const int w = 40, h = 24;
    std::vector<uint8_t> frame(static_cast<size_t>(w) * h * 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            frame[(static_cast<size_t>(y) * w + x) * 2] = 128;
            frame[(static_cast<size_t>(y) * w + x) * 2 + 1] =
                static_cast<uint8_t>(20 + 40 * (x / 16) + 100 * (y / 16));
        }
    const auto out = encode(frame, w, h, 5);
    // Flat blocks are 14 bits, six to a macroblock; the padding is black and neutral.
    ASSERT_EQ(out.size(), (6 * 84 + 31) / 32 * 4u);
    std::vector<uint32_t> firstDc, secondDc;
    for (int mb = 0; mb < 6; ++mb) {
        firstDc.push_back(bitsAt(out, static_cast<size_t>(mb) * 84 + 4, 8));
        secondDc.push_back(bitsAt(out, static_cast<size_t>(mb) * 84 + 14 + 4, 8));
    }
    EXPECT_EQ(firstDc, (std::vector<uint32_t>{20, 60, 100, 120, 160, 200}));
    EXPECT_EQ(secondDc, (std::vector<uint32_t>{20, 60, 0, 120, 160, 0})); // right halves are padding
    EXPECT_EQ(bitsAt(out, 2 * 84 + 4 * 14 + 4, 8), 128u);                 // chroma stays neutral

    // A picture smaller than one macroblock is the corner alone (black, like its padding).
    EXPECT_EQ(encode(flatFrame(8, 6, 0), 8, 6, 5).size(), 12u);
}

TEST(Trv2Encoder, SimdKernelsGiveTheScalarBitstream) {
    std::mt19937 rng(42);
    const std::vector<std::pair<int, int>> sizes = {{2, 1},   {8, 8},   {14, 3},  {16, 16},  {18, 7},
                                                    {30, 17}, {48, 32}, {66, 50}, {320, 240}};
    std::vector<SimdLevel> levels;
    for (SimdLevel l : {SimdLevel::Sse2, SimdLevel::Avx2})
        if (detectSimdLevel() >= l)
            levels.push_back(l);
    for (const auto& [w, h] : sizes)
        for (int quality : {0, 5, 9, 10}) {
            const auto noisy = randomFrame(rng, w, h);
            const auto smooth = smoothFrame(w, h);
            for (const auto* frame : {&noisy, &smooth}) {
                const auto expected = encode(*frame, w, h, quality);
                for (SimdLevel l : levels)
                    ASSERT_EQ(encode(*frame, w, h, quality, kernelFor(l)), expected)
                        << simdLevelName(l) << " " << w << "x" << h << " level " << quality;
            }
        }
}

TEST(Trv2Encoder, VectorCodersWriteTheBitsOfTheTableDrivenOne) {
    // Scan buffers as no picture may give them but any byte can: every value, the edges of each
    // code length (1, 2, 3, 4, 7, 8, 15, 16, 31, 32, 127, -128), runs of zeros and full groups.
    std::mt19937 rng(7);
    const int8_t edges[] = {1,  -1,  2,  -2,  3,  -3,  4,  -4,  7,   -7,   8,   -8,
                            15, -15, 16, -16, 31, -31, 32, -32, 127, -127, -128};
    std::vector<CoderFunction> coders;
    if (detectSimdLevel() >= SimdLevel::Sse2)
        coders.push_back(codeMacroblockSse2);
    if (detectSimdLevel() >= SimdLevel::Avx2)
        coders.push_back(codeMacroblockAvx2);
    for (int round = 0; round < 3000; ++round) {
        uint8_t scans[6][64];
        const int density = round % 5;
        for (auto& scan : scans)
            for (uint8_t& b : scan) {
                const unsigned pick = rng() % 8;
                b = pick < static_cast<unsigned>(density) ? 0
                    : pick == 7                           ? static_cast<uint8_t>(rng())
                                : static_cast<uint8_t>(edges[rng() % std::size(edges)]);
            }
        for (int lastGroup : {9, 12, 15}) {
            // Start mid-byte, as a macroblock after another does.
            const unsigned lead = static_cast<unsigned>(rng() % 57);
            const uint64_t leadBits =
                lead == 0 ? 0 : (uint64_t(rng()) << 32 | rng()) & ((uint64_t(1) << lead) - 1);
            std::vector<uint8_t> expected(1024, 0), got(1024);
            BitWriter reference(expected.data());
            reference.put(leadBits, lead);
            codeMacroblockScalar(scans, lastGroup, reference);
            reference.finish();
            for (CoderFunction coder : coders) {
                std::fill(got.begin(), got.end(), 0xAA);
                BitWriter writer(got.data());
                writer.put(leadBits, lead);
                coder(scans, lastGroup, writer);
                writer.finish();
                ASSERT_EQ(writer.bits(), reference.bits()) << "round " << round << " group " << lastGroup;
                ASSERT_TRUE(
                    std::equal(got.begin(), got.begin() + static_cast<long>(writer.size()), expected.begin()))
                    << "round " << round << " group " << lastGroup;
            }
        }
    }
}

TEST(Trv2Encoder, TheBitWriterPacksFieldsLeastSignificantBitFirst) {
    std::mt19937 rng(3);
    std::vector<uint8_t> out(4096, 0xEE);
    std::vector<bool> bits;
    BitWriter writer(out.data());
    for (int i = 0; i < 500; ++i) {
        const unsigned length = rng() % 57;
        const uint64_t value =
            length == 0 ? 0 : (uint64_t(rng()) << 32 | rng()) & ((uint64_t(1) << length) - 1);
        writer.put(value, length);
        for (unsigned k = 0; k < length; ++k)
            bits.push_back((value >> k) & 1);
    }
    writer.finish();
    ASSERT_EQ(writer.bits(), bits.size());
    ASSERT_EQ(writer.size() % 4, 0u);
    for (size_t i = 0; i < writer.size() * 8; ++i) {
        const bool expected = i < bits.size() && bits[i];
        ASSERT_EQ(bool((out[i / 8] >> (i % 8)) & 1), expected) << "bit " << i;
    }
}

TEST(Trv2Codec, RoundTripsWithinEachLevelsQualityFloor) {
    const int w = 320, h = 240;
    const auto frame = smoothFrame(w, h);
    std::vector<uint8_t> decoded(frame.size());
    const std::pair<int, double> floors[] = {{0, 30.0}, {3, 32.0}, {5, 32.0}, {9, 36.0}};
    double previous = 0;
    for (const auto& [level, floor] : floors) {
        const auto out = encode(frame, w, h, level);
        ASSERT_TRUE(DecodeFrame(out.data(), out.size(), w, h,
                                packQuality(kQualityTable[static_cast<size_t>(level)]), decoded.data()));
        const double psnr = lumaPsnr(frame, decoded);
        EXPECT_GE(psnr, floor) << "level " << level;
        EXPECT_GE(psnr, previous - 0.5) << "level " << level; // finer levels are no worse
        previous = psnr;
    }
    // The edges decode too.
    const auto odd = smoothFrame(50, 38);
    std::vector<uint8_t> oddDecoded(odd.size());
    const auto out = encode(odd, 50, 38, 5);
    ASSERT_TRUE(DecodeFrame(out.data(), out.size(), 50, 38, 0x340A, oddDecoded.data()));
    EXPECT_GE(lumaPsnr(odd, oddDecoded), 30.0);
}

TEST(Trv2Encoder, NeverWritesPastItsCapacity) {
    std::mt19937 rng(9);
    const int w = 64, h = 48;
    const auto noise = randomFrame(rng, w, h);
    const auto params = makeQualityParameters(65, 115); // level 10: the largest codes
    const size_t full = encode(noise, w, h, 10).size();
    for (size_t capacity : {full + 8, full / 2, size_t(w * h * 2), size_t(1000), size_t(64), size_t(8)}) {
        std::vector<uint8_t> out(capacity + 64, 0xEE);
        const size_t n = encodeFrameWith(noise.data(), w, h, out.data(), capacity, params, macroblockScalar);
        EXPECT_LE(n, capacity);
        for (size_t i = capacity; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xEE) << "capacity " << capacity;
        if (n > 0) {
            // A frame coded with fewer groups still decodes with the same parameters.
            std::vector<uint8_t> decoded(noise.size());
            EXPECT_TRUE(DecodeFrame(out.data(), n, w, h, 0x7341, decoded.data())) << capacity;
        }
    }
    // Room for the frame and one worst-case macroblock more: the frame is coded whole.
    std::vector<uint8_t> roomy(full + 1024);
    EXPECT_EQ(encodeFrameWith(noise.data(), w, h, roomy.data(), roomy.size(), params, macroblockScalar),
              full);
}

TEST(Trv2Encoder, AFrameWhoseCodeFitsIsCodedWhole) {
    std::mt19937 rng(21);
    const auto params = makeQualityParameters(24, 64); // level 9
    for (int w : {2, 4, 8, 14, 16, 18, 32, 48})
        for (int h : {1, 4, 8, 16, 17, 32}) {
            const auto noise = randomFrame(rng, w, h);
            const auto whole = encode(noise, w, h, 9);
            const size_t plain = static_cast<size_t>(w) * h * 2;
            for (size_t capacity : {whole.size(), whole.size() + 4, whole.size() + 12, plain}) {
                if (capacity < whole.size())
                    continue;
                std::vector<uint8_t> out(capacity + 32, 0xEE);
                ASSERT_EQ(encodeFrameWith(noise.data(), w, h, out.data(), capacity, params, macroblockScalar),
                          whole.size())
                    << w << "x" << h << " in " << capacity;
                EXPECT_TRUE(std::equal(whole.begin(), whole.end(), out.begin())) << w << "x" << h;
                for (size_t i = capacity; i < out.size(); ++i)
                    ASSERT_EQ(out[i], 0xEE) << w << "x" << h << " in " << capacity;
            }
        }
}

TEST(Trv2Decoder, AnyBytesAreSafe) {
    std::mt19937 rng(3);
    std::vector<uint8_t> picture(48 * 40 * 2);
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> junk(rng() % 600);
        for (auto& b : junk)
            b = static_cast<uint8_t>(rng());
        DecodeFrame(junk.data(), junk.size(), 48, 40, rng(), picture.data());
    }
    EXPECT_FALSE(DecodeFrame(nullptr, 0, 48, 40, 0x340A, picture.data()));
    EXPECT_FALSE(DecodeFrame(picture.data(), 4, 47, 40, 0x340A, picture.data()));
    // A cut-off frame fails, with the part before the cut decoded.
    const auto grey = flatFrame(32, 16, 90);
    const auto out = encode(grey, 32, 16, 5);
    std::vector<uint8_t> decoded(grey.size());
    EXPECT_FALSE(DecodeFrame(out.data(), 8, 32, 16, 0x340A, decoded.data()));
    EXPECT_EQ(decoded[1], 90);
}

} // namespace
