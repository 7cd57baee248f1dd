// The capture side on real GStreamer pipelines over test sources: the states and transitions,
// grabbing, clips that play back, the time limit, the disk watch, sources that fail or go
// away, sound, and sources.txt lines that are wrong.

#include "CaptureTestKit.h"
#include "PlayedFrames.h"

#include "codec_filter/AviReader.h"
#include "monitor/capture/testsrc/TestPatternScene.h"
#include "monitor/engine/DetectionEngine.h"
#include "monitor/messages/WindowMessages.h"

#include <array>
#include <filesystem>

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr const char* kTwoSources = "Still|videotestsrc is-live=true pattern=smpte\n"
                                    "Other|videotestsrc is-live=true pattern=ball\n";

size_t count(const std::vector<std::string>& texts, const std::string& text) {
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

using Graph = CaptureGraph;

TEST_F(CaptureFixture, PreviewGrabRecordStopAndSwitchFollowTheStateTable) {
    auto& s = session(kTwoSources);
    ASSERT_TRUE(s.OpenCapture());
    Graph* g = s.graph();
    EXPECT_EQ(g->videoNames(), (std::vector<std::string>{"Still", "Other"}));
    EXPECT_EQ(m_store->readCaptureDevices(), (std::vector<std::string>{"Still", "Other"}));
    EXPECT_EQ(g->builtState(), Graph::PreviewBuilt);
    EXPECT_EQ(g->runningState(), Graph::Previewing);
    EXPECT_TRUE(g->isGrabberConnected());

    // The newest frame, in UYVY at the detector's size.
    std::vector<uint8_t> frame;
    ASSERT_TRUE(waitForFrame(frame));
    EXPECT_EQ(frame.size(), 160u * 120 * 2);
    EXPECT_GT(frame[1], 150); // the white bar at the left of the colour bars

    const std::string clip = m_program.file("clip.avi");
    ASSERT_TRUE(s.StartRecording(clip));
    EXPECT_EQ(g->builtState(), Graph::CaptureBuilt);
    EXPECT_EQ(g->runningState(), Graph::Capturing);
    EXPECT_EQ(s.graphState(), FrameSource::kGraphStateBusy);
    EXPECT_TRUE(m_timers.isActive(Graph::kCaptureTimer));
    EXPECT_EQ(m_timers.active[Graph::kCaptureTimer], 200);
    EXPECT_EQ(m_sink.log.back(), "TracingBox WM_APP_CAPTURE_BUSY");
    // A second clip cannot start while one is written; nothing changes.
    EXPECT_FALSE(s.StartRecording(m_program.file("second.avi")));
    EXPECT_EQ(g->runningState(), Graph::Capturing);
    // The grabber goes on giving frames while the clip is written.
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(s.GrabFrame(frame));
    pumpUntil([&] { return g->framesWritten() >= 20; });

    s.StopRecording();
    EXPECT_FALSE(m_timers.isActive(Graph::kCaptureTimer));
    EXPECT_EQ(m_sink.log.back(), "TracingBox WM_APP_CAPTURE_IDLE");
    EXPECT_EQ(g->builtState(), Graph::PreviewBuilt);
    EXPECT_EQ(g->runningState(), Graph::Previewing);
    EXPECT_FALSE(fs::exists(m_program.file("second.avi")));
    ASSERT_GE(g->framesWritten(), 20u);
    EXPECT_EQ(playedFrames(clip), static_cast<int>(g->framesWritten()));
    const auto info = readTrv2StreamInfo(clip);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, 160);
    EXPECT_EQ(info->height, 120);

    // Another source: all is made anew; the settings note the choice.
    ASSERT_TRUE(s.SelectDevice(1));
    EXPECT_EQ(g->selectedVideo(), 1);
    EXPECT_EQ(m_store->settings().CaptureDevice, 1);
    EXPECT_EQ(g->runningState(), Graph::Previewing);
    ASSERT_TRUE(waitForFrame(frame));
    // An index outside the list changes nothing.
    EXPECT_FALSE(s.SelectDevice(5));
    EXPECT_FALSE(s.SelectDevice(-1));
    EXPECT_EQ(g->selectedVideo(), 1);
    EXPECT_EQ(g->runningState(), Graph::Previewing);
    EXPECT_TRUE(m_reporter.messages().empty());
}

TEST_F(CaptureFixture, AnOddWidthIsHandedOutRowForRowWithoutShear) {
    m_width = 161;
    auto& s = session("Bars|videotestsrc is-live=true pattern=smpte\n");
    ASSERT_TRUE(s.OpenCapture());
    std::vector<uint8_t> frame;
    ASSERT_TRUE(waitForFrame(frame));
    ASSERT_EQ(frame.size(), 161u * 120 * 2);
    // The colour bars are the same in every row of their part of the picture; rows taken with
    // the wrong length would slide a little further each row.
    const size_t row = 161 * 2;
    for (size_t y : {10, 40, 70})
        EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + row, frame.begin() + y * row)) << "row " << y;
}

