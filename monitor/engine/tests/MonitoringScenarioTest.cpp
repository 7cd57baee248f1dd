// The monitoring core from frame to alert, with no window: a synthetic scene, virtual time,
// stand-in email and dial programs, the real evidence files and history database.

#include "monitor/capture/PixelConversionLibrary.h"
#include "monitor/engine/DetectionEngine.h"
#include "monitor/engine/Headless.h"
#include "monitor/engine/SyntheticScene.h"
#include "monitor/shell/CompanionLauncher.h"
#include "platform/RecordingReporter.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <thread>

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class Monitoring : public ::testing::Test {
protected:
    TempDir m_program;
    TempDir m_registryDir;
    RegistryStore m_registry{m_registryDir.path()};
    RecordingReporter m_reporter;
    std::unique_ptr<SettingsStore> m_store;
    VirtualClock m_clock{1796634000}; // 2026-12-07, early afternoon UTC
    VirtualTimers m_timers{m_clock};
    RecordingMessageSink m_sink;
    RecordingRecorder m_recorder;
    CountingSoundPlayer m_sound;
    std::unique_ptr<CompanionLauncher> m_companions;
    RecordingOverlayCanvas m_canvas;
    std::unique_ptr<PixelConversionLibrary> m_converter;
    std::unique_ptr<SyntheticScene> m_scene;
    std::unique_ptr<DetectionEngine> m_engine;

    void SetUp() override {
        fs::create_symlink(GARDIVO_PROGRAM_DIR "/libdeinterlace.so", m_program.file("libdeinterlace.so"));
        for (const char* name : {"email", "dial"}) {
            writeText(m_program.file(name),
                      "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> \"$(dirname \"$0\")/calls.txt\"\n");
            fs::permissions(m_program.file(name), fs::perms::owner_all);
        }
        m_store = std::make_unique<SettingsStore>(ProgramKind::Gardivo, m_registry, m_reporter,
                                                  m_program.dir(), m_program.file("home"));
        auto& s = m_store->settings();
        s.Sensitivity = 99; // two changed blocks make a condition
        s.DetectInterval = 500;
        s.ActionFlags = 4; // e-mail
        m_companions = std::make_unique<CompanionLauncher>(*m_store, m_reporter);
        m_converter = std::make_unique<PixelConversionLibrary>(m_program.dir());
    }

    void TearDown() override {
        // The stand-ins finish at once; collect them before the directory goes.
        for (int i = 0; i < 100 && !(m_companions->IsEmailFree() && m_companions->IsDialFree()); ++i)
            std::this_thread::sleep_for(10ms);
    }

    // Builds the engine over a scene and starts watching.
    void start(SyntheticScene::Script script, int width = 320, int height = 240,
               std::optional<SelectionRectangle> region = std::nullopt) {
        m_scene = std::make_unique<SyntheticScene>(width, height, script);
        m_engine = std::make_unique<DetectionEngine>(*m_store, m_canvas,
                                                     EngineServices{&m_sink, &m_timers, &m_clock, &m_recorder,
                                                                    &m_sound, m_companions.get(),
                                                                    m_converter.get()});
        m_engine->setFrameSource(m_scene.get());
        m_engine->SetVideoRect(0, 0, width, height);
        if (region)
            m_engine->setSelectionRect(*region);
        m_engine->StartCommand();
    }
    // Runs virtual time until the condition count reaches n (or the time is up).
    void runUntilConditions(uint32_t n, std::chrono::milliseconds limit = 60s) {
        for (auto t = 0ms; t < limit && m_engine->conditionCount() < n; t += 100ms)
            m_timers.runFor(*m_engine, 100ms);
    }
    void runUntilMode(int mode, std::chrono::milliseconds limit = 60s) {
        for (auto t = 0ms; t < limit && m_engine->mode() != mode; t += 100ms)
            m_timers.runFor(*m_engine, 100ms);
    }
    std::string evidence(const std::string& name) const { return m_store->evidenceDirectory() + "/" + name; }
    std::string calls() {
        for (int i = 0; i < 100 && !(m_companions->IsEmailFree() && m_companions->IsDialFree()); ++i)
            std::this_thread::sleep_for(10ms);
        return readText(m_program.file("calls.txt"));
    }
    size_t modeReports() const { return m_sink.messages("WM_APP_MODE_CHANGED").size(); }
};

