// How often a lamp raises an alarm, and how often the figure that comes in after it is seen, by
// sensitivity, with the lighting rule on and off. The Test Pattern's room goes straight to the
// detection engine on a virtual clock, so that many runs take little time.
//
//   bench_lighting [--runs N]     (runs per sensitivity and case; 40 by default)

#include "monitor/capture/PixelConversionLibrary.h"
#include "monitor/capture/testsrc/SceneFrameSource.h"
#include "monitor/engine/DetectionEngine.h"
#include "monitor/engine/Headless.h"
#include "platform/RecordingReporter.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

using namespace gardivo;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr double kNever = 1e6;

struct Bench {
    fs::path dir;
    RegistryStore registry;
    RecordingReporter reporter;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<PixelConversionLibrary> converter;

    explicit Bench(const fs::path& where) : dir(where), registry((where / "registry").string()) {
        fs::create_symlink(GARDIVO_PROGRAM_DIR "/libdeinterlace.so", dir / "libdeinterlace.so");
        store = std::make_unique<SettingsStore>(ProgramKind::Gardivo, registry, reporter, dir.string(),
                                                (dir / "home").string());
        converter = std::make_unique<PixelConversionLibrary>(dir.string());
        setFieldText(store->settings().WorkingDirectory, (dir / "work").string());
    }

    // One watch of the room; the conditions it raised.
    uint32_t run(const TestPatternScene::Timing& timing, int sensitivity, bool rule, double seconds) {
        return run(timing, sensitivity, rule, seconds, width, height);
    }
    int width = 320, height = 240;
    uint32_t run(const TestPatternScene::Timing& timing, int sensitivity, bool rule, double seconds, int w,
                 int h) {
        EvidenceOptions options;
        options.lightingRule = rule;
        store->setEvidenceOptions(options);
        auto& s = store->settings();
        s.Sensitivity = sensitivity;
        s.StopRule = 1;
        s.TracingMode = 0;
        s.ActionFlags = 0;
        VirtualClock clock(1796634000);
        VirtualTimers timers(clock);
        RecordingMessageSink sink;
        RecordingOverlayCanvas canvas;
        DetectionEngine engine(
            *store, canvas,
            EngineServices{&sink, &timers, &clock, nullptr, nullptr, nullptr, converter.get()});
        SceneFrameSource source(clock, timing);
        engine.setFrameSource(&source);
        engine.SetVideoRect(0, 0, w, h);
        engine.StartWatching();
        timers.runFor(engine, std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
        engine.StopWatching(true);
        return engine.conditionCount();
    }
};

} // namespace

int main(int argc, char** argv) {
    int runs = 40;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
    char pattern[] = "/tmp/gardivo-lighting-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    Bench bench(dir);

    // The lamp's strength and the moment it is switched vary from run to run: brighter and darker
    // (a cloud), switched at any point between two looks of the detector.
    const double gains[] = {0.7, 0.8, 1.2, 1.35, 1.6};
    std::printf("Per sensitivity, %d runs of each case (lamp gains 0.7 to 1.6, switched at any moment "
                "between two looks):\n\n",
                runs);
    for (const auto& [w, h] : {std::pair{320, 240}, std::pair{640, 480}}) {
        bench.width = w;
        bench.height = h;
        std::printf("\nPictures of %dx%d:\n\n", w, h);
        std::printf(
            "| sensitivity | lamp alone: false alarms, rule on | rule off | figure 1 s after the lamp: "
            "seen, rule on | rule off | figure with the lamp: seen, rule on | figure alone: seen, rule on "
            "|\n");
        std::printf("|---|---|---|---|---|---|---|\n");
        for (const int sensitivity : {50, 70, 80, 90, 95}) {
            int lampOn = 0, lampOff = 0, afterOn = 0, afterOff = 0, withOn = 0, aloneOn = 0;
            for (int r = 0; r < runs; ++r) {
                const double gain = gains[r % 5];
                const double at = 2.0 + 0.5 * (r / 5) / std::max(1, runs / 5); // spread over half a second
                TestPatternScene::Timing lamp;
                lamp.stillSeconds = kNever;
                lamp.moveSeconds = 1.5;
                lamp.loop = false;
                lamp.lampOnSeconds = at;
                lamp.lampOffSeconds = at + 3.0;
                lamp.lampGain = gain;
                const bool falseAlarm = bench.run(lamp, sensitivity, true, at + 5.0) > 0;
                lampOn += falseAlarm;
                if (falseAlarm && std::getenv("GARDIVO_BENCH_VERBOSE"))
                    std::fprintf(stderr, "false alarm at %dx%d, sensitivity %d, gain %.2f, at %.2f s\n",
                                 bench.width, bench.height, sensitivity, gain, at);
                lampOff += bench.run(lamp, sensitivity, false, at + 5.0) > 0;
                TestPatternScene::Timing after = lamp;
                after.lampOffSeconds = -1;
                after.stillSeconds = at + 1.0;
                afterOn += bench.run(after, sensitivity, true, at + 4.0) > 0;
                afterOff += bench.run(after, sensitivity, false, at + 4.0) > 0;
                TestPatternScene::Timing with = after;
                with.stillSeconds = at;
                withOn += bench.run(with, sensitivity, true, at + 4.0) > 0;
                TestPatternScene::Timing alone = after;
                alone.lampOnSeconds = -1;
                aloneOn += bench.run(alone, sensitivity, true, at + 4.0) > 0;
            }
            const auto pct = [&](int n) { return 100.0 * n / runs; };
            std::printf("| %d | %.0f %% | %.0f %% | %.0f %% | %.0f %% | %.0f %% | %.0f %% |\n", sensitivity,
                        pct(lampOn), pct(lampOff), pct(afterOn), pct(afterOff), pct(withOn), pct(aloneOn));
        }
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