TEST_F(CaptureFixture, AClipOfASourceWithoutARateGetsTheRateItsPicturesCameAt) {
    // An HTTP camera's pictures come one by one with no rate stated: 15 a second here.
    auto& s = session("Camera|videotestsrc is-live=true ! video/x-raw,framerate=15/1 ! jpegenc ! "
                      "multipartmux ! multipartdemux ! jpegdec\n");
    ASSERT_TRUE(s.OpenCapture());
    std::vector<uint8_t> frame;
    ASSERT_TRUE(waitForFrame(frame));
    const std::string clip = m_program.file("rate.avi");
    ASSERT_TRUE(s.StartRecording(clip));
    pumpUntil([&] { return s.graph()->framesWritten() >= 20; });
    s.StopRecording();
    const auto info = readTrv2StreamInfo(clip);
    ASSERT_TRUE(info);
    ASSERT_GT(info->rateDenominator, 0u);
    const double rate = double(info->rateNumerator) / info->rateDenominator;
    EXPECT_NEAR(rate, 15.0, 0.5);
}

TEST_F(CaptureFixture, ATimeLimitEndsTheClipAtTheFirstTickPastIt) {
    m_fakeNow = true;
    m_now_ms = 1000;
    auto& s = session(kTwoSources);
    ASSERT_TRUE(s.OpenCapture());
    m_store->settings().RecordTimeLimit = 3;
    ASSERT_TRUE(s.StartRecording(m_program.file("limit.avi")));
    Graph* g = s.graph();
    EXPECT_EQ(g->lastStatus(), "Captured 0 frames (0 dropped) 0.0sec");
    m_now_ms = 1000 + 2345;
    s.OnTimer(Graph::kCaptureTimer);
    EXPECT_TRUE(g->isCapturing());
    EXPECT_NE(g->lastStatus().find(" dropped) 2.3sec"), std::string::npos) << g->lastStatus();
    m_now_ms = 1000 + 2999;
    s.OnTimer(Graph::kCaptureTimer);
    EXPECT_TRUE(g->isCapturing());
    m_now_ms = 1000 + 3000;
    s.OnTimer(Graph::kCaptureTimer);
    EXPECT_FALSE(g->isCapturing());
    EXPECT_TRUE(g->isPreviewing());
    EXPECT_EQ(g->lastStatus().substr(g->lastStatus().find(" in ")),
              " in 3.0 sec (" + std::to_string(g->framesDropped()) + " dropped)");

    // No limit: only a caller ends the clip.
    m_store->settings().RecordTimeLimit = 0;
    ASSERT_TRUE(s.StartRecording(m_program.file("open.avi")));
    m_now_ms += 100000;
    s.OnTimer(Graph::kCaptureTimer);
    EXPECT_TRUE(g->isCapturing());
    // With automatic tracing under way, the clip runs until the trace ends.
    s.StopRecording();
    m_store->settings().RecordTimeLimit = 2;
    m_store->settings().TracingMode = 1;
    m_store->setMode(Tracing);
    ASSERT_TRUE(s.StartRecording(m_program.file("traced.avi")));
    m_now_ms += 10000;
    s.OnTimer(Graph::kCaptureTimer);
    EXPECT_TRUE(g->isCapturing());
    m_store->setMode(StandBy);
    s.OnTimer(Graph::kCaptureTimer);
    EXPECT_FALSE(g->isCapturing());
}

TEST_F(CaptureFixture, TheDiskWatchDrawsAbove39MiBAndStopsOnceAtIt) {
    useEngine(); // the statistics are drawn over its picture
    const RecordingOverlayCanvas& canvas = m_canvas;
    auto& s = session(kTwoSources);
    ASSERT_TRUE(s.OpenCapture());
    m_freeBytes = 40ll << 20;
    ASSERT_TRUE(s.StartRecording(m_program.file("disk.avi")));
    s.OnTimer(Graph::kCaptureTimer);
    EXPECT_TRUE(s.graph()->isCapturing());
    const auto& calls = canvas.calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2].kind, RecordingOverlayCanvas::Kind::Fill);
    EXPECT_EQ(calls.back().rect, (CanvasRect{0, 100, 160, 120}));
    EXPECT_EQ(calls.back().colour, kBlue);
    EXPECT_EQ(calls.back().size, 12);
    EXPECT_EQ(calls.back().align, TextAlign::Centre);
    EXPECT_EQ(calls.back().text.rfind("Captured ", 0), 0u);

    m_freeBytes = (40ll << 20) - 1; // 39 MiB and some
    s.OnTimer(Graph::kCaptureTimer);
    EXPECT_FALSE(s.graph()->isCapturing());
    EXPECT_TRUE(s.graph()->isPreviewing());
    ASSERT_EQ(count(m_reporter.texts(), "ERROR_DISK_WILL_BE_FULL"), 1u);
    EXPECT_EQ(m_reporter.messages().back().caption, "test");
    s.OnTimer(Graph::kCaptureTimer);
    EXPECT_EQ(count(m_reporter.texts(), "ERROR_DISK_WILL_BE_FULL"), 1u);
}

