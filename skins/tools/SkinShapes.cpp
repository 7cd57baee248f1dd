// Writes the palette bitmaps the shipped skins shape their windows with: black is the window,
// white is what the desktop shows through. Run by the build into the program directory's skins.
//   skin_shapes SKINS_DIRECTORY

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

// A 1-bit bitmap, rows bottom-up and padded to 4 bytes; colour 0 black, colour 1 white.
bool writeShape(const std::string& path, int width, int height, const std::function<bool(int, int)>& inside) {
    const size_t stride = (static_cast<size_t>(width) + 31) / 32 * 4;
    const uint32_t offset = 54 + 8;
    std::vector<uint8_t> bytes(offset + stride * static_cast<size_t>(height), 0);
    const auto put16 = [&](size_t at, uint32_t v) {
        bytes[at] = static_cast<uint8_t>(v);
        bytes[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, static_cast<uint32_t>(bytes.size()));
    put32(10, offset);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    put16(26, 1);
    put16(28, 1);
    put32(46, 2);
    // Palette: black, then white.
    bytes[58] = bytes[59] = bytes[60] = 255;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bytes.data() + offset + static_cast<size_t>(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x)
            if (!inside(x, y))
                row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// A rectangle with rounded corners of the given radius.
std::function<bool(int, int)> roundedRectangle(int width, int height, int radius) {
    return [=](int x, int y) {
        const int cx = x < radius ? radius : x >= width - radius ? width - radius - 1 : x;
        const int cy = y < radius ? radius : y >= height - radius ? height - radius - 1 : y;
        const double dx = x - cx, dy = y - cy;
        return dx * dx + dy * dy <= double(radius) * radius;
    };
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: skin_shapes SKINS_DIRECTORY\n");
        return 2;
    }
    const std::string skins = argv[1];
    bool ok = true;
    // default: the video window, 640 x 480 of picture in a rounded frame with a title strip.
    ok &= writeShape(skins + "/default/screen.bmp", 672, 536, roundedRectangle(672, 536, 22));
    ok &= writeShape(skins + "/default/history.bmp", 620, 400, roundedRectangle(620, 400, 12));
    // Compact: a round control panel with a handle on top, and a rounded history window.
    ok &= writeShape(skins + "/Compact/panel.bmp", 300, 330, [](int x, int y) {
        const double dx = x - 149.5, dy = y - 179.5;
        const bool disc = dx * dx + dy * dy <= 150.0 * 150.0;
        const bool handle = y < 44 && x >= 90 && x < 210 && roundedRectangle(120, 60, 14)(x - 90, y);
        return disc || handle;
    });
    ok &= writeShape(skins + "/Compact/history.bmp", 600, 380, roundedRectangle(600, 380, 40));
    if (!ok)
        std::fprintf(stderr, "skin_shapes: cannot write the shapes into %s\n", skins.c_str());
    return ok ? 0 : 1;
}
