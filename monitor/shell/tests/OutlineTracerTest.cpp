#include "monitor/shell/OutlineTracer.h"
#include "PaletteBitmap.h"
#include "platform/tests/TempDir.h"

#include <QPolygon>
#include <QRegion>
#include <gtest/gtest.h>

using namespace gardivo;
using namespace gardivo::testing;

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kRed = 0xFF0000;

Outline trace(const PaletteBitmap& bitmap) {
    const auto bytes = bitmap.bytes();
    return OutlineTracer::traceBytes(bytes.data(), bytes.size());
}

std::vector<OutlinePoint> points(std::initializer_list<std::pair<int, int>> list) {
    std::vector<OutlinePoint> out;
    for (const auto& [x, y] : list)
        out.push_back({x, y});
    return out;
}

// The window region the polygon makes, as the window gets it.
QRegion regionOf(const Outline& outline) {
    QPolygon polygon;
    for (const auto& p : outline.polygon)
        polygon << QPoint(p.x, p.y);
    return QRegion(polygon, Qt::OddEvenFill);
}

} // namespace

TEST(OutlineTracer, TracesARectangleIntoItsFourCornersClosedAtTheStart) {
    // Colour 0 is black (the window), colour 1 white (transparent).
    const auto bitmap = PaletteBitmap::fromRows({"####", "####", "####"}, {kBlack, kWhite});
    const Outline outline = trace(bitmap);
    ASSERT_EQ(outline.code, 0);
    EXPECT_EQ(outline.width, 4);
    EXPECT_EQ(outline.height, 3);
    EXPECT_EQ(outline.polygon, points({{0, 0}, {3, 0}, {3, 2}, {0, 2}, {0, 0}}));
}

TEST(OutlineTracer, TheWhiteEntryIsTransparentWhereverItIsInThePalette) {
    // White first: every non-white pixel belongs to the window.
    const auto whiteFirst =
        PaletteBitmap::fromRows({"......", ".####.", ".####.", ".####.", "......"}, {kWhite, kRed}, 8);
    PaletteBitmap swapped = whiteFirst;
    swapped.index =
        [rows = std::vector<std::string>{"......", ".####.", ".####.", ".####.", "......"}](int x, int y) {
            return rows[static_cast<size_t>(y)][static_cast<size_t>(x)] == '#' ? 1 : 0;
        };
    const Outline outline = trace(swapped);
    ASSERT_EQ(outline.code, 0);
    EXPECT_EQ(outline.polygon, points({{1, 1}, {4, 1}, {4, 3}, {1, 3}, {1, 1}, {0, 0}}));

    // No white at all: the last entry is the transparent one.
    PaletteBitmap noWhite;
    noWhite.width = 6;
    noWhite.height = 5;
    noWhite.bits = 4;
    noWhite.palette = {kRed, 0x00FF00, 0x0000FF, kBlack};
    noWhite.index = [](int x, int y) { return x >= 1 && x <= 4 && y >= 1 && y <= 3 ? 1 : 3; };
    const Outline lastEntry = trace(noWhite);
    ASSERT_EQ(lastEntry.code, 0);
    EXPECT_EQ(lastEntry.polygon, outline.polygon);
}

TEST(OutlineTracer, ThePaletteIsReadAfterHeadersOfEverySize) {
    // White second in the palette; read at a fixed place after a larger header, the first
    // bytes of the header's own fields would be taken for colours and the shape lost.
    for (uint32_t headerSize : {40u, 108u, 124u}) {
        auto bitmap = PaletteBitmap::fromRows({"######", "#....#", "#....#", "######"}, {kRed, kWhite}, 8);
        bitmap.headerSize = headerSize;
        const Outline outline = trace(bitmap);
        ASSERT_EQ(outline.code, 0) << headerSize;
        EXPECT_EQ(outline.polygon, points({{0, 0}, {5, 0}, {5, 3}, {0, 3}, {0, 0}})) << headerSize;
        auto hole = bitmap;
        hole.index = [](int x, int y) { return (x >= 1 && x <= 4 && y >= 1 && y <= 2) ? 0 : 1; };
        EXPECT_EQ(trace(hole).polygon, points({{1, 1}, {4, 1}, {4, 2}, {1, 2}, {1, 1}, {0, 0}}))
            << headerSize;
    }
    // A header size the file cannot hold, or the small OS/2 header: refused.
    auto bitmap = PaletteBitmap::fromRows({"##", "##"}, {kRed, kWhite}, 8);
    auto bytes = bitmap.bytes();
    bytes[14] = 0xF0;
    bytes[15] = 0xFF;
    EXPECT_EQ(OutlineTracer::traceBytes(bytes.data(), bytes.size()).code, 5);
    bytes = bitmap.bytes();
    bytes[14] = 12;
    EXPECT_EQ(OutlineTracer::traceBytes(bytes.data(), bytes.size()).code, 3);
}