TEST_F(CaptureFixture, TheRingHoldsThePreRecordTimeOnlyWhileWatchingWithAviClips) {
    auto& settings = m_store->settings();
    settings.ActionFlags = 1;
    settings.RecordFormat = 2;
    EvidenceOptions options;
    options.preRecordSeconds = 1;
    m_store->setEvidenceOptions(options);
    auto& s = session(kTwoSources);
    ASSERT_TRUE(s.OpenCapture());
    Graph& graph = *s.graph();
    EXPECT_FALSE(graph.keepsRecentFrames());
    // Without a screen only the detector's pictures pass; the ring needs them all.
    EXPECT_FALSE(graph.frameGate().isOpen());
    s.keepRecentFrames(true);
    EXPECT_TRUE(graph.keepsRecentFrames());
    EXPECT_TRUE(graph.frameGate().isOpen());
    // After two seconds of a 30-a-second source it holds one second of them, no more.
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    const PrerecordRing& ring = graph.prerecordRing();
    EXPECT_GE(ring.frames(), 20u);
    EXPECT_LE(ring.frames(), 32u);
    EXPECT_LE(ring.heldSpan(), GST_SECOND);
    EXPECT_GE(ring.heldSpan(), GST_SECOND * 2 / 3);
    // A clip takes them first.
    ASSERT_TRUE(s.StartRecording(m_program.file("ring.avi")));
    EXPECT_GE(graph.framesFromBefore(), 20u);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    s.StopRecording();
    EXPECT_GE(playedFrames(m_program.file("ring.avi")), 30);
    // Watching over: the pictures go.
    s.keepRecentFrames(false);
    EXPECT_FALSE(graph.keepsRecentFrames());
    EXPECT_EQ(ring.frames(), 0u);
    EXPECT_FALSE(graph.frameGate().isOpen());
    // MPEG clips, or no clips at all, keep nothing.
    settings.RecordFormat = 1;
    s.keepRecentFrames(true);
    EXPECT_FALSE(graph.keepsRecentFrames());
    settings.RecordFormat = 2;
    settings.ActionFlags = 4;
    s.keepRecentFrames(true);
    EXPECT_FALSE(graph.keepsRecentFrames());
}

TEST_F(CaptureFixture, OlderEvidenceMakesRoomBeforeTheDiskWatchRefusesOrEndsAClip) {
    // The one who keeps the evidence within limits frees 200 MiB when asked, once.
    int asked = 0;
    m_makeRoom = [&] {
        if (asked++ == 0)
            m_freeBytes += 200ll << 20;
    };
    auto& s = session(kTwoSources);
    ASSERT_TRUE(s.OpenCapture());
    m_freeBytes = 10ll << 20;
    EXPECT_TRUE(s.StartRecording(m_program.file("room.avi")));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(count(m_reporter.texts(), "ERROR_DISK_WILL_BE_FULL"), 0u);
    // With nothing more to free, the watch ends the clip as before.
    m_freeBytes = 10ll << 20;
    s.OnTimer(Graph::kCaptureTimer);
    EXPECT_FALSE(s.graph()->isCapturing());
    EXPECT_GE(asked, 2);
    EXPECT_EQ(count(m_reporter.texts(), "ERROR_DISK_WILL_BE_FULL"), 1u);
}

TEST_F(CaptureFixture, AClipThatCannotBeWrittenIsRefusedAndThePictureGoesOn) {
    useEngine();
    auto& s = session(kTwoSources);
    ASSERT_TRUE(s.OpenCapture());
    std::vector<uint8_t> frame;

    // 39 MiB free: refused before it begins, said once; the next tick finds nothing to stop.
    m_freeBytes = 39ll << 20;
    EXPECT_FALSE(s.StartRecording(m_program.file("low.avi")));
    EXPECT_EQ(m_reporter.texts(), std::vector<std::string>{"ERROR_DISK_WILL_BE_FULL"});
    EXPECT_FALSE(s.graph()->isCapturing());
    EXPECT_FALSE(m_timers.isActive(Graph::kCaptureTimer));
    s.OnTimer(Graph::kCaptureTimer);
    EXPECT_TRUE(s.graph()->isPreviewing());
    EXPECT_FALSE(fs::exists(m_program.file("low.avi")));
    EXPECT_TRUE(waitForFrame(frame));

    // A file that cannot be made: refused, so that no history row or mail names it.
    m_freeBytes = int64_t(1) << 40;
    m_reporter.clear();
    EXPECT_FALSE(s.StartRecording(m_program.file("no-such-folder/clip.avi")));
    EXPECT_EQ(m_reporter.texts(), std::vector<std::string>{"Operation failed!"});
    EXPECT_FALSE(s.graph()->isCapturing());
    EXPECT_TRUE(s.graph()->isPreviewing());
    EXPECT_TRUE(waitForFrame(frame));
    // A clip stopped before its first picture leaves no file behind.
    m_reporter.clear();
    m_session.reset();
    auto& silent = session("Silent|appsrc is-live=true format=time "
                           "caps=video/x-raw,format=UYVY,width=160,height=120,framerate=30/1\n");
    ASSERT_TRUE(silent.OpenCapture());
    ASSERT_TRUE(silent.StartRecording(m_program.file("nothing.avi")));
    silent.StopRecording();
    EXPECT_FALSE(fs::exists(m_program.file("nothing.avi")));
    m_session.reset();
    auto& again = session(kTwoSources);
    ASSERT_TRUE(again.OpenCapture());
    ASSERT_TRUE(waitForFrame(frame));
    // And the next clip is written.
    const std::string clip = m_program.file("after.avi");
    ASSERT_TRUE(again.StartRecording(clip));
    pumpUntil([&] { return again.graph()->framesWritten() >= 5; });
    again.StopRecording();
    EXPECT_GE(playedFrames(clip), 5);
}