SyntheticScene::Script intruder(int size, int movingFrames, int step = 24) {
    SyntheticScene::Script s;
    s.stillFrames = 4;
    s.movingFrames = movingFrames;
    s.objectSize = size;
    s.stepPixels = step;
    return s;
}

TEST_F(Monitoring, APictureLargerThanTheGridIsWatchedWholeAndTheRegionMeansTheSamePixels) {
    // A 1280 x 720 camera; the object appears in the right third of the picture only.
    const auto run = [&](bool region, int32_t x1, int32_t x2) {
        auto script = intruder(64, 6, 8);
        script.enterAt = 0.72;
        m_store->settings().RegionMode = region ? 1 : 0;
        start(script, 1280, 720, SelectionRectangle{x1, 0, x2, 720});
        runUntilConditions(1, 10s);
        return m_engine->conditionCount();
    };
    EXPECT_EQ(run(false, 0, 1280), 1u);
    // Grabbed at the grid's size, keeping the shape.
    EXPECT_EQ(m_engine->frameWidth(), 640);
    EXPECT_EQ(m_engine->frameHeight(), 360);
    // The evidence is the picture as grabbed: 640 wide, the two halves 360 high each.
    const auto bmp = readBytes(evidence("error001.bmp"));
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(bmp[18] | bmp[19] << 8, 640);
    EXPECT_EQ(bmp[22] | bmp[23] << 8, 720);
    // A region drawn over the right half of the video sees it; one over the left half does not.
    EXPECT_EQ(run(true, 640, 1280), 1u);
    EXPECT_EQ(run(true, 0, 640), 0u);
}

TEST_F(Monitoring, AVideoMovedWhileWatchingGoesOnWatchingTheNewPicture) {
    // With tracing set up, a stop does not go to Standing by: the mode would stay WatchDog with
    // no detection behind it.
    m_store->settings().TracingMode = 1;
    start(intruder(64, 6));
    ASSERT_EQ(m_engine->mode(), WatchDog);
    const size_t reports = modeReports();
    m_engine->MoveVideoRect(10, 20, 330, 260);
    EXPECT_EQ(m_engine->mode(), WatchDog);
    EXPECT_TRUE(m_timers.isActive(DetectionEngine::kDetectionTimer));
    EXPECT_GT(modeReports(), reports); // the pages are told again
    runUntilConditions(1);
    EXPECT_EQ(m_engine->conditionCount(), 1u);

    // Standing by, it stays so.
    m_engine->StopCommand();
    m_store->settings().TracingMode = 0;
    m_engine->StopWatching(false);
    m_engine->MoveVideoRect(0, 0, 320, 240);
    EXPECT_NE(m_engine->mode(), WatchDog);
    EXPECT_FALSE(m_timers.isActive(DetectionEngine::kDetectionTimer));
}

