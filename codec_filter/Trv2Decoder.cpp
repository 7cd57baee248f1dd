#include "Trv2Decoder.h"

#include "Trv2Tables.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace gardivo::trv2 {

namespace {

class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : m_data(data), m_bits(size * 8) {}
    // false once the data is exhausted; the value is then 0.
    bool read(unsigned length, uint32_t& value) {
        value = 0;
        if (m_pos + length > m_bits)
            return false;
        for (unsigned i = 0; i < length; ++i, ++m_pos)
            value |= uint32_t((m_data[m_pos >> 3] >> (m_pos & 7)) & 1u) << i;
        return true;
    }

private:
    const uint8_t* m_data;
    size_t m_bits;
    size_t m_pos = 0;
};

template <size_t N>
bool readPrefix(BitReader& in, const std::array<Code, N>& table, unsigned& mask) {
    uint32_t value = 0;
    for (unsigned length = 1; length <= 6; ++length) {
        uint32_t bit;
        if (!in.read(1, bit))
            return false;
        value |= bit << (length - 1);
        for (size_t m = 0; m < N; ++m) {
            if (table[m].length == length && table[m].bits == value) {
                mask = static_cast<unsigned>(m);
                return true;
            }
        }
    }
    return false;
}

bool readValue(BitReader& in, int8_t& c) {
    unsigned zeros = 0;
    uint32_t bit = 0;
    while (zeros < 5) {
        if (!in.read(1, bit))
            return false;
        if (bit)
            break;
        ++zeros;
    }
    if (zeros == 5) {
        uint32_t byte;
        if (!in.read(8, byte))
            return false;
        c = static_cast<int8_t>(byte);
        return true;
    }
    uint32_t rest = 0, sign = 0;
    if (!in.read(zeros, rest) || !in.read(1, sign))
        return false;
    const int magnitude = (1 << zeros) + static_cast<int>(rest);
    c = static_cast<int8_t>(sign ? -magnitude : magnitude);
    return true;
}

// Reads one block's coefficients, by scan position back to index 8u + v.
bool readBlock(BitReader& in, int coefficients[64]) {
    std::fill(coefficients, coefficients + 64, 0);
    uint32_t n, dc;
    if (!in.read(4, n) || !in.read(8, dc))
        return false;
    coefficients[0] = static_cast<int>(dc);
    unsigned mask;
    if (!readPrefix(in, kFirstGroupPrefix, mask))
        return false;
    for (int k = 1; k < 4; ++k) {
        if (!(mask & (1u << (k - 1))))
            continue;
        int8_t c;
        if (!readValue(in, c))
            return false;
        coefficients[kScanGroups[0][static_cast<size_t>(k)]] = c;
    }
    for (uint32_t g = 1; g <= n; ++g) {
        if (!readPrefix(in, kGroupPrefix, mask))
            return false;
        for (int k = 0; k < 4; ++k) {
            if (!(mask & (1u << k)))
                continue;
            int8_t c;
            if (!readValue(in, c))
                return false;
            const int at = kScanGroups[g][static_cast<size_t>(k)];
            if (at >= 0)
                coefficients[at] = c;
        }
    }
    return true;
}

struct InverseTransform {
    double basis[8][8]; // basis[x][u] = C(u)/2 * cos((2x + 1) u pi / 16)
    InverseTransform() {
        for (int x = 0; x < 8; ++x)
            for (int u = 0; u < 8; ++u)
                basis[x][u] = (u == 0 ? std::sqrt(0.5) : 1.0) / 2.0 * std::cos((2 * x + 1) * u * M_PI / 16.0);
    }
};

