// The fine print of alarms and tracing, on frames made by hand: which picture the evidence shows,
// when a watch starts over, the target rules and thresholds of tracing, the stop rules after a
// release, and what happens without an evidence directory.

#include "EngineTestKit.h"

#include "monitor/messages/WindowMessages.h"

#include <thread>
#include <unistd.h>

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr int W = 320, H = 240;

class AlarmRules : public EngineFixture {
protected:
    AlarmRules() {
        settings().Sensitivity = 99; // more than two changed blocks make a condition
        settings().DetectInterval = 500;
        settings().StopRule = 0;
        m_base = flatFrame(W, H);
    }
    // Builds the block map and thresholds as starting to watch does, without taking a frame.
    void armThresholds() {
        engine().BuildActiveBlockMap();
        engine().ComputeThresholds();
    }
    // Condition 1 from frames: the reference, then a picture with an intruder.
    void raiseFirstCondition() {
        m_source.frames = {m_base, withBlocks(m_base, W, 5, 5, 7, 7, 80)};
        m_source.repeatLast = true;
        engine().StartCommand();
        runTimers(500ms);
        ASSERT_EQ(engine().conditionCount(), 1u);
    }
    // The clock's time of day as remarks write it.
    std::string clockTime(int plusSeconds = 0) {
        m_clock.advance(std::chrono::seconds(plusSeconds));
        const std::tm t = m_clock.localTime();
        m_clock.advance(-std::chrono::seconds(plusSeconds));
        char text[16];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
        return text;
    }
    std::vector<std::string> labels() const {
        std::vector<std::string> texts;
        for (const auto& call : m_canvas.calls())
            if (call.kind == RecordingOverlayCanvas::Kind::Text)
                texts.push_back(call.text);
        return texts;
    }

    std::vector<uint8_t> m_base;
};

TEST_F(AlarmRules, TheAlarmBitmapShowsTheComparedFrameAboveTheReference) {
    settings().StopRule = 1; // keep watching: the second condition comes from FrameA
    const auto first = withBlocks(m_base, W, 2, 2, 4, 4, 80);
    const auto second = withBlocks(m_base, W, 12, 8, 14, 10, 80);
    // Reference, the intruder in FrameB (count 1 -> 2); then a new reference, a still frame in
    // FrameB and the intruder in FrameA (count 2 -> 3).
    m_source.frames = {m_base, first, m_base, m_base, second};
    engine().StartCommand();
    runTimers(500ms);
    ASSERT_EQ(engine().conditionCount(), 1u);
    runTimers(1500ms);
    ASSERT_EQ(engine().conditionCount(), 2u);

    const auto bright = [](int blue) { return blue > 150; };
    const auto one = readBytes(evidence("error001.bmp"));
    const auto two = readBytes(evidence("error002.bmp"));
    ASSERT_EQ(one.size(), 460854u);
    ASSERT_EQ(two.size(), 460854u);
    // Upper half: the picture compared; lower half: the reference.
    EXPECT_TRUE(bright(bitmapBlue(one, 3 * 16, 3 * 16)));
    EXPECT_FALSE(bright(bitmapBlue(one, 3 * 16, H + 3 * 16)));
    EXPECT_FALSE(bright(bitmapBlue(one, 13 * 16, 9 * 16)));
    EXPECT_TRUE(bright(bitmapBlue(two, 13 * 16, 9 * 16)));
    EXPECT_FALSE(bright(bitmapBlue(two, 13 * 16, H + 9 * 16)));
    EXPECT_FALSE(bright(bitmapBlue(two, 3 * 16, 3 * 16)));
}

TEST_F(AlarmRules, ARestartedWatchTakesAFreshReferenceInOneModeWithOneTimer) {
    settings().TracingMode = 2;
    m_source.frames = {m_base, m_base, m_base};
    engine().StartCommand();
    runTimers(1000ms);
    EXPECT_EQ(engine().frameCount(), 3u);
    engine().StopCommand();
    EXPECT_EQ(engine().mode(), StandBy);
    // With tracing configured a stop keeps the count (the next trace starts it over).
    EXPECT_EQ(engine().frameCount(), 3u);

    // The scene changed while nobody watched: that is no intruder.
    m_source.frames = {withBlocks(m_base, W, 0, 0, 19, 14, 60)};
    m_source.next = 0;
    m_source.repeatLast = true;
    engine().StartCommand();
    EXPECT_EQ(engine().conditionCount(), 0u);
    EXPECT_EQ(engine().mode(), WatchDog);
    EXPECT_TRUE(m_timers.isActive(DetectionEngine::kDetectionTimer));
    EXPECT_FALSE(m_timers.isActive(DetectionEngine::kTracingTimer));
    EXPECT_FALSE(engine().isTracingBoxOpen());
    runTimers(2000ms);
    EXPECT_EQ(engine().conditionCount(), 0u);
    EXPECT_EQ(engine().mode(), WatchDog);
}

