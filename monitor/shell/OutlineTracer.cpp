#include "OutlineTracer.h"

#include <array>
#include <fstream>
#include <iterator>
#include <limits>
#include <new>

namespace gardivo {

namespace {

uint32_t le16(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

Outline failed(int code) {
    Outline o;
    o.code = code;
    return o;
}

// The three pixels tried from each heading, in order.
constexpr std::array<std::array<std::array<int, 2>, 3>, 4> kCandidates = {{
    {{{1, -1}, {1, 0}, {1, 1}}},    // h = 0
    {{{-1, -1}, {0, -1}, {1, -1}}}, // h = 2
    {{{-1, 1}, {-1, 0}, {-1, -1}}}, // h = 4
    {{{1, 1}, {0, 1}, {-1, 1}}},    // h = 6
}};

// The ratio dx / dy, infinite (with dx's sign) when dy is 0.
float ratio(int dx, int dy) {
    if (dy == 0)
        return dx >= 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    return static_cast<float>(dx) / static_cast<float>(dy);
}

} // namespace

std::vector<OutlinePoint> OutlineTracer::traceMask(std::vector<uint8_t> mask, int width, int height) {
    const auto at = [&](int x, int y) -> uint8_t& { return mask[static_cast<size_t>(y) * width + x]; };
    const auto set = [&](int x, int y) { return x >= 0 && y >= 0 && x < width && y < height && at(x, y); };

    // Only the boundary stays: a pixel on the picture's edge, or with a clear neighbour.
    std::vector<uint8_t> boundary(mask.size(), 0);
    size_t remaining = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (!at(x, y))
                continue;
            const bool edge = x == 0 || y == 0 || x == width - 1 || y == height - 1;
            if (edge || !at(x - 1, y) || !at(x + 1, y) || !at(x, y - 1) || !at(x, y + 1)) {
                boundary[static_cast<size_t>(y) * width + x] = 1;
                ++remaining;
            }
        }
    mask.swap(boundary);

