#pragma once

// Hand-made palette bitmaps for the outline tracer: bottom-up rows padded to 4 bytes, pixels
// packed 1, 4 or 8 to the byte, as skin pictures are stored.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace gardivo::testing {

struct PaletteBitmap {
    int width = 0;
    int height = 0;
    int bits = 8;
    // 40 for the plain header; 108 and 124 (the V4 and V5 headers) are what ImageMagick and GIMP
    // write by default.
    uint32_t headerSize = 40;
    std::vector<uint32_t> palette; // 0xRRGGBB
    std::function<int(int x, int y)> index = [](int, int) { return 0; };
    // Shapes from text: one string per row, top first; '#' is colour 0, anything else colour 1.
    static PaletteBitmap fromRows(const std::vector<std::string>& rows, std::vector<uint32_t> palette,
                                  int bits = 8) {
        PaletteBitmap b;
        b.width = static_cast<int>(rows.front().size());
        b.height = static_cast<int>(rows.size());
        b.bits = bits;
        b.palette = std::move(palette);
        b.index = [rows](int x, int y) {
            return rows[static_cast<size_t>(y)][static_cast<size_t>(x)] == '#' ? 0 : 1;
        };
        return b;
    }

    std::vector<uint8_t> bytes() const {
        const size_t stride = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
        const size_t paletteBytes = palette.size() * 4;
        const size_t paletteAt = 14 + headerSize;
        const uint32_t offset = static_cast<uint32_t>(paletteAt + paletteBytes);
        std::vector<uint8_t> out(offset + stride * static_cast<size_t>(height), 0);
        const auto put16 = [&](size_t at, uint32_t v) {
            out[at] = static_cast<uint8_t>(v);
            out[at + 1] = static_cast<uint8_t>(v >> 8);
        };
        const auto put32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i)
                out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
        };
        out[0] = 'B';
        out[1] = 'M';
        put32(2, static_cast<uint32_t>(out.size()));
        put32(10, offset);
        put32(14, headerSize);
        put32(18, static_cast<uint32_t>(width));
        put32(22, static_cast<uint32_t>(height));
        put16(26, 1);
        put16(28, static_cast<uint32_t>(bits));
        put32(30, 0);
        put32(46, static_cast<uint32_t>(palette.size()));
        for (size_t i = 0; i < palette.size(); ++i) {
            out[paletteAt + i * 4] = static_cast<uint8_t>(palette[i]);           // blue
            out[paletteAt + i * 4 + 1] = static_cast<uint8_t>(palette[i] >> 8);  // green
            out[paletteAt + i * 4 + 2] = static_cast<uint8_t>(palette[i] >> 16); // red
        }
        for (int y = 0; y < height; ++y) {
            uint8_t* row = out.data() + offset + static_cast<size_t>(height - 1 - y) * stride;
            for (int x = 0; x < width; ++x) {
                const size_t bit = static_cast<size_t>(x) * bits;
                row[bit / 8] |=
                    static_cast<uint8_t>((index(x, y) & ((1 << bits) - 1)) << (8 - bits - bit % 8));
            }
        }
        return out;
    }
};

} // namespace gardivo::testing
