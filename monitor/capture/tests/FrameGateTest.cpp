// Which pictures are decoded and converted: the gate's pace, and the gate on real pipelines.

#include "CaptureTestKit.h"

#include "PlayedFrames.h"
#include "monitor/capture/FrameGate.h"

#include <gtest/gtest.h>

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

TEST(FrameGate, PassesThePicturesBeforeEachLookAndOneASecond) {
    FrameGate gate;
    gate.setOpen(false);
    const Clock::time_point t0 = Clock::time_point() + 100s;
    // No pace known: everything passes.
    EXPECT_TRUE(gate.pass(t0));
    gate.looked(t0);
    EXPECT_TRUE(gate.pass(t0 + 33ms));
    gate.looked(t0 + 500ms); // the pace is 500 ms: the next look is expected at 1000 ms
    int passed = 0;
    for (auto t = 500ms + 33ms; t < 1000ms; t += 33ms)
        passed += gate.pass(t0 + t) ? 1 : 0;
    // Only those within the lead before the look, about three of a 30 a second camera.
    EXPECT_GE(passed, 2);
    EXPECT_LE(passed, 3);
    EXPECT_FALSE(gate.pass(t0 + 600ms));
    EXPECT_TRUE(gate.pass(t0 + 950ms));
    // A look that does not come: the window stays open a pace more, then one a second passes.
    EXPECT_TRUE(gate.pass(t0 + 1400ms));
    EXPECT_FALSE(gate.pass(t0 + 2000ms));
    EXPECT_TRUE(gate.pass(t0 + 2400ms + 1ms));
    // Open (a clip, a screen): everything.
    gate.setOpen(true);
    EXPECT_TRUE(gate.pass(t0 + 2410ms));
    // Looks far apart are no pace: everything passes until the pace is known again.
    gate.setOpen(false);
    gate.looked(t0 + 60s);
    EXPECT_TRUE(gate.pass(t0 + 60s + 100ms));
    EXPECT_TRUE(gate.pass(t0 + 60s + 133ms));
}

// Pictures that leave the source's bin, counted.
struct Counted {
    std::atomic<int> pictures{0};
    static GstPadProbeReturn count(GstPad*, GstPadProbeInfo*, gpointer data) {
        ++static_cast<Counted*>(data)->pictures;
        return GST_PAD_PROBE_OK;
    }
};

class GatedSource : public CaptureFixture {
protected:
    // Looks at a picture twice a second for three seconds, as the detector does, and counts
    // the pictures the source's bin let out meanwhile.
    int picturesWhileLooking(const std::string& line) {
        auto& s = session("Camera|" + line + "\n");
        EXPECT_TRUE(s.OpenCapture());
        std::vector<uint8_t> frame;
        EXPECT_TRUE(waitForFrame(frame));
        GstElement* tee = gst_bin_get_by_name(GST_BIN(s.graph()->pipeline()), "source-tee");
        GstPad* sink = gst_element_get_static_pad(tee, "sink");
        Counted counted;
        const gulong probe =
            gst_pad_add_probe(sink, GST_PAD_PROBE_TYPE_BUFFER, Counted::count, &counted, nullptr);
        for (int i = 0; i < 6; ++i) {
            s.GrabFrame(frame);
            pumpUntil([] { return false; }, 500ms);
        }
        gst_pad_remove_probe(sink, probe);
        gst_object_unref(sink);
        gst_object_unref(tee);
        return counted.pictures;
    }
};

TEST_F(GatedSource, JpegPicturesNobodyLooksAtAreNotDecodedButOtherVideoIsWhole) {
    // An MJPEG camera at 30 a second: only those before each look, and one a second, are decoded.
    const int jpeg =
        picturesWhileLooking("videotestsrc is-live=true ! video/x-raw,framerate=30/1 ! jpegenc ! "
                             "multipartmux ! multipartdemux ! jpegdec");
    EXPECT_GT(jpeg, 6);
    EXPECT_LT(jpeg, 40);
    // Compressed video that is not JPEG depends on the pictures before it: all of it is decoded,
    // also when a decodebin does it.
    const int h264 = picturesWhileLooking("videotestsrc is-live=true ! video/x-raw,framerate=30/1 ! "
                                          "x264enc tune=zerolatency speed-preset=ultrafast ! decodebin");
    EXPECT_GT(h264, 80);
}

TEST_F(GatedSource, AClipAndAScreenGetEveryPicture) {
    auto& s = session("Camera|videotestsrc is-live=true ! video/x-raw,framerate=30/1 ! jpegenc ! jpegdec\n");
    ASSERT_TRUE(s.OpenCapture());
    EXPECT_FALSE(s.graph()->frameGate().isOpen());
    std::vector<uint8_t> frame;
    ASSERT_TRUE(waitForFrame(frame));
    const std::string clip = m_program.file("all.avi");
    ASSERT_TRUE(s.StartRecording(clip));
    EXPECT_TRUE(s.graph()->frameGate().isOpen());
    // Two looks half a second apart would close the gate if it were not open for the clip.
    s.GrabFrame(frame);
    pumpUntil([] { return false; }, 500ms);
    s.GrabFrame(frame);
    pumpUntil([] { return false; }, 1000ms);
    s.StopRecording();
    EXPECT_FALSE(s.graph()->frameGate().isOpen());
    // About 45 pictures in a second and a half, not the handful the detector needs.
    EXPECT_GT(playedFrames(clip), 30);
}

} // namespace