    std::vector<OutlinePoint> polygon;
    size_t scan = 0; // the first pixel that may still be set, in row order
    while (remaining > 0) {
        while (scan < mask.size() && !mask[scan])
            ++scan;
        if (scan >= mask.size())
            break;
        const OutlinePoint start{static_cast<int>(scan % width), static_cast<int>(scan / width)};
        bool lonely = true;
        for (int dy = -1; dy <= 1 && lonely; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if ((dx || dy) && set(start.x + dx, start.y + dy)) {
                    lonely = false;
                    break;
                }
        if (lonely) {
            at(start.x, start.y) = 0;
            --remaining;
            continue;
        }
        const size_t outlineStart = polygon.size();
        polygon.push_back(start);
        // Walk the outline back to the start; a walk that could not close (a shape the rule
        // circles without end) stops after as many steps as the outline could ever have.
        OutlinePoint p = start;
        int h = 2;
        const size_t limit = 8 * remaining + 16;
        for (size_t steps = 0; steps < limit; ++steps) {
            bool moved = false;
            for (int turn = 0; turn < 4 && !moved; ++turn) {
                const auto& candidates = kCandidates[static_cast<size_t>(h / 2)];
                for (size_t c = 0; c < 3; ++c) {
                    const int nx = p.x + candidates[c][0], ny = p.y + candidates[c][1];
                    if (!set(nx, ny))
                        continue;
                    p = {nx, ny};
                    polygon.push_back(p);
                    if (c == 0)
                        h = (h + 2) % 8;
                    moved = true;
                    break;
                }
                if (!moved)
                    h = (h + 6) % 8;
            }
            if (!moved || p == start)
                break;
        }
        // Outlines are joined through the picture's top-left corner. The pixels of the outlines
        // before this one are clear already.
        polygon.push_back({0, 0});
        for (size_t i = outlineStart; i < polygon.size(); ++i)
            if (const OutlinePoint& q = polygon[i];
                q.x >= 0 && q.y >= 0 && q.x < width && q.y < height && at(q.x, q.y)) {
                at(q.x, q.y) = 0;
                --remaining;
            }
    }
    thin(polygon);
    return polygon;
}

void OutlineTracer::thin(std::vector<OutlinePoint>& polygon) {
    for (bool removed = true; removed;) {
        removed = false;
        std::vector<OutlinePoint> kept;
        kept.reserve(polygon.size());
        for (size_t i = 0; i < polygon.size(); ++i) {
            if (i == 0 || i + 1 == polygon.size()) {
                kept.push_back(polygon[i]);
                continue;
            }
            const OutlinePoint& prev = kept.back();
            const OutlinePoint& point = polygon[i];
            const OutlinePoint& next = polygon[i + 1];
            const bool repeats = point == prev || point == next;
            const bool straight =
                ratio(prev.x - point.x, prev.y - point.y) == ratio(point.x - next.x, point.y - next.y);
            if (repeats || straight) {
                removed = true;
                continue;
            }
            kept.push_back(point);
        }
        polygon.swap(kept);
    }
}

Outline OutlineTracer::traceBytes(const uint8_t* data, size_t size) {
    if (size < 54)
        return failed(5);
    if (data[0] != 'B' || data[1] != 'M')
        return failed(2);
    const uint32_t offset = le32(data + 10);
    const int32_t width = static_cast<int32_t>(le32(data + 18));
    const int32_t height = static_cast<int32_t>(le32(data + 22));
    const uint32_t bits = le16(data + 28);
    const uint32_t compression = le32(data + 30);
    const uint32_t colours = le32(data + 46);
    // The palette follows the info header, whose size is the header's own: 40 bytes in the plain
    // one, 108 or 124 in the V4 and V5 headers that ImageMagick and GIMP write. The small OS/2
    // header has another layout altogether.
    const uint32_t headerSize = le32(data + 14);
    if (headerSize < 40)
        return failed(3);
    if (size_t(headerSize) > size - 14)
        return failed(5);
    const size_t paletteStart = 14 + size_t(headerSize);
    if (compression != 0)
        return failed(3);
    // Palette pictures only, of a sane size: a top-down picture (negative height) or a colour
    // count beyond what the bits can address is no picture to trust.
    if ((bits != 1 && bits != 4 && bits != 8) || width <= 0 || height <= 0 || width > kMaxSide ||
        height > kMaxSide || colours > (1u << bits))
        return failed(3);
    const uint32_t entries = colours ? colours : (1u << bits);
    const size_t paletteEnd = paletteStart + size_t(entries) * 4;
    if (size < paletteEnd)
        return failed(5);
    size_t transparent = entries - 1;
    for (size_t i = 0; i < entries; ++i) {
        const uint8_t* e = data + paletteStart + i * 4;
        if (e[0] == 255 && e[1] == 255 && e[2] == 255) {
            transparent = i;
            break;
        }
    }
    if (offset < paletteEnd)
        return failed(4);
    const size_t stride = (size_t(width) * bits + 31) / 32 * 4;
    if (offset > size || (size - offset) / stride < size_t(height))
        return failed(5);
    Outline outline;
    outline.width = width;
    outline.height = height;
    std::vector<uint8_t> mask;
    try {
        mask.assign(size_t(width) * size_t(height), 0);
    } catch (const std::bad_alloc&) {
        return failed(6);
    }
    for (int row = 0; row < height; ++row) {
        const uint8_t* line = data + offset + size_t(row) * stride;
        const int y = height - 1 - row; // bottom-up rows
        for (int x = 0; x < width; ++x) {
            const size_t bit = size_t(x) * bits;
            const uint32_t index = (line[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
            mask[size_t(y) * width + x] = index != transparent;
        }
    }
    outline.polygon = traceMask(std::move(mask), width, height);
    return outline;
}

Outline OutlineTracer::traceFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return failed(1);
    std::vector<uint8_t> bytes;
    try {
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    } catch (const std::bad_alloc&) {
        return failed(6);
    }
    return traceBytes(bytes.data(), bytes.size());
}

} // namespace gardivo