TEST_F(CaptureFixture, AFullDiskEndsTheClipAndIsSaid) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    auto& s = session(kTwoSources);
    ASSERT_TRUE(s.OpenCapture());
    // Every write to /dev/full fails with ENOSPC, as on a disk that is full.
    ASSERT_TRUE(s.StartRecording("/dev/full"));
    ASSERT_TRUE(pumpUntil([&] { return !s.graph()->isCapturing(); }));
    EXPECT_EQ(m_reporter.texts(), std::vector<std::string>{"Disk is gonna be full!"});
    EXPECT_TRUE(s.graph()->isPreviewing());
    EXPECT_EQ(m_sink.log.back(), "TracingBox WM_APP_CAPTURE_IDLE");
    EXPECT_TRUE(fs::exists("/dev/full")); // a device is never removed as a failed clip
    std::vector<uint8_t> frame;
    EXPECT_TRUE(waitForFrame(frame));
}

TEST_F(CaptureFixture, ARemovedCameraIsSaidAndTheNextOneTakesOver) {
    std::vector<CaptureSource> cameras;
    for (const char* name : {"Cam A", "Cam B"}) {
        CaptureSource c;
        c.kind = CaptureSource::Kind::Configured; // stands in for a camera: a node and a pipeline
        c.name = name;
        c.description =
            std::string("videotestsrc is-live=true pattern=") + (name[4] == 'A' ? "snow" : "ball");
        c.devicePath = std::string("/dev/video7") + name[4];
        cameras.push_back(c);
    }
    auto& s = session("");
    s.catalog().setDeviceProvider([&](const char* deviceClass) {
        return std::string(deviceClass) == "Video/Source" ? cameras : std::vector<CaptureSource>{};
    });
    ASSERT_TRUE(s.OpenCapture());
    ASSERT_EQ(s.graph()->videoSource()->name, "Cam A");
    std::vector<uint8_t> frame;
    ASSERT_TRUE(waitForFrame(frame));
    const std::string clip = m_program.file("cut.avi");
    ASSERT_TRUE(s.StartRecording(clip));
    pumpUntil([&] { return s.graph()->framesWritten() >= 5; });

    // Cam A is unplugged while its clip is written.
    const std::string removed = "v4l2:/dev/video7A";
    cameras.erase(cameras.begin());
    s.OnDeviceChange(false, removed);
    EXPECT_EQ(count(m_reporter.texts(), "The capture device has just been removed!"), 1u);
    EXPECT_GT(playedFrames(clip), 0); // the clip was finished
    ASSERT_NE(s.graph()->videoSource(), nullptr);
    EXPECT_EQ(s.graph()->videoSource()->name, "Cam B");
    EXPECT_EQ(s.graph()->videoNames(), std::vector<std::string>{"Cam B"});
    EXPECT_TRUE(s.graph()->isPreviewing());
    EXPECT_EQ(m_sink.log.back(), "TfrmSetup WM_APP_SELECT_DEVICE");
    ASSERT_TRUE(waitForFrame(frame));

    // A camera that comes does not disturb the one in use.
    CaptureSource c = cameras[0];
    c.name = "Cam C";
    c.devicePath = "/dev/video7C";
    cameras.insert(cameras.begin(), c);
    s.OnDeviceChange(true, "v4l2:/dev/video7C");
    EXPECT_EQ(s.graph()->videoSource()->name, "Cam B");
    EXPECT_EQ(s.graph()->selectedVideo(), 1);
    EXPECT_EQ(m_store->settings().CaptureDevice, 1);
    EXPECT_TRUE(s.graph()->isPreviewing());

    // Cam C goes, which nobody watches; then Cam B, the only one left: said, and there is no
    // next one to take over (the list of one is not read past its end).
    cameras.erase(cameras.begin());
    s.OnDeviceChange(false, "v4l2:/dev/video7C");
    EXPECT_EQ(s.graph()->videoSource()->name, "Cam B");
    EXPECT_EQ(count(m_reporter.texts(), "The capture device has just been removed!"), 1u);
    cameras.clear();
    s.OnDeviceChange(false, "v4l2:/dev/video7B");
    EXPECT_EQ(count(m_reporter.texts(), "The capture device has just been removed!"), 2u);
    EXPECT_EQ(s.graph()->videoSource(), nullptr);
    EXPECT_FALSE(s.graph()->isPreviewing());
    EXPECT_FALSE(s.GrabFrame(frame));
}