TEST_F(AlarmRules, WithoutAnEvidenceDirectoryNothingIsWrittenAndNoClipAskedFor) {
    writeText(m_program.file("blocker"), "a file where the working directory should be");
    setFieldText(settings().WorkingDirectory, m_program.file("blocker") + "/Gardivo");
    settings().TracingMode = 1;
    settings().ActionFlags = 1 | 4; // clip and mail
    settings().ReleaseTime = 1;     // 1000 ms / 400 ms: released after more than two still ticks
    TempDir cwd;
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(cwd.path().c_str()), 0);

    raiseFirstCondition();
    EXPECT_TRUE(m_store->evidenceDirectory().empty());
    EXPECT_TRUE(engine().event(1).ImagePath.empty());
    EXPECT_TRUE(engine().event(1).VideoPath.empty());
    EXPECT_TRUE(m_recorder.paths.empty());
    EXPECT_EQ(m_companions.calls, std::vector<std::string>{"email 1"});
    for (int i = 0; i < 5 && engine().mode() == Tracing; ++i)
        engine().TracingTick();
    EXPECT_EQ(engine().mode(), StandBy);
    EXPECT_EQ(engine().event(1).Remark, " Reset at " + clockTime() + ", Condition is still existing");
    EXPECT_EQ(engine().conditionBitmapNumber(), 0u);
    EXPECT_TRUE(fs::is_empty(cwd.path()));
    ASSERT_EQ(::chdir(previous), 0);
}

TEST_F(AlarmRules, DamagedSettingsAreClampedWhereTheyAreUsed) {
    settings().DetectInterval = 0;
    settings().Sensitivity = 0;
    settings().StartDelay = 9109504; // 105 days
    settings().ReleaseTime = 2000000000;
    m_source.frames = {m_base};
    m_source.repeatLast = true;
    engine().StartCommand();
    EXPECT_EQ(m_clock.elapsed(), 86400s);
    EXPECT_EQ(m_timers.period(DetectionEngine::kDetectionTimer), 250);
    EXPECT_EQ(engine().pixelCountThreshold(), 149u);
    engine().StopCommand();
    settings().DetectInterval = 100000;
    settings().StartDelay = 0;
    engine().StartCommand();
    EXPECT_EQ(m_timers.period(DetectionEngine::kDetectionTimer), 1000);
    engine().StartTracing();
    EXPECT_EQ(engine().releaseTicks(), 216000u);
}

TEST_F(AlarmRules, AStopDuringTheStartDelayEndsTheWaitAtOnce) {
    settings().StartDelay = 60;
    m_source.frames = {m_base};
    m_source.repeatLast = true;
    // The real clock: the wait is a real one.
    DetectionEngine engine(
        *m_store, m_canvas,
        EngineServices{&m_sink, &m_timers, nullptr, &m_recorder, &m_sound, &m_companions, m_converter.get()});
    engine.setFrameSource(&m_source);
    const auto started = std::chrono::steady_clock::now();
    std::thread engineThread([&] { engine.StartCommand(); });
    std::this_thread::sleep_for(100ms);
    engine.interruptWaits(); // the user pressed Stop
    engineThread.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    engine.StopCommand();
    EXPECT_EQ(engine.mode(), StandBy);
    EXPECT_FALSE(m_timers.isActive(DetectionEngine::kDetectionTimer));
    ASSERT_FALSE(m_canvas.calls().empty());
    EXPECT_EQ(m_canvas.calls().back(),
              (RecordingOverlayCanvas::Call{
                  RecordingOverlayCanvas::Kind::Fill, {0, 0, 320, 240}, kKeyColour, "", 0}));
    // The Stop has been handled: the next start waits its whole delay again, here not at all.
    settings().StartDelay = 0;
    engine.StartCommand();
    EXPECT_EQ(engine.mode(), WatchDog);
}

