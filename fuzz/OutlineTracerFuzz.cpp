// Fuzz target for the outline tracer: the pictures a skin shapes its windows with come from
// folders anyone may edit. Any bytes give a code; a traced outline stays inside the picture.

#include "monitor/shell/OutlineTracer.h"
#include "monitor/shell/tests/PaletteBitmap.h"

#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const gardivo::Outline outline = gardivo::OutlineTracer::traceBytes(data, size);
    if (outline.code < 0 || outline.code > 6)
        std::abort();
    if (outline.code != 0 && !outline.polygon.empty())
        std::abort();
    for (const auto& p : outline.polygon)
        if (p.x < 0 || p.y < 0 || p.x >= outline.width || p.y >= outline.height)
            std::abort();
    return 0;
}

std::vector<std::string> fuzzSeeds() {
    using gardivo::testing::PaletteBitmap;
    std::vector<std::string> seeds;
    const auto add = [&](const PaletteBitmap& b) {
        const auto bytes = b.bytes();
        seeds.emplace_back(bytes.begin(), bytes.end());
    };
    add(PaletteBitmap::fromRows({"..........", ".###...##.", ".#.#...##.", ".###......"}, {0, 0xFFFFFF}, 1));
    add(PaletteBitmap::fromRows({"#.#.#", ".#.#.", "#.#.#", ".#.#."}, {0xFFFFFF, 0xFF0000}, 4));
    PaletteBitmap ring;
    ring.width = 40;
    ring.height = 30;
    ring.palette = {0xFFFFFF, 0x123456, 0x000000};
    ring.index = [](int x, int y) {
        const int dx = x - 20, dy = y - 15;
        const int r = dx * dx + dy * dy;
        return r < 144 && r > 36 ? 1 : (x + y) % 7 == 0 ? 2 : 0;
    };
    add(ring);
    return seeds;
}
