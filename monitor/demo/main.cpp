// A console monitor: the detection engine watches a synthetic scene (a still background, then a
// moving object) on virtual time, with the settings, evidence and history of the real program
// directory, and reports what happened: ticks, conditions, modes, evidence files and history rows.
// It stands in for the windowed program until the capture pipeline and the windows exist.

#include "monitor/capture/PixelConversionLibrary.h"
#include "monitor/capture/WarningSound.h"
#include "monitor/engine/Headless.h"
#include "monitor/engine/SyntheticScene.h"
#include "monitor/messages/WindowMessages.h"
#include "monitor/shell/CompanionLauncher.h"
#include "platform/ProgramDirectory.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <vector>

namespace {

const char* modeName(int mode) {
    return mode == gardivo::WatchDog ? "WatchDog" : mode == gardivo::Tracing ? "Tracing" : "StandBy";
}

void usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--program-dir DIR] [--seconds N] [--tracing-mode 0|1|2] [--stop-rule 0|1|2]\n"
                 "          [--condition-limit N]\n",
                 program);
}

} // namespace

int main(int argc, char** argv) {
    std::string programDirectory = gardivo::joinPath(gardivo::executableDirectory(), "../Gardivo/");
    int seconds = 20;
    int tracingMode = -1, stopRule = -1, conditionLimit = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            usage(argv[0]);
            return 2;
        }
        if (arg == "--program-dir")
            programDirectory = argv[++i];
        else if (arg == "--seconds")
            seconds = std::atoi(argv[++i]);
        else if (arg == "--tracing-mode")
            tracingMode = std::atoi(argv[++i]);
        else if (arg == "--stop-rule")
            stopRule = std::atoi(argv[++i]);
        else if (arg == "--condition-limit")
            conditionLimit = std::atoi(argv[++i]);
        else {
            usage(argv[0]);
            return 2;
        }
    }

    gardivo::RegistryStore registry;
    gardivo::ConsoleReporter reporter;
    gardivo::SettingsStore store(gardivo::ProgramKind::Gardivo, registry, reporter, programDirectory);
    // Overrides from the command line hold for this run only; the record on disk is left as it was.
    const gardivo::WatchdogSettings saved = store.settings();
    if (tracingMode >= 0)
        store.settings().TracingMode = tracingMode;
    if (stopRule >= 0)
        store.settings().StopRule = stopRule;
    if (conditionLimit >= 0)
        store.settings().ConditionLimit = conditionLimit;

    gardivo::VirtualClock clock(std::time(nullptr));
    gardivo::VirtualTimers timers(clock);
    gardivo::RecordingMessageSink sink;
    gardivo::RecordingRecorder recorder;
    gardivo::GstSoundPlayer sound; // the siren sounds until watching stops for good
    gardivo::CompanionLauncher companions(store, reporter);
    gardivo::RecordingOverlayCanvas canvas;
    gardivo::PixelConversionLibrary converter(store.programDirectory());
    gardivo::DetectionEngine engine(store, canvas,
                                    {&sink, &timers, &clock, &recorder, &sound, &companions, &converter});
    gardivo::SyntheticScene scene(320, 240);
    engine.setFrameSource(&scene);

    const auto& s = store.settings();
    std::printf("settings: %s (%s); tracing mode %d, stop rule %d, detect interval %d ms\n",
                store.settingsFilePath().c_str(), store.isDefaulted() ? "defaults" : "read from file",
                s.TracingMode, s.StopRule, s.DetectInterval);
    std::printf("evidence: %s\nhistory:  %s\n", store.evidenceDirectory().c_str(),
                engine.history().databasePath().c_str());
    if (!engine.hasConversionLibrary())
        std::printf("no conversion module at %s: no frame is counted, nothing is compared\n",
                    converter.path().c_str());

    engine.SetVideoRect(0, 0, 320, 240);
    engine.StartCommand();
    std::printf("%6.1f s  start: %s, block threshold %u of %u blocks\n", 0.0, modeName(engine.mode()),
                engine.changedBlockThreshold(), engine.activeBlocks());
    int lastMode = engine.mode();
    uint32_t lastConditions = 0;
    size_t logged = 0;
    for (int step = 0; step < seconds * 10; ++step) {
        timers.runFor(engine, std::chrono::milliseconds(100));
        const double t = static_cast<double>(clock.elapsed().count()) / 1000.0;
        if (engine.conditionCount() != lastConditions) {
            lastConditions = engine.conditionCount();
            const auto& e = engine.event(engine.currentSlot());
            std::printf("%6.1f s  %s at %s: %u blocks changed; %s\n", t, e.Description.c_str(),
                        e.Time.c_str(), engine.lastChangedBlocks(), e.ImagePath.c_str());
        }
        for (; logged < sink.log.size(); ++logged)
            if (sink.log[logged].find("MODE_CHANGED") == std::string::npos)
                std::printf("%6.1f s  -> %s\n", t, sink.log[logged].c_str());
        if (engine.mode() != lastMode) {
            lastMode = engine.mode();
            std::printf("%6.1f s  mode %s\n", t, modeName(lastMode));
        }
    }
    engine.StopWatching(true);

    std::printf("\nfiles in %s:\n", store.evidenceDirectory().c_str());
    std::vector<std::string> files;
    if (DIR* dir = ::opendir(store.evidenceDirectory().c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                files.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    std::sort(files.begin(), files.end());
    for (const auto& f : files)
        std::printf("  %s\n", f.c_str());
    for (const auto& clip : recorder.paths)
        std::printf("  (clip %s asked for: recording needs the capture pipeline)\n", clip.c_str());

    std::printf("\nhistory rows of this run:\n");
    const std::string group =
        store.evidenceDirectory().substr(store.evidenceDirectory().find_last_of('/') + 1);
    for (const auto& row : engine.history().allRecords())
        if (row.GroupName == group)
            std::printf("  %s | %s | %s | %s | %s |%s\n", row.GroupName.c_str(), row.Time.c_str(),
                        row.Description.c_str(), row.ImagePath.c_str(), row.VideoPath.c_str(),
                        row.Remark.c_str());
    store.settings() = saved;
    return 0;
}