TEST_F(AlarmRules, TheMenuAndThePageWordTheStartDelayDifferently) {
    settings().StartDelay = 5;
    m_source.frames = {m_base};
    m_source.repeatLast = true;
    engine().StartCommand(true);
    engine().StopCommand();
    engine().StartCommand(false);
    EXPECT_EQ(labels(), (std::vector<std::string>{
                            "Please wait, Gardivo will start at 5 seconds later...", "Detecting......",
                            "Please wait, Gardivo will start 5 seconds later...", "Detecting......"}));
    EXPECT_EQ(m_clock.elapsed(), 10s);
}

TEST_F(AlarmRules, TargetBlocksNeedHotNeighboursAndMoreThanTwoMarks) {
    engine().SetVideoRect(10, 20, 330, 260);
    const auto heat = [&](std::initializer_list<std::pair<int, int>> cells) {
        for (int r = 0; r < engine().rows(); ++r)
            for (int c = 0; c < engine().columns(); ++c)
                engine().cell(c, r).counter = 0;
        for (auto [c, r] : cells)
            engine().cell(c, r).counter = 2;
    };
    const SelectionRectangle whole{10, 20, 330, 260};

    // A corner is marked for a hot neighbour alone; a hot edge cell needs a hot neighbour too.
    heat({{1, 0}});
    engine().cell(0, 0).counter = 1;
    EXPECT_FALSE(engine().MarkTargetBlocks());
    EXPECT_EQ(engine().cell(0, 0).mark, 1);
    EXPECT_EQ(engine().cell(1, 0).mark, 0);
    EXPECT_EQ(engine().targetBox(), whole);

    // Two marked blocks are no target; three are.
    heat({{5, 5}, {6, 5}});
    EXPECT_FALSE(engine().MarkTargetBlocks());
    EXPECT_EQ(engine().targetBox(), whole);
    heat({{5, 5}, {6, 5}, {7, 6}});
    EXPECT_TRUE(engine().MarkTargetBlocks());
    // The box runs to the top-left corner of the last marked block.
    EXPECT_EQ(engine().targetBox(), (SelectionRectangle{10 + 80, 20 + 80, 10 + 112, 20 + 96}));
    // A counter of one is not hot.
    heat({{5, 5}, {6, 5}, {7, 6}});
    engine().cell(7, 6).counter = 1;
    EXPECT_FALSE(engine().MarkTargetBlocks());
}

TEST_F(AlarmRules, TracingComparesAtLuma11AndFindsTheTargetAtLuma22) {
    settings().TracingMode = 2;
    armThresholds();
    // The trace's reference, then a frame whose blocks moved by `delta`: the tick compares the
    // two at luma 11 and, on movement, looks for the target between them at luma 22.
    const auto trace = [&](int delta) {
        m_source.frames = {m_base, withBlocks(m_base, W, 5, 5, 7, 7, delta)};
        m_source.next = 0;
        engine().StartTracing();
        engine().TracingTick();
    };
    trace(23); // a target
    EXPECT_EQ(engine().mode(), Tracing);
    EXPECT_EQ(engine().stillTicks(), 0u);
    EXPECT_EQ(engine().targetBox(), (SelectionRectangle{80, 80, 112, 112}));

    trace(11); // no movement
    EXPECT_EQ(engine().mode(), Tracing);
    EXPECT_EQ(engine().stillTicks(), 1u);

    trace(22); // movement, but no target at exactly 22: the trace ends
    EXPECT_EQ(engine().mode(), StandBy);
    EXPECT_EQ(engine().targetBox(), (SelectionRectangle{0, 0, 320, 240}));

    trace(12); // likewise at 12
    EXPECT_EQ(engine().mode(), StandBy);
    EXPECT_EQ(engine().stillTicks(), 0u);
}

TEST_F(AlarmRules, TheFirstComparisonOfATraceIsAgainstItsOwnReference) {
    settings().TracingMode = 2;
    // A flat picture brightening all over is what a lamp does; here it stands for an intruder.
    EvidenceOptions noLightingRule;
    noLightingRule.lightingRule = false;
    m_store->setEvidenceOptions(noLightingRule);
    armThresholds();
    // FrameA holds a picture from before the trace; it must not count as movement.
    m_source.frames = {m_base, m_base, withBlocks(m_base, W, 0, 0, 19, 14, 90), m_base, m_base, m_base};
    engine().StartWatching();
    runTimers(1000ms); // FrameB, then the changed picture in FrameA: a condition
    ASSERT_EQ(engine().conditionCount(), 1u);
    ASSERT_EQ(engine().mode(), Tracing); // the trace's reference was taken
    engine().TracingTick();
    EXPECT_EQ(engine().stillTicks(), 1u);
}

