#pragma once

// The outline of a skin window from a palette bitmap: every pixel that is not the transparent
// colour (white, or else the last colour of the palette) belongs to the window, and the polygon
// that runs around those pixels becomes its shape. Skin folders are anyone's to edit, so any
// bytes must give either a polygon or a code saying why not.

#include <cstdint>
#include <string>
#include <vector>

namespace gardivo {

struct OutlinePoint {
    int x = 0;
    int y = 0;
    bool operator==(const OutlinePoint&) const = default;
};

struct Outline {
    // 0 traced; 1 cannot be opened; 2 not a bitmap; 3 compressed, or a kind of bitmap that is not
    // traced (only 1, 4 and 8 bits a pixel are); 4 pixel data inside the headers; 5 cut short;
    // 6 too large to hold.
    int code = 0;
    int width = 0;
    int height = 0;
    std::vector<OutlinePoint> polygon;
};

class OutlineTracer {
public:
    static constexpr int kMaxSide = 16384;

    static Outline traceFile(const std::string& path);
    static Outline traceBytes(const uint8_t* data, size_t size);

    // The steps after the pixels are read, for the tests: a mask of width x height (row by row,
    // top first, 1 for the window), traced and thinned.
    static std::vector<OutlinePoint> traceMask(std::vector<uint8_t> mask, int width, int height);
    static void thin(std::vector<OutlinePoint>& polygon);
};

} // namespace gardivo