TEST_F(CaptureFixture, AClipThatStopsWhileTracingLetsTheTraceGoOn) {
    DetectionEngine& engine = useEngine();
    auto& s = session(kTwoSources);
    ASSERT_TRUE(s.OpenCapture());
    m_store->settings().TracingMode = 1;
    m_store->setMode(Tracing);
    engine.pauseTracingEvent().set();
    // The clip takes the picture for a moment: the trace waits, and goes on when it is back.
    ASSERT_TRUE(s.StartRecording(m_program.file("traced.avi")));
    EXPECT_TRUE(engine.pauseTracingEvent().isSet());
    s.StopRecording();
    EXPECT_TRUE(engine.pauseTracingEvent().isSet());
    // A source switched during the trace: the same.
    ASSERT_TRUE(s.SelectDevice(1));
    EXPECT_TRUE(engine.pauseTracingEvent().isSet());
    m_store->setMode(StandBy);
}

TEST_F(CaptureFixture, ASourceWhosePicturesNothingCanDecodeIsSaidOnceAndNothingIsGrabbed) {
    std::vector<std::string> logged;
    m_captureReporter.log = [&](const std::string& line) { logged.push_back(line); };
    // Compressed pictures are decoded on the way; raw Bayer has no decoder.
    auto& s = session("Bayer|videotestsrc is-live=true ! capsfilter caps=video/x-bayer,format=bggr,width=160,"
                      "height=120\n");
    s.OpenCapture();
    const std::string said = "The video source \"Bayer\" gives no picture: ";
    const auto saidCount = [&] {
        const auto texts = m_reporter.texts();
        return std::count_if(texts.begin(), texts.end(),
                             [&](const std::string& t) { return t.rfind(said, 0) == 0; });
    };
    ASSERT_TRUE(pumpUntil([&] { return saidCount() > 0; })) << ::testing::PrintToString(m_reporter.texts());
    std::vector<uint8_t> frame;
    EXPECT_FALSE(s.GrabFrame(frame));
    // Tried again, it fails again, and is not said again.
    s.OnTimer(Graph::kReconnectTimer);
    pumpUntil([] { return false; }, 500ms);
    EXPECT_EQ(saidCount(), 1);
    EXPECT_EQ(m_reporter.messages().size(), 1u) << ::testing::PrintToString(m_reporter.texts());
    EXPECT_EQ(m_reporter.messages()[0].icon, MessageIcon::Warning);
}

TEST_F(CaptureFixture, CompressedPicturesOfALineAreDecodedAndGrabbed) {
    auto& s = session("Jpeg|videotestsrc is-live=true pattern=smpte ! jpegenc\n");
    ASSERT_TRUE(s.OpenCapture());
    std::vector<uint8_t> frame;
    ASSERT_TRUE(waitForFrame(frame));
    EXPECT_EQ(frame.size(), 160u * 120 * 2);
    EXPECT_GT(frame[1], 150); // the white bar at the left of the colour bars
    EXPECT_TRUE(m_reporter.messages().empty()) << ::testing::PrintToString(m_reporter.texts());
}

TEST(CaptureReporterLog, TheStepAndTheReasonGoToTheLogNotToTheBox) {
    RecordingReporter boxes;
    CaptureReporter reporter(boxes);
    std::vector<std::string> logged;
    reporter.log = [&](const std::string& line) { logged.push_back(line); };
    reporter.report("Run", CaptureReporter::Failure::Failed, "Device '/dev/video0' is busy");
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Operation failed!"});
    EXPECT_EQ(logged, std::vector<std::string>{"gardivo: Run failed: Device '/dev/video0' is busy"});
}

TEST_F(CaptureFixture, WrongLinesOfSourcesTxtAreSaidOnceAndLeftOut) {
    auto& s = session("# a comment\n"
                      "no bar on this line\n"
                      "|videotestsrc\n"
                      "Broken|nosuchelement\n"
                      "Good|videotestsrc is-live=true\n");
    ASSERT_TRUE(s.OpenCapture());
    EXPECT_EQ(s.graph()->videoNames(), std::vector<std::string>{"Good"});
    const auto texts = m_reporter.texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_NE(texts[0].find("line 2 is not \"name|pipeline or URI\""), std::string::npos) << texts[0];
    EXPECT_NE(texts[1].find("line 3"), std::string::npos) << texts[1];
    EXPECT_NE(texts[2].find("Broken"), std::string::npos) << texts[2];
    s.graph()->Reenumerate();
    EXPECT_EQ(m_reporter.messages().size(), 3u);
    EXPECT_TRUE(s.graph()->isPreviewing());

    // No source at all.
    CaptureFixture::m_session.reset();
    m_reporter.clear();
    auto& none = session("# nothing\n");
    EXPECT_FALSE(none.OpenCapture());
    EXPECT_EQ(m_reporter.texts(), std::vector<std::string>{"There's no capture driver!"});
    std::vector<uint8_t> frame;
    EXPECT_FALSE(none.GrabFrame(frame));
}