TEST_F(AlarmRules, ASmallStillTargetIsReleasedAfterTenQuietTicks) {
    settings().TracingMode = 2;
    const auto traceStill = [&](int height) {
        engine().SetVideoRect(0, 0, W, height);
        armThresholds();
        EXPECT_FALSE(engine().MarkTargetBlocks()); // the target box becomes the whole picture
        m_source.frames = {flatFrame(W, height)};
        m_source.next = 0;
        m_source.repeatLast = true;
        m_canvas.clear();
        engine().StartTracing(); // the reference
    };

    // 48 pixels high is small: released at the tenth quiet tick, not the ninth.
    traceStill(48);
    for (int i = 1; i <= 9; ++i)
        engine().TracingTick();
    EXPECT_EQ(engine().mode(), Tracing);
    EXPECT_EQ(engine().stillTicks(), 9u);
    engine().TracingTick();
    EXPECT_EQ(engine().mode(), StandBy);
    EXPECT_EQ(engine().event(100).Remark, " Release at " + clockTime() + " ");
    auto shown = labels();
    EXPECT_EQ(shown[2], "Tracing......");
    EXPECT_EQ(shown[3], "Target is shrinking......"); // once three frames were taken

    // 49 pixels is not small: the trace goes on, and after fifteen quiet ticks says so.
    traceStill(49);
    for (int i = 1; i <= 15; ++i)
        engine().TracingTick();
    EXPECT_EQ(engine().mode(), Tracing);
    EXPECT_EQ(engine().stillTicks(), 15u);
    EXPECT_EQ(labels().back(), "Tracing......");
    engine().TracingTick();
    EXPECT_EQ(labels().back(), "Target is still......");
}

TEST_F(AlarmRules, AResetNeedsMoreStillTicksThanTheReleaseTime) {
    settings().TracingMode = 1;
    settings().ReleaseTime = 1; // two ticks of 400 ms
    raiseFirstCondition();
    ASSERT_EQ(engine().mode(), Tracing);
    ASSERT_EQ(engine().releaseTicks(), 2u);
    engine().TracingTick();
    engine().TracingTick();
    ASSERT_EQ(engine().stillTicks(), 2u);
    EXPECT_EQ(engine().mode(), Tracing);
    engine().StopCommand(); // still exactly as long as the release time: a plain release
    EXPECT_EQ(engine().event(1).Remark, " Release at " + clockTime() + " ");
    EXPECT_FALSE(fs::exists(evidence("condition001.bmp")));
}

TEST_F(AlarmRules, AResetPastTheReleaseTimeKeepsAConditionBitmap) {
    settings().TracingMode = 1;
    settings().ReleaseTime = 1;
    raiseFirstCondition();
    for (int i = 0; i < 3; ++i)
        engine().TracingTick();
    EXPECT_EQ(engine().mode(), StandBy);
    EXPECT_EQ(engine().event(1).Remark, " Reset at " + clockTime() +
                                            ", Condition is still existing, please refer to " +
                                            evidence("condition001.bmp"));
    EXPECT_EQ(fs::file_size(evidence("condition001.bmp")), 460854u);
}

TEST_F(AlarmRules, StopRuleTwoCountsReleasedTracesToo) {
    settings().TracingMode = 2;
    settings().StopRule = 2;
    settings().ConditionLimit = 1;
    raiseFirstCondition();
    ASSERT_EQ(engine().mode(), Tracing);
    engine().StopCommand();
    EXPECT_EQ(engine().mode(), WatchDog);
    EXPECT_EQ(engine().stopCounter(), 1u);
    EXPECT_TRUE(m_reporter.messages().empty());

    m_source.frames = {m_base, withBlocks(m_base, W, 10, 5, 12, 7, 80)};
    m_source.next = 0;
    runTimers(1000ms);
    ASSERT_EQ(engine().conditionCount(), 2u);
    ASSERT_EQ(engine().mode(), Tracing);
    engine().StopCommand();
    EXPECT_EQ(engine().mode(), StandBy);
    EXPECT_EQ(engine().stopCounter(), 0u);
    EXPECT_EQ(m_reporter.texts(),
              std::vector<std::string>{
                  "Total errors is reached the assigned amount....\nGardivo is stop and reset."});
}

