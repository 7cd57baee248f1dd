// Feeds a synthetic scene through the motion detector and prints what each tick decided. It
// stands in for the monitoring program until the capture pipeline and windows exist.

#include "monitor/engine/DetectionEngine.h"
#include "monitor/engine/SyntheticScene.h"
#include "platform/ProgramDirectory.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

class PrintingAlarmHandler final : public gardivo::AlarmHandler {
public:
    void startWarningSound() override { m_sound = true; }
    void raiseAlarm(int code) override { m_alarm = code; }
    bool takeSound() { return std::exchange(m_sound, false); }
    int takeAlarm() { return std::exchange(m_alarm, 0); }

private:
    bool m_sound = false;
    int m_alarm = 0;
};

} // namespace

int main(int argc, char** argv) {
    // The program directory (with the conversion module) sits beside this demo's folder.
    std::string programDirectory = gardivo::joinPath(gardivo::executableDirectory(), "../Gardivo/");
    int ticks = 20;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--program-dir" && i + 1 < argc)
            programDirectory = argv[++i];
        else if (arg == "--ticks" && i + 1 < argc)
            ticks = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: %s [--program-dir DIR] [--ticks N]\n", argv[0]);
            return 2;
        }
    }

    gardivo::RegistryStore registry;
    gardivo::ConsoleReporter reporter;
    gardivo::SettingsStore store(gardivo::ProgramKind::Gardivo, registry, reporter, programDirectory);
    gardivo::RecordingOverlayCanvas canvas;
    gardivo::DetectionEngine engine(store, canvas);
    gardivo::SyntheticScene scene(320, 240);
    PrintingAlarmHandler alarms;
    engine.setFrameSource(&scene);
    engine.setAlarmHandler(&alarms);

    std::printf("settings: %s (%s)\n", store.settingsFilePath().c_str(),
                store.isDefaulted() ? "defaults" : "read from file");
    if (!engine.hasConversionLibrary()) {
        std::printf("no conversion module at %s: frames are not counted and nothing is compared\n",
                    engine.conversionLibrary().path().c_str());
    }

    engine.SetVideoRect(0, 0, 320, 240);
    engine.BuildActiveBlockMap();
    engine.ComputeThresholds();
    std::printf(
        "sensitivity %d: %u active blocks, luma threshold %u, pixel threshold %u, block threshold %u\n",
        store.settings().Sensitivity, engine.activeBlocks(), engine.lumaThreshold(),
        engine.pixelCountThreshold(), engine.changedBlockThreshold());

    for (int tick = 1; tick <= ticks; ++tick) {
        const int result = engine.DetectionTick();
        if (result == 0) {
            std::printf("tick %2d: no frame\n", tick);
            continue;
        }
        if (engine.frameCount() < 2) {
            std::printf("tick %2d: reference frame taken\n", tick);
            continue;
        }
        const bool sound = alarms.takeSound();
        const int alarm = alarms.takeAlarm();
        std::printf("tick %2d: frame %2u, %3u of %u blocks changed (more than %u needed) -> %s%s\n", tick,
                    engine.frameCount(), engine.lastChangedBlocks(), engine.activeBlocks(),
                    engine.changedBlockThreshold(), alarm ? "CONDITION" : "quiet",
                    alarm ? (sound ? ", warning sound, alarm 1100" : ", alarm 1100") : "");
    }
    return 0;
}