TEST_F(CaptureFixture, ASourceThatFallsSilentOrEndsIsStartedAgain) {
    // A source that gives nothing at all: the grabber never blocks, the source is retried.
    m_stallTime = 300ms;
    auto& silent = session("Silent|appsrc is-live=true format=time "
                           "caps=video/x-raw,format=UYVY,width=160,height=120,framerate=30/1\n");
    ASSERT_TRUE(silent.OpenCapture());
    std::vector<uint8_t> frame;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(silent.GrabFrame(frame));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_TRUE(m_timers.isActive(Graph::kSourceWatchTimer));
    // The watch fires every second; a while without a picture and the source is retried.
    for (int i = 0; i < 10 && !m_timers.isActive(Graph::kReconnectTimer); ++i) {
        std::this_thread::sleep_for(100ms);
        silent.OnTimer(Graph::kSourceWatchTimer);
    }
    EXPECT_TRUE(m_timers.isActive(Graph::kReconnectTimer));
    EXPECT_TRUE(silent.graph()->isReconnecting());
    EXPECT_EQ(m_reporter.texts(),
              std::vector<std::string>{"The video source \"Silent\" gives no picture: no "
                                       "picture came for 0 s. Gardivo tries again by itself."});
    // Tried again and again, the user is not told again.
    for (int i = 0; i < 3; ++i) {
        silent.OnTimer(Graph::kReconnectTimer);
        std::this_thread::sleep_for(350ms);
        silent.OnTimer(Graph::kSourceWatchTimer);
    }
    EXPECT_EQ(m_reporter.messages().size(), 1u);
    m_reporter.clear();

    // A source that ends (a video file): started again once the retry falls due, without a word.
    m_session.reset();
    auto& ends = session("Short|videotestsrc is-live=true num-buffers=15\n");
    ASSERT_TRUE(ends.OpenCapture());
    ASSERT_TRUE(pumpUntil([&] { return m_timers.isActive(Graph::kReconnectTimer); }));
    ends.OnTimer(Graph::kReconnectTimer);
    EXPECT_FALSE(ends.graph()->isReconnecting());
    EXPECT_TRUE(ends.graph()->isPreviewing());
    EXPECT_TRUE(waitForFrame(frame));
    EXPECT_TRUE(m_reporter.messages().empty());
}

TEST_F(CaptureFixture, MpegIsRefusedWithoutItsEncodersAndThePreviewGoesOn) {
    if (gst_element_factory_find("avenc_mpeg1video") || gst_element_factory_find("mpeg2enc"))
        GTEST_SKIP() << "an MPEG encoder is installed";
    auto& s = session(kTwoSources);
    ASSERT_TRUE(s.OpenCapture());
    m_store->settings().RecordFormat = 0;
    EXPECT_FALSE(s.StartRecording(m_program.file("clip.mpg")));
    EXPECT_EQ(m_reporter.texts(), std::vector<std::string>{"Operation failed!"});
    EXPECT_EQ(m_captureReporter.lastLabel(), "AddFilter:MPEG Encoder");
    EXPECT_TRUE(s.graph()->isPreviewing());
    EXPECT_EQ(s.graph()->builtState(), Graph::PreviewBuilt);
    std::vector<uint8_t> frame;
    EXPECT_TRUE(waitForFrame(frame));
}

// Leaves out of this process's registry the elements of one MPEG tool set, as on a machine that
// has only the other.
void forgetFactories(std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (GstPluginFeature* f = gst_registry_lookup_feature(gst_registry_get(), name)) {
            gst_registry_remove_feature(gst_registry_get(), f);
            gst_object_unref(f);
        }
}

TEST_F(CaptureFixture, MpegIsRecordedWhenItsEncodersAreInstalled) {
    const bool mjpegtools = gst_element_factory_find("mpeg2enc") && gst_element_factory_find("mpegpsmux");
    const bool libav = gst_element_factory_find("avenc_mpeg2video") && gst_element_factory_find("avmux_dvd");
    if (!mjpegtools && !libav)
        GTEST_SKIP() << "neither mjpegtools' nor libav's MPEG encoder is installed";
    // Whichever is there; then, when both are, libav's alone (the encoder mjpegtools' is preferred
    // to), so that the path machines without mjpegtools take is recorded too.
    for (int round = 0; round < 2; ++round) {
        if (round == 1) {
            if (!mjpegtools || !libav)
                break;
            forgetFactories({"mpeg2enc", "mpegpsmux"});
        }
        SCOPED_TRACE(round == 0 ? "as installed" : "libav only");
        m_session.reset();
        auto& s = session(kTwoSources);
        ASSERT_TRUE(s.OpenCapture());
        m_store->settings().RecordFormat = 1;
        const std::string clip = m_program.file("clip" + std::to_string(round) + ".mpg");
        if (round == 1 && !s.StartRecording(clip)) {
            // Some libav releases refuse every frame rate: refused as if not installed, and the
            // picture goes on.
            EXPECT_EQ(m_captureReporter.lastLabel(), "AddFilter:MPEG Encoder");
            EXPECT_TRUE(s.graph()->isPreviewing());
            std::vector<uint8_t> frame;
            EXPECT_TRUE(waitForFrame(frame));
            continue;
        }
        ASSERT_TRUE(round == 1 || s.StartRecording(clip));
        pumpUntil([&] { return s.graph()->framesWritten() >= 15; });
        s.StopRecording();
        EXPECT_TRUE(m_reporter.messages().empty()) << ::testing::PrintToString(m_reporter.texts());
        // A program stream: it starts with a pack header.
        const auto bytes = readBytes(clip);
        ASSERT_GT(bytes.size(), 1000u);
        EXPECT_EQ((std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4)),
                  (std::vector<uint8_t>{0, 0, 1, 0xBA}));
    }
}