// Dequantises and inverse-transforms one block into 8 x 8 samples (row-major, y then x).
void reconstruct(const int coefficients[64], int scale, uint8_t samples[64]) {
    static const InverseTransform t;
    double F[8][8]; // [u][v], the orthonormal DCT
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
            const int q = coefficients[8 * u + v];
            F[u][v] = (u == 0 && v == 0) ? 8.0 * q : q * 8.0 * quantiser(u, v) / scale;
        }
    double rows[8][8]; // [v][x]
    for (int v = 0; v < 8; ++v)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int u = 0; u < 8; ++u)
                s += t.basis[x][u] * F[u][v];
            rows[v][x] = s;
        }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int v = 0; v < 8; ++v)
                s += t.basis[y][v] * rows[v][x];
            samples[8 * y + x] = static_cast<uint8_t>(std::clamp(std::lround(s), 0L, 255L));
        }
}

// One macroblock into a 16 x 16 UYVY area (32 bytes a row).
bool decodeMacroblock(BitReader& in, int scale, uint8_t area[16 * 32]) {
    int coefficients[64];
    uint8_t samples[64];
    bool ok = true;
    for (int b = 0; b < 6 && ok; ++b) {
        ok = readBlock(in, coefficients);
        if (!ok)
            std::fill(coefficients, coefficients + 64, 0);
        reconstruct(coefficients, scale, samples);
        if (b < 4) {
            const int ox = 8 * (b % 2), oy = 8 * (b / 2);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    area[32 * (oy + y) + 2 * (ox + x) + 1] = samples[8 * y + x];
        } else {
            const int offset = b == 4 ? 0 : 2;
            for (int i = 0; i < 8; ++i)
                for (int j = 0; j < 8; ++j) {
                    area[32 * (2 * i) + 4 * j + offset] = samples[8 * i + j];
                    area[32 * (2 * i + 1) + 4 * j + offset] = samples[8 * i + j];
                }
        }
    }
    return ok;
}

} // namespace

size_t minimumFrameBytes(int width, int height) {
    if (width <= 0 || height <= 0)
        return 0;
    const size_t macroblocks =
        static_cast<size_t>((width + 15) / 16) * static_cast<size_t>((height + 15) / 16);
    return (macroblocks * 6 * 14 + 31) / 32 * 4;
}

bool DecodeFrame(const uint8_t* data, size_t size, int width, int height, uint32_t packedQuality,
                 uint8_t* uyvy) {
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide || width % 2 != 0 ||
        !uyvy || (!data && size > 0))
        return false;
    const size_t stride = static_cast<size_t>(width) * 2;
    for (size_t i = 0; i < stride * static_cast<size_t>(height); i += 2) {
        uyvy[i] = 0x80;
        uyvy[i + 1] = 0;
    }
    const int scale = (packedQuality & 0xFF) ? static_cast<int>(packedQuality & 0xFF) : 10;
    BitReader in(data, size);
    const int W = width / 16, H = height / 16, rx = width % 16, ry = height % 16;
    uint8_t area[16 * 32];
    // Copies the decoded area to the picture at macroblock (column, row), cut to cols x rows pixels.
    const auto place = [&](int column, int row, int cols, int rows) {
        for (int y = 0; y < rows; ++y)
            std::memcpy(uyvy + (static_cast<size_t>(row) * 16 + y) * stride +
                            static_cast<size_t>(column) * 32,
                        area + 32 * y, static_cast<size_t>(cols) * 2);
    };
    for (int r = 0; r < H; ++r)
        for (int c = 0; c < W; ++c) {
            const bool ok = decodeMacroblock(in, scale, area);
            place(c, r, 16, 16);
            if (!ok)
                return false;
        }
    if (rx > 0)
        for (int r = 0; r < H; ++r) {
            const bool ok = decodeMacroblock(in, scale, area);
            place(W, r, rx, 16);
            if (!ok)
                return false;
        }
    if (ry > 0) {
        for (int c = 0; c < W; ++c) {
            const bool ok = decodeMacroblock(in, scale, area);
            place(c, H, 16, ry);
            if (!ok)
                return false;
        }
        if (rx > 0) {
            const bool ok = decodeMacroblock(in, scale, area);
            place(W, H, rx, ry);
            if (!ok)
                return false;
        }
    }
    return true;
}

} // namespace gardivo::trv2