TEST_F(AlarmRules, FromTheTrayOnlyTheEndOfAConditionReachesTheHistoryWindow) {
    settings().WindowStyle = 2;
    settings().TracingMode = 2;
    raiseFirstCondition();
    EXPECT_TRUE(m_sink.messages("WM_APP_NEW_RECORD").empty());
    EXPECT_EQ(m_sink.log.front(), "tray");
    engine().StopCommand();
    EXPECT_EQ(m_sink.messages("WM_APP_NEW_RECORD"),
              std::vector<std::string>{"ControlPanel WM_APP_NEW_RECORD"});
}

TEST_F(AlarmRules, AlarmActionsStartInTheirOrder) {
    settings().ActionFlags = 2 | 4 | 8;
    setFieldText(settings().ProgramFile, "/usr/bin/logger intruder");
    raiseFirstCondition();
    EXPECT_EQ(m_companions.calls,
              (std::vector<std::string>{"program /usr/bin/logger intruder", "email 1", "dial 1"}));
}

TEST_F(AlarmRules, TheHundredAndFirstConditionStartsSlotOneClean) {
    settings().TracingMode = 2;
    settings().ActionFlags = 1;
    raiseFirstCondition();
    engine().StopCommand();
    ASSERT_EQ(engine().event(1).Remark, " Release at " + clockTime() + " ");
    ASSERT_EQ(engine().event(1).VideoPath, evidence("error001.avi"));

    settings().TracingMode = 0;
    settings().StopRule = 1;
    settings().ActionFlags = 0;
    for (int i = 2; i <= 101; ++i)
        engine().RaiseAlarm(DetectionEngine::kConditionAlarmCode);
    EXPECT_EQ(engine().event(1).Description, "Condition101");
    EXPECT_EQ(engine().event(1).Remark, "");
    EXPECT_EQ(engine().event(1).VideoPath, "");
    EXPECT_EQ(engine().event(1).ImagePath, evidence("error101.bmp"));
}

TEST_F(AlarmRules, AClipThatCannotStartIsNamedNowhere) {
    settings().ActionFlags = 1 | 4;
    settings().StopRule = 1;
    m_recorder.refuse = true; // the build of the recording fails
    raiseFirstCondition();
    EXPECT_TRUE(engine().event(1).VideoPath.empty());
    ASSERT_EQ(engine().history().allRecords().size(), 1u);
    EXPECT_EQ(engine().history().allRecords()[0].VideoPath, "");

    m_recorder.refuse = false;
    m_recorder.busy = true; // another clip is still being written
    m_source.frames = {m_base, withBlocks(m_base, W, 10, 5, 12, 7, 80)};
    m_source.next = 0;
    runTimers(1000ms);
    ASSERT_EQ(engine().conditionCount(), 2u);
    EXPECT_TRUE(engine().event(2).VideoPath.empty());
    EXPECT_TRUE(m_recorder.paths.empty());
    EXPECT_EQ(
        m_registry.queryValue(RegistryRoot::CurrentUser, SettingsStore::kKeyPath, "AttachedVideoFileName")
            ->text(),
        "");
}

} // namespace

namespace {

TEST_F(AlarmRules, EveryConditionReleaseResetAndChangeOfModeIsToldOnce) {
    std::vector<std::string> told;
    engine().onEvent = [&](const EngineEvent& e) {
        told.push_back(
            std::string(eventKindName(e.kind)) + " " + e.mode + " " + e.description +
            (e.imagePath.empty() ? "" : " " + e.imagePath.substr(e.imagePath.find_last_of('/') + 1)));
    };
    settings().TracingMode = 2;
    raiseFirstCondition();
    engine().Release();
    // A second Stop changes nothing, and says nothing.
    engine().StopCommand();
    ASSERT_GE(told.size(), 4u);
    EXPECT_EQ(told[0], "mode WatchDog ");
    EXPECT_EQ(told[1], "condition WatchDog Condition001 error001.bmp");
    EXPECT_EQ(told[2], "mode Tracing ");
    EXPECT_EQ(told[3], "release StandBy Condition001 error001.bmp");
    EXPECT_EQ(told.back(), "mode StandBy ");
    EXPECT_EQ(std::count(told.begin(), told.end(), "mode StandBy "), 1);
}

} // namespace