TEST_F(CaptureFixture, AClipThatFailsNeverStopsTheWatching) {
    if (!gst_element_factory_find("avenc_mpeg2video") && !gst_element_factory_find("mpeg2enc"))
        GTEST_SKIP() << "no MPEG encoder is installed";
    // MPEG knows a handful of frame rates; seven a second is not one of them, so the encoder
    // refuses the clip's format while the grabber takes the pictures well.
    auto& s = session("Slow|videotestsrc is-live=true ! capsfilter caps=video/x-raw,framerate=7/1\n");
    ASSERT_TRUE(s.OpenCapture());
    std::vector<uint8_t> frame;
    ASSERT_TRUE(waitForFrame(frame));
    m_store->settings().RecordFormat = 1;
    s.StartRecording(m_program.file("refused.mpg"));
    ASSERT_TRUE(pumpUntil([&] { return !s.graph()->isCapturing(); }));
    // The pictures come back by themselves; no word of UYVY, and the grabber stays connected.
    pumpUntil([&] { return m_timers.isActive(Graph::kReconnectTimer); }, 2s);
    if (m_timers.isActive(Graph::kReconnectTimer))
        s.OnTimer(Graph::kReconnectTimer);
    const uint64_t before = s.graph()->picturesSeen();
    EXPECT_TRUE(pumpUntil([&] { return s.graph()->picturesSeen() > before + 3; }));
    EXPECT_TRUE(s.isGrabberConnected());
    EXPECT_EQ(count(m_reporter.texts(), CaptureReporter::kUyvyText), 0u)
        << ::testing::PrintToString(m_reporter.texts());
    EXPECT_TRUE(waitForFrame(frame));
}

TEST_F(CaptureFixture, TheSnapshotIsABitmapOfThePicture) {
    std::filesystem::create_symlink(GARDIVO_PROGRAM_DIR "/libdeinterlace.so",
                                    m_program.file("libdeinterlace.so"));
    auto& s = session("Pattern|gardivotestsrc\n");
    ASSERT_TRUE(s.OpenCapture());
    std::vector<uint8_t> frame;
    ASSERT_TRUE(waitForFrame(frame));
    const std::string path = m_program.file("manual001.bmp");
    ASSERT_TRUE(s.Snapshot(path));
    const auto bmp = readBytes(path);
    ASSERT_EQ(bmp.size(), 54u + 160 * 3 * 120);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[18], 160);
    EXPECT_EQ(bmp[22], 120);
    // The room the right way up: the sky-blue window top right, the brown floor at the bottom.
    // Rows are stored bottom-up, each pixel blue, green, red.
    const auto pixel = [&](int x, int y) {
        const size_t at = 54 + static_cast<size_t>(119 - y) * 160 * 3 + static_cast<size_t>(x) * 3;
        return std::array<int, 3>{bmp[at + 2], bmp[at + 1], bmp[at]}; // red, green, blue
    };
    const auto window = pixel(110, 30);
    EXPECT_GT(window[2], 200);
    EXPECT_GT(window[2], window[0]);
    const auto floor = pixel(80, 110);
    EXPECT_GT(floor[0], floor[2]);
    EXPECT_LT(floor[0], 160);
}

TEST(TestPattern, EachWalkIsOneMotionMessage) {
    loadOurPlugins();
    // A slow walk: the figure keeps its place for several pictures on its way in and out.
    GError* error = nullptr;
    GstElement* pipeline =
        gst_parse_launch("gardivotestsrc num-buffers=150 still-seconds=0.5 "
                         "move-seconds=1.5 rest-seconds=0.5 ! video/x-raw,width=64,height=48,"
                         "framerate=30/1 ! fakesink sync=false",
                         &error);
    ASSERT_TRUE(pipeline && !error);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    int walks = 0;
    for (;;) {
        GstMessage* m = gst_bus_timed_pop_filtered(
            bus, 10 * GST_SECOND,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_ELEMENT));
        if (!m)
            break;
        const bool end = GST_MESSAGE_TYPE(m) != GST_MESSAGE_ELEMENT;
        if (!end && gst_structure_has_name(gst_message_get_structure(m), "gardivo-motion"))
            ++walks;
        gst_message_unref(m);
        if (end)
            break;
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    // Five seconds: in at 0.5 s, out at 2.5 s, in again at 4.5 s.
    EXPECT_EQ(walks, 3);
}

TEST(TestPattern, TheFigureWalksInStandsAndWalksOut) {
    TestPatternScene scene(640, 480, {2.0, 1.0, 3.0, true});
    EXPECT_FALSE(scene.figureLeft(1.9));
    EXPECT_LT(*scene.figureLeft(2.01), 0); // coming in at the left edge
    EXPECT_TRUE(scene.moving(2.5));
    EXPECT_FALSE(scene.moving(2.0 - 0.01));
    EXPECT_TRUE(scene.moving(2.0 + 0.01)); // the first picture with the figure is a moving one
    EXPECT_EQ(scene.figureLeft(3.5), (640 - 80) / 2);
    EXPECT_FALSE(scene.moving(4.0));
    EXPECT_TRUE(scene.moving(6.5));
    EXPECT_FALSE(scene.figureLeft(7.5));
    EXPECT_DOUBLE_EQ(scene.nextMotion(0.5), 2.0);
    EXPECT_DOUBLE_EQ(scene.nextMotion(2.5), 6.0);
    EXPECT_DOUBLE_EQ(scene.nextMotion(7.5), 9.0);
    // Frames of a still room differ only by noise below every detector threshold.
    std::vector<uint8_t> a(640 * 480 * 2), b(a.size());
    scene.render(0.0, 0, a.data());
    scene.render(0.5, 1, b.data());
    int largest = 0;
    for (size_t i = 1; i < a.size(); i += 2)
        largest = std::max(largest, std::abs(a[i] - b[i]));
    EXPECT_GT(largest, 0);
    EXPECT_LE(largest, 7);
}

} // namespace