TEST(OutlineTracer, SeveralShapesAreJoinedThroughTheTopLeftCorner) {
    const auto bitmap = PaletteBitmap::fromRows({"..........", ".###...##.", ".###...##.", ".###......"},
                                                {kBlack, kWhite}, 1);
    // Colour 0 ('#') is black, the window; '.' is white.
    const Outline outline = trace(bitmap);
    ASSERT_EQ(outline.code, 0);
    // Both outlines end in the corner that joins them.
    ASSERT_GE(outline.polygon.size(), 8u);
    EXPECT_EQ(std::count(outline.polygon.begin(), outline.polygon.end(), OutlinePoint{0, 0}), 2);
    const QRegion region = regionOf(outline);
    EXPECT_TRUE(region.contains(QPoint(2, 2)));  // inside the first shape
    EXPECT_TRUE(region.contains(QPoint(7, 1)));  // inside the second
    EXPECT_FALSE(region.contains(QPoint(5, 2))); // the gap between them
}

TEST(OutlineTracer, APixelWithoutNeighboursIsNoShape) {
    const auto bitmap =
        PaletteBitmap::fromRows({".....", ".....", "..#..", ".....", "....."}, {kBlack, kWhite});
    const Outline outline = trace(bitmap);
    ASSERT_EQ(outline.code, 0);
    EXPECT_TRUE(outline.polygon.empty());
}

TEST(OutlineTracer, ReadsPackedPixelsAcrossPaddedRows) {
    // 9 pixels a row at 1 and 4 bits cross byte boundaries and need row padding.
    const std::vector<std::string> rows{".........", ".#######.", ".#######.", ".###.....", ".###....."};
    for (const int bits : {1, 4, 8}) {
        const Outline outline = trace(PaletteBitmap::fromRows(rows, {kBlack, kWhite}, bits));
        ASSERT_EQ(outline.code, 0) << bits;
        const QRegion region = regionOf(outline);
        EXPECT_TRUE(region.contains(QPoint(5, 1))) << bits;
        EXPECT_TRUE(region.contains(QPoint(2, 3))) << bits;
        EXPECT_FALSE(region.contains(QPoint(6, 4))) << bits;
        for (const auto& p : outline.polygon) {
            EXPECT_GE(p.x, 0);
            EXPECT_LT(p.x, 9);
            EXPECT_GE(p.y, 0);
            EXPECT_LT(p.y, 5);
        }
    }
}

TEST(OutlineTracer, ThinningKeepsCornersAndDropsPointsOnAStraightLine) {
    auto polygon = points({{0, 0}, {1, 1}, {2, 2}, {3, 3}, {3, 3}, {3, 1}, {3, 0}, {2, 0}, {0, 0}});
    OutlineTracer::thin(polygon);
    EXPECT_EQ(polygon, points({{0, 0}, {3, 3}, {3, 0}, {0, 0}}));
    // A turn back along the same line is a corner: the ratios' infinities differ in sign.
    auto back = points({{0, 0}, {4, 0}, {2, 0}, {2, 5}});
    OutlineTracer::thin(back);
    EXPECT_EQ(back, points({{0, 0}, {4, 0}, {2, 0}, {2, 5}}));
}

TEST(OutlineTracer, DamagedFilesGiveACodeAndNoShape) {
    TempDir dir;
    EXPECT_EQ(OutlineTracer::traceFile(dir.file("missing.bmp")).code, 1);

    const auto good = PaletteBitmap::fromRows({"###", "###"}, {kBlack, kWhite}).bytes();
    auto damaged = [&](auto change) {
        auto bytes = good;
        change(bytes);
        return OutlineTracer::traceBytes(bytes.data(), bytes.size());
    };
    const auto put32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    EXPECT_EQ(damaged([](auto& b) { b[1] = 'X'; }).code, 2);
    EXPECT_EQ(damaged([&](auto& b) { put32(b, 30, 1); }).code, 3);            // RLE
    EXPECT_EQ(damaged([&](auto& b) { b[28] = 24; }).code, 3);                 // not a palette picture
    EXPECT_EQ(damaged([&](auto& b) { put32(b, 22, uint32_t(-2)); }).code, 3); // top-down
    EXPECT_EQ(damaged([&](auto& b) { put32(b, 18, 100000); }).code, 3);       // absurd width
    EXPECT_EQ(damaged([&](auto& b) { put32(b, 46, 300); }).code, 3);          // more colours than 8 bits hold
    EXPECT_EQ(damaged([&](auto& b) { put32(b, 10, 54); }).code, 4);           // pixels inside the palette
    EXPECT_EQ(damaged([](auto& b) { b.resize(b.size() - 3); }).code, 5);      // pixel rows cut short
    EXPECT_EQ(damaged([](auto& b) { b.resize(40); }).code, 5);                // headers cut short
    EXPECT_EQ(damaged([&](auto& b) { put32(b, 10, 0xFFFFFFF0u); }).code, 5);  // pixels beyond the end
    EXPECT_TRUE(damaged([](auto& b) { b[0] = 0; }).polygon.empty());
    EXPECT_EQ(damaged([](auto&) {}).code, 0);
}
