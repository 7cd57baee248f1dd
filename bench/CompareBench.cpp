// CompareFrames in its worst case, every enabled block scanned to its last pixel, against a plain
// per-pixel loop of the same rule kept here for the comparison.

#include "RatioReport.h"
#include "monitor/engine/DetectionEngine.h"
#include "platform/RecordingReporter.h"
#include "platform/tests/TempDir.h"

#include <cstdlib>
#include <random>

using namespace gardivo;

namespace {

constexpr int kWidth = 640, kHeight = 480;

// The rule written out straight: luma bytes one by one, stop a block once it is decided.
struct ReferenceDetector {
    int columns = kWidth / 16, rows = kHeight / 16;
    uint32_t pixelThreshold = 60, blockThreshold = 22;
    std::vector<int32_t> counter = std::vector<int32_t>(40 * 30, 0);
    uint32_t changed = 0;

    bool compare(const uint8_t* p, const uint8_t* q, uint32_t t) {
        changed = 0;
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c) {
                uint32_t k = 0;
                bool blockChanged = false;
                for (int l = 0; l < 16 && !blockChanged; ++l) {
                    for (int m = 0; m < 16; ++m) {
                        const size_t at = size_t(16 * r + l) * kWidth * 2 + size_t(16 * c + m) * 2 + 1;
                        if (std::abs(p[at] - q[at]) > static_cast<int>(t) && ++k > pixelThreshold) {
                            blockChanged = true;
                            break;
                        }
                    }
                }
                int32_t& n = counter[size_t(r * 40 + c)];
                if (blockChanged) {
                    ++n;
                    ++changed;
                } else if (n > 0) {
                    --n;
                }
            }
        }
        return changed > blockThreshold;
    }
};

// Two frames in which every block has exactly the pixel threshold of moved pixels, the last of
// them at the block's end, and small noise elsewhere: no block is decided before its last line.
struct WorstCase {
    std::vector<uint8_t> p = std::vector<uint8_t>(size_t(kWidth) * kHeight * 2);
    std::vector<uint8_t> q = p;
    WorstCase() {
        std::mt19937 rng(11);
        for (size_t i = 0; i < p.size(); ++i) {
            p[i] = static_cast<uint8_t>(40 + rng() % 150);
            q[i] = static_cast<uint8_t>(p[i] + rng() % 10);
        }
        for (int r = 0; r < kHeight / 16; ++r)
            for (int c = 0; c < kWidth / 16; ++c)
                for (int i = 0; i < 60; ++i) {
                    const int pixel = 255 - i * 4; // spread over the block, the last one at its end
                    const size_t at =
                        size_t(16 * r + pixel / 16) * kWidth * 2 + size_t(16 * c + pixel % 16) * 2 + 1;
                    q[at] = static_cast<uint8_t>(p[at] + 60);
                }
    }
};

struct EngineFixture {
    gardivo::testing::TempDir dir;
    RegistryStore registry{dir.file("registry")};
    RecordingReporter reporter;
    RecordingOverlayCanvas canvas;
    SettingsStore store{ProgramKind::Email, registry, reporter, dir.dir(), dir.path()};
    DetectionEngine engine{store, canvas};
    EngineFixture() {
        engine.SetVideoRect(0, 0, kWidth, kHeight);
        engine.BuildActiveBlockMap();
        engine.ComputeThresholds(); // sensitivity 90: luma 20, pixels 60, blocks 22
    }
};

const WorstCase& frames() {
    static const WorstCase worst;
    return worst;
}

void CompareFramesEngine(benchmark::State& state) {
    EngineFixture f;
    for (auto _ : state)
        benchmark::DoNotOptimize(f.engine.CompareFrames(frames().p.data(), frames().q.data(), 20));
}

void CompareFramesReference(benchmark::State& state) {
    ReferenceDetector ref;
    for (auto _ : state)
        benchmark::DoNotOptimize(ref.compare(frames().p.data(), frames().q.data(), 20));
}

} // namespace

BENCHMARK(CompareFramesEngine);
BENCHMARK(CompareFramesReference);

int main(int argc, char** argv) {
    // Both must reach the same verdict and the same counters before their speed means anything.
    EngineFixture f;
    ReferenceDetector ref;
    bool same = true;
    for (int round = 0; round < 3; ++round) {
        const bool a = f.engine.CompareFrames(frames().p.data(), frames().q.data(), 20);
        const bool b = ref.compare(frames().p.data(), frames().q.data(), 20);
        same &= a == b && f.engine.lastChangedBlocks() == ref.changed;
        for (int r = 0; r < 30; ++r)
            for (int c = 0; c < 40; ++c)
                same &= f.engine.cell(c, r).counter == ref.counter[size_t(r * 40 + c)];
    }
    std::printf("kernel %s; identical counters and result: %s (changed blocks %u)\n",
                simdLevelName(detectSimdLevel()), same ? "yes" : "NO", ref.changed);
    if (!same)
        return 1;
    return gardivo::bench::runAndPrintRatios(argc, argv, {{"CompareFramesEngine", "CompareFramesReference"}});
}