// A sound device of the tests' own: a live test tone, or one that gives no element at all.
struct TestSoundDevice {
    GstDevice parent;
    gboolean broken;
};
struct TestSoundDeviceClass {
    GstDeviceClass parent_class;
};
G_DEFINE_TYPE(TestSoundDevice, test_sound_device, GST_TYPE_DEVICE)

static GstElement* test_sound_device_create_element(GstDevice* device, const gchar* name) {
    if (reinterpret_cast<TestSoundDevice*>(device)->broken)
        return nullptr;
    GstElement* tone = gst_element_factory_make("audiotestsrc", name);
    g_object_set(tone, "is-live", TRUE, "samplesperbuffer", 441, nullptr);
    return tone;
}
static void test_sound_device_class_init(TestSoundDeviceClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = test_sound_device_create_element;
}
static void test_sound_device_init(TestSoundDevice* self) {
    self->broken = FALSE;
}

namespace {

CaptureSource soundSource(bool broken) {
    auto* device = static_cast<TestSoundDevice*>(g_object_new(test_sound_device_get_type(), "display-name",
                                                              "Test microphone", "device-class",
                                                              "Audio/Source", nullptr));
    device->broken = broken;
    gst_object_ref_sink(device);
    CaptureSource s;
    s.kind = CaptureSource::Kind::Device;
    s.name = "Test microphone";
    s.device = std::shared_ptr<GstDevice>(GST_DEVICE(device), [](GstDevice* d) { gst_object_unref(d); });
    return s;
}

TEST_F(CaptureFixture, SoundGoesIntoTheClipOrTheUserIsAsked) {
    bool broken = false;
    auto& s = session(kTwoSources);
    s.catalog().setDeviceProvider([&](const char* deviceClass) {
        return std::string(deviceClass) == "Audio/Source" ? std::vector<CaptureSource>{soundSource(broken)}
                                                          : std::vector<CaptureSource>{};
    });
    ASSERT_TRUE(s.OpenCapture());
    ASSERT_TRUE(s.graph()->audioAvailable());
    m_store->settings().RecordAudio = 1;
    const std::string withSound = m_program.file("sound.avi");
    ASSERT_TRUE(s.StartRecording(withSound));
    EXPECT_TRUE(s.graph()->recordAudio());

    pumpUntil([&] { return s.graph()->framesWritten() >= 15; });
    s.StopRecording();
    // The headers, with room for the index of each stream.
    const std::string head = readText(withSound).substr(0, 16384);
    EXPECT_NE(head.find("auds"), std::string::npos);
    EXPECT_EQ(playedFrames(withSound), static_cast<int>(s.graph()->framesWritten()));

    // A sound device that cannot be opened: the user decides.
    broken = true;
    s.graph()->Reenumerate();
    m_reporter.queueAnswer(MessageAnswer::No);
    EXPECT_FALSE(s.StartRecording(m_program.file("refused.avi")));
    ASSERT_EQ(m_reporter.messages().size(), 1u);
    EXPECT_EQ(m_reporter.messages()[0].text, "CAPTURE_AUDIO_ERROR");
    EXPECT_EQ(m_reporter.messages()[0].caption, "Tavrin Recordo");
    EXPECT_EQ(m_reporter.messages()[0].buttons, MessageButtons::YesNo);
    EXPECT_TRUE(s.graph()->isPreviewing());
    EXPECT_FALSE(fs::exists(m_program.file("refused.avi")));
    m_reporter.queueAnswer(MessageAnswer::Yes);
    const std::string silent = m_program.file("silent.avi");
    ASSERT_TRUE(s.StartRecording(silent));
    pumpUntil([&] { return s.graph()->framesWritten() >= 10; });
    s.StopRecording();
    EXPECT_EQ(readText(silent).substr(0, 16384).find("auds"), std::string::npos);
    EXPECT_GT(playedFrames(silent), 0);

    // With no sound device, sound is not asked for and the clip holds pictures only.
    m_session.reset();
    m_reporter.clear();
    auto& quiet = session(kTwoSources);
    quiet.catalog().setDeviceProvider([](const char*) { return std::vector<CaptureSource>{}; });
    ASSERT_TRUE(quiet.OpenCapture());
    ASSERT_TRUE(quiet.StartRecording(m_program.file("video-only.avi")));
    EXPECT_FALSE(quiet.graph()->recordAudio());
    quiet.StopRecording();
    EXPECT_TRUE(m_reporter.messages().empty());
}

} // namespace