TEST_F(Monitoring, OneConditionWithoutTracingKeepsEvidenceMailsAndStops) {
    start(intruder(64, 6));
    EXPECT_EQ(m_engine->mode(), WatchDog);
    EXPECT_TRUE(m_timers.isActive(DetectionEngine::kDetectionTimer));
    EXPECT_EQ(m_timers.period(DetectionEngine::kDetectionTimer), 500);
    runUntilConditions(1);
    ASSERT_EQ(m_engine->conditionCount(), 1u);
    EXPECT_EQ(m_engine->mode(), StandBy);
    EXPECT_FALSE(m_timers.isActive(DetectionEngine::kDetectionTimer));
    EXPECT_EQ(m_sound.plays, 1);

    // The evidence bitmap: 320 x 480, the reference below the alarm picture.
    const auto bmp = readBytes(evidence("error001.bmp"));
    ASSERT_EQ(bmp.size(), 460854u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    const auto le32 = [&](size_t o) {
        return uint32_t(bmp[o]) | uint32_t(bmp[o + 1]) << 8 | uint32_t(bmp[o + 2]) << 16 |
               uint32_t(bmp[o + 3]) << 24;
    };
    EXPECT_EQ(le32(2), 460854u);
    EXPECT_EQ(le32(10), 54u);
    EXPECT_EQ(le32(14), 40u);
    EXPECT_EQ(le32(18), 320u);
    EXPECT_EQ(le32(22), 480u);
    EXPECT_EQ(le32(34), 460800u);
    EXPECT_FALSE(fs::exists(evidence("error001.avi")));

    // Its history row and the mail with the condition number.
    const auto rows = m_engine->history().allRecords();
    ASSERT_EQ(rows.size(), 1u);
    const std::string group = fs::path(m_store->evidenceDirectory()).filename().string();
    EXPECT_EQ(rows[0], (HistoryRecord{group, m_engine->event(1).Time, "", "Condition001",
                                      evidence("error001.bmp"), ""}));
    EXPECT_EQ(group.size(), 19u);
    EXPECT_EQ(calls(), "email 1\n");
    EXPECT_EQ(
        m_registry.queryValue(RegistryRoot::CurrentUser, SettingsStore::kKeyPath, "AttachedImageFileName")
            ->text(),
        evidence("error001.bmp"));

    // The page heard of the size, the start, the new record and the stop, in that order.
    EXPECT_EQ(m_sink.log, (std::vector<std::string>{
                              "ControlPanel WM_APP_REPORT 320 240", "ControlPanel WM_APP_MODE_CHANGED",
                              "ControlPanel WM_APP_NEW_RECORD", "ControlPanel WM_APP_MODE_CHANGED"}));
}

TEST_F(Monitoring, StopRuleOneKeepsWatchingAfterEachCondition) {
    m_store->settings().StopRule = 1;
    m_store->settings().ActionFlags = 2 | 8; // phone and the user's program
    setFieldText(m_store->settings().ProgramFile, m_program.file("dial") + " hook");
    m_sink.windows.insert("History");
    start(intruder(64, 40));
    runUntilConditions(3);
    EXPECT_EQ(m_engine->conditionCount(), 3u);
    EXPECT_EQ(m_engine->mode(), WatchDog);
    EXPECT_TRUE(m_timers.isActive(DetectionEngine::kDetectionTimer));
    EXPECT_EQ(m_sink.messages("History WM_APP_NEW_RECORD").size(), 3u);
    EXPECT_EQ(m_engine->history().allRecords().size(), 3u);
    EXPECT_TRUE(fs::exists(evidence("error003.bmp")));
    // The user's program is never waited for by the launcher; the test waits for its three runs.
    std::string c = calls();
    for (int i = 0; i < 200; ++i, c = calls()) {
        size_t hooks = 0;
        for (size_t at = c.find("dial hook\n"); at != std::string::npos; at = c.find("dial hook\n", at + 1))
            ++hooks;
        if (hooks == 3)
            break;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_NE(c.find("dial 1\n"), std::string::npos);
    EXPECT_NE(c.find("dial hook\n"), std::string::npos);
    EXPECT_EQ(c.find("email"), std::string::npos);
}

TEST_F(Monitoring, StopRuleTwoStopsWhenTheLimitIsPassed) {
    m_store->settings().StopRule = 2;
    m_store->settings().ConditionLimit = 3;
    start(intruder(64, 60));
    runUntilConditions(3);
    EXPECT_EQ(m_engine->mode(), WatchDog);
    EXPECT_TRUE(m_reporter.messages().empty());
    runUntilConditions(4);
    EXPECT_EQ(m_engine->conditionCount(), 4u);
    EXPECT_EQ(m_engine->mode(), StandBy);
    EXPECT_FALSE(m_timers.isActive(DetectionEngine::kDetectionTimer));
    ASSERT_EQ(m_reporter.messages().size(), 1u);
    EXPECT_EQ(m_reporter.messages()[0].text,
              "Total errors is reached the assigned amount....\nGardivo is stop and reset.");
    EXPECT_EQ(m_reporter.messages()[0].caption, "Tavrin Gardivo");
    EXPECT_TRUE(m_reporter.messages()[0].topmost);
    EXPECT_EQ(m_engine->stopCounter(), 0u);
    // Four mails were asked for, but a stand-in may still have been running for a later one.
    EXPECT_EQ(m_engine->history().allRecords().size(), 4u);
}

TEST_F(Monitoring, AutomaticTracingRecordsAClipAndResetsWhenTheTargetStaysStill) {
    auto& s = m_store->settings();
    s.TracingMode = 1;
    s.ActionFlags = 0; // the clip comes from the tracing mode alone
    s.ReleaseTime = 3; // 3 s at 400 ms: 7 ticks
    start(intruder(96, 6, 32));
    runUntilConditions(1);
    ASSERT_EQ(m_engine->conditionCount(), 1u);
    EXPECT_EQ(m_recorder.paths, std::vector<std::string>{evidence("error001.avi")});
    EXPECT_EQ(m_engine->event(1).VideoPath, evidence("error001.avi"));
    EXPECT_EQ(m_engine->mode(), Tracing);
    EXPECT_EQ(m_engine->tracingPeriod_ms(), 400);
    EXPECT_EQ(m_engine->releaseTicks(), 7u);
    EXPECT_TRUE(m_timers.isActive(DetectionEngine::kTracingTimer));

    runUntilMode(StandBy);
    EXPECT_FALSE(m_timers.isActive(DetectionEngine::kTracingTimer));
    ASSERT_TRUE(fs::exists(evidence("condition001.bmp")));
    EXPECT_EQ(fs::file_size(evidence("condition001.bmp")), 460854u);
    const std::string remark = m_engine->event(1).Remark;
    EXPECT_EQ(remark.find(" Reset at "), 0u) << remark;
    EXPECT_NE(remark.find(", Condition is still existing, please refer to " + evidence("condition001.bmp")),
              std::string::npos);
    // The whole remark reaches the row, and nothing else of it changes.
    const auto rows = m_engine->history().allRecords();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Remark, remark);
    EXPECT_EQ(rows[0].Description, "Condition001");
    EXPECT_EQ(rows[0].VideoPath, evidence("error001.avi"));
}

TEST_F(Monitoring, ManualTracingReleasesASmallStillTarget) {
    auto& s = m_store->settings();
    s.TracingMode = 2;
    start(intruder(32, 6, 16));
    runUntilConditions(1);
    ASSERT_EQ(m_engine->mode(), Tracing);
    EXPECT_TRUE(m_engine->isTracingBoxOpen());
    EXPECT_TRUE(m_recorder.paths.empty());
    runUntilMode(StandBy);
    EXPECT_FALSE(m_engine->isTracingBoxOpen());
    const std::string remark = m_engine->event(1).Remark;
    EXPECT_EQ(remark.rfind(" Release at ", 0), 0u) << remark;
    EXPECT_EQ(remark.size(), 21u);
    EXPECT_FALSE(fs::exists(evidence("condition001.bmp")));
    EXPECT_EQ(m_engine->history().allRecords()[0].Remark, remark);
    // Tracing Box opened and closed around the trace.
    const auto open = std::find(m_sink.log.begin(), m_sink.log.end(), "open TracingBox");
    const auto close = std::find(m_sink.log.begin(), m_sink.log.end(), "close TracingBox");
    EXPECT_TRUE(open < close && close != m_sink.log.end());
}

TEST_F(Monitoring, StopWhileTracingReleasesAndWatchesAgainThenStops) {
    auto& s = m_store->settings();
    s.TracingMode = 2;
    s.StopRule = 1;
    start(intruder(96, 200, 8));
    runUntilConditions(1);
    ASSERT_EQ(m_engine->mode(), Tracing);
    m_engine->StopCommand();
    EXPECT_EQ(m_engine->mode(), WatchDog);
    EXPECT_TRUE(m_timers.isActive(DetectionEngine::kDetectionTimer));
    EXPECT_FALSE(m_timers.isActive(DetectionEngine::kTracingTimer));
    EXPECT_EQ(m_engine->event(1).Remark.rfind(" Release at ", 0), 0u);
    m_engine->StopCommand();
    EXPECT_EQ(m_engine->mode(), StandBy);
    EXPECT_FALSE(m_timers.isActive(DetectionEngine::kDetectionTimer));
}

TEST_F(Monitoring, TheTracingBoxCanHoldTheTracingStep) {
    m_store->settings().TracingMode = 2;
    start(intruder(96, 200, 8));
    runUntilConditions(1);
    ASSERT_EQ(m_engine->mode(), Tracing);
    const int before = m_scene->framesDelivered();
    const uint32_t still = m_engine->stillTicks();
    m_engine->pauseTracingEvent().reset(); // the box takes a snapshot
    // The held step is skipped, not waited for: the one holding it may need this thread.
    EXPECT_EQ(m_engine->TracingTick(), 1);
    m_timers.runFor(*m_engine, 2s);
    EXPECT_EQ(m_scene->framesDelivered(), before);
    EXPECT_EQ(m_engine->stillTicks(), still);
    EXPECT_EQ(m_engine->mode(), Tracing);
    m_engine->pauseTracingEvent().set();
    m_engine->TracingTick();
    EXPECT_EQ(m_scene->framesDelivered(), before + 1);
}

TEST_F(Monitoring, TheFinalStopSilencesTheSirenAndFreesTheFrames) {
    start(intruder(64, 6));
    runUntilConditions(1);
    EXPECT_EQ(m_sound.plays, 1);
    m_engine->StopWatching(false);
    EXPECT_EQ(m_sound.stops, 0);
    m_engine->StopWatching(true);
    EXPECT_EQ(m_sound.stops, 1);
    EXPECT_TRUE(m_engine->frame(DetectionEngine::FrameSlot::Reference).empty());
}

TEST_F(Monitoring, AStartDelayIsShownAndWaitedFor) {
    m_store->settings().StartDelay = 5;
    start(intruder(64, 6));
    EXPECT_EQ(m_clock.elapsed(), 5000ms);
    ASSERT_GE(m_canvas.calls().size(), 3u);
    EXPECT_EQ(m_canvas.calls()[1],
              (RecordingOverlayCanvas::Call{RecordingOverlayCanvas::Kind::Text,
                                            {5, 221, 305, 240},
                                            kYellow,
                                            "Please wait, Gardivo will start 5 seconds later...",
                                            12}));
    EXPECT_EQ(m_canvas.calls()[2].kind, RecordingOverlayCanvas::Kind::Fill);
    EXPECT_EQ(m_engine->mode(), WatchDog);
}

TEST_F(Monitoring, ATimerThatCannotBeCreatedIsSaid) {
    m_timers.failNextTimers(true);
    start(intruder(64, 6));
    EXPECT_EQ(m_engine->mode(), StandBy);
    ASSERT_EQ(m_reporter.messages().size(), 1u);
    EXPECT_EQ(m_reporter.messages()[0].text, "Timer is used out...");
}

TEST_F(Monitoring, TheHundredAndFirstConditionReusesTheFirstSlot) {
    m_store->settings().StopRule = 1;
    m_store->settings().ActionFlags = 1; // a clip, so VideoPath is filled
    start(intruder(64, 6));
    m_engine->RaiseAlarm(DetectionEngine::kConditionAlarmCode);
    EXPECT_EQ(m_engine->event(1).Description, "Condition001");
    for (int i = 2; i <= 101; ++i)
        m_engine->RaiseAlarm(DetectionEngine::kConditionAlarmCode);
    EXPECT_EQ(m_engine->currentSlot(), 1u);
    EXPECT_EQ(m_engine->event(1).Description, "Condition101");
    EXPECT_EQ(m_engine->event(1).ImagePath, evidence("error101.bmp"));
    EXPECT_EQ(m_engine->event(100).Description, "Condition100");
    EXPECT_EQ(m_engine->history().allRecords().size(), 101u);
}

TEST_F(Monitoring, AVanishedEvidenceDirectoryComesBack) {
    m_store->settings().StopRule = 1;
    start(intruder(64, 40));
    runUntilConditions(1);
    fs::remove_all(m_store->evidenceDirectory());
    runUntilConditions(2);
    EXPECT_TRUE(fs::exists(evidence("error002.bmp")));
}

} // namespace
